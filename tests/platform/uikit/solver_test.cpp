// The constraint solver on its own: required rows hold, optional rows are
// traded by weight, and incremental changes give the same answers as a
// fresh solve.
#include <gtest/gtest.h>

#include "uikit/LayoutSolver.h"

namespace uikit::layout {
namespace {

using Op = LayoutSolver::Op;

LayoutSolver::Constraint row(std::vector<LayoutSolver::Term> terms, double constant, Op op,
                             double weight = 0) {
  LayoutSolver::Constraint c;
  c.terms = std::move(terms);
  c.constant = constant;
  c.op = op;
  c.required = weight == 0;
  c.weight = weight;
  return c;
}

TEST(LayoutSolverTest, RequiredEqualitiesAndInequalitiesHold) {
  LayoutSolver s;
  auto x = s.newVariable(), y = s.newVariable(), z = s.newVariable();
  s.add(row({{x, 1}}, -10, Op::equal));                  // x = 10
  s.add(row({{y, 1}, {x, -1}}, -5, Op::equal));          // y = x + 5
  s.add(row({{z, 1}, {y, -2}}, 0, Op::greaterOrEqual));  // z >= 2y
  s.add(row({{z, 1}}, -100, Op::lessOrEqual));           // z <= 100
  s.add(row({{z, 1}}, 0, Op::equal, 1));                 // wish: z = 0
  EXPECT_DOUBLE_EQ(s.value(x), 10);
  EXPECT_DOUBLE_EQ(s.value(y), 15);
  EXPECT_DOUBLE_EQ(s.value(z), 30);  // as close to 0 as z >= 2y allows
}

TEST(LayoutSolverTest, HeavierWishesWinAndRemovalRestoresTheOthers) {
  LayoutSolver s;
  auto w = s.newVariable();
  s.add(row({{w, 1}}, -100, Op::equal, 1));
  auto strong = s.add(row({{w, 1}}, -300, Op::equal, 1000));
  s.add(row({{w, 1}}, -200, Op::equal, 10));
  EXPECT_NEAR(s.value(w), 300, 1e-9);
  s.remove(strong);
  EXPECT_NEAR(s.value(w), 200, 1e-9);
  s.remove(strong);  // twice: nothing happens
  EXPECT_NEAR(s.value(w), 200, 1e-9);
}

TEST(LayoutSolverTest, UnsatisfiableRequiredRowThrowsAndLeavesTheSolution) {
  LayoutSolver s;
  auto a = s.newVariable(), b = s.newVariable();
  s.add(row({{a, 1}}, -10, Op::equal));
  s.add(row({{b, 1}, {a, -1}}, 0, Op::greaterOrEqual));  // b >= a
  EXPECT_THROW(s.add(row({{b, 1}}, -5, Op::equal)), LayoutSolver::Unsatisfiable);
  EXPECT_THROW(s.add(row({{a, 1}}, -11, Op::equal)), LayoutSolver::Unsatisfiable);
  EXPECT_DOUBLE_EQ(s.value(a), 10);
  EXPECT_GE(s.value(b), 10);
  // Still usable afterwards.
  s.add(row({{b, 1}}, -12, Op::equal));
  EXPECT_DOUBLE_EQ(s.value(b), 12);
}

TEST(LayoutSolverTest, LongChainsSolveLikeTheirClosedForm) {
  // n boxes in a row, each at least 10 wide and wishing to be 30, gaps of 5,
  // all inside 0...400: 400 = n*w + (n-1)*5 with equal widths.
  LayoutSolver s;
  const int n = 40;
  std::vector<int> left, width;
  for (int i = 0; i < n; ++i) {
    left.push_back(s.newVariable());
    width.push_back(s.newVariable());
  }
  s.add(row({{left[0], 1}}, 0, Op::equal));
  for (int i = 1; i < n; ++i) {
    s.add(row({{left[i], 1}, {left[i - 1], -1}, {width[i - 1], -1}}, -5, Op::equal));
    s.add(row({{width[i], 1}, {width[0], -1}}, 0, Op::equal));
  }
  s.add(row({{left[n - 1], 1}, {width[n - 1], 1}}, -1000, Op::lessOrEqual));
  for (int i = 0; i < n; ++i) {
    s.add(row({{width[i], 1}}, -10, Op::greaterOrEqual));
    s.add(row({{width[i], 1}}, -30, Op::equal, 1));
  }
  double w = (1000.0 - (n - 1) * 5) / n;  // 20.125: the 30 wish cannot be met
  EXPECT_NEAR(s.value(width[n - 1]), w, 1e-6);
  EXPECT_NEAR(s.value(left[n - 1]), (n - 1) * (w + 5), 1e-6);
}

}  // namespace
}  // namespace uikit::layout
