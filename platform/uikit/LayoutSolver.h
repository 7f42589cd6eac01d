// An incremental simplex solver for linear equalities and inequalities with
// required and weighted (non-required) constraints, in the manner of
// Cassowary. Internal to the uikit layer: the layout engine turns anchors,
// stack views and intrinsic sizes into rows of this solver.
//
// Required constraints must hold; a set that cannot hold raises
// LayoutSolver::Unsatisfiable and leaves the solver as it was before the
// offending add. Non-required constraints are met as well as their weights
// allow: the solver minimises the weighted sum of their errors.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

namespace uikit::layout {

class LayoutSolver {
 public:
  using Var = int;
  enum class Op { lessOrEqual, greaterOrEqual, equal };
  struct Term {
    Var var;
    double coefficient;
  };
  // expression (op) 0, with expression = sum of terms + constant.
  struct Constraint {
    std::vector<Term> terms;
    double constant = 0;
    Op op = Op::equal;
    double weight = 0;  // ignored when required
    bool required = true;
  };
  using ConstraintId = int;

  struct Unsatisfiable : std::runtime_error {
    using std::runtime_error::runtime_error;
  };

  LayoutSolver() = default;

  // Room for about this many variables and constraints (saves regrowth).
  void reserve(std::size_t variables, std::size_t constraints);
  Var newVariable();
  int variableCount() const { return static_cast<int>(varSymbols_.size()); }
  // Adds a constraint. Throws Unsatisfiable when a required constraint cannot
  // hold together with the ones already added (nothing is changed then).
  ConstraintId add(const Constraint& c);
  void remove(ConstraintId id);
  // The value of a variable in the current solution.
  double value(Var v) const;

 private:
  enum class SymbolType : std::uint8_t { invalid, external, slack, error, dummy };
  struct Symbol {
    int id = -1;
    SymbolType type = SymbolType::invalid;
    bool valid() const { return type != SymbolType::invalid; }
  };
  // Sparse row: sorted by symbol id.
  struct Row {
    double constant = 0;
    std::vector<std::pair<int, double>> cells;
    double coefficientFor(int sym) const;
    void insert(int sym, double coefficient);
    // Merges through `scratch`, whose buffer is swapped in and out so pivots
    // reuse memory instead of allocating.
    void insert(const Row& other, double coefficient, std::vector<std::pair<int, double>>& scratch);
    void remove(int sym);
    void reverseSign();
    void solveFor(int sym);
    void solveFor(int lhs, int rhs);
    void substitute(int sym, const Row& row, std::vector<std::pair<int, double>>& scratch);
  };
  struct Tag {
    Symbol marker;
    Symbol other;
  };
  struct Stored {
    Tag tag;
    double weight;
    bool required;
    bool live;
  };

  Symbol makeSymbol(SymbolType t);
  SymbolType typeOf(int sym) const { return symbolTypes_[static_cast<std::size_t>(sym)]; }
  Row createRow(const Constraint& c, Tag& tag, double weight);
  Symbol chooseSubject(const Row& row, const Tag& tag) const;
  bool allDummies(const Row& row) const;
  bool addWithArtificialVariable(Row row);
  void substitute(int sym, const Row& row);
  void optimize(Row& objective);
  void dualOptimize();
  Symbol enteringSymbol(const Row& objective) const;
  Symbol dualEnteringSymbol(const Row& row) const;
  Symbol anyPivotableSymbol(const Row& row) const;
  int leavingRow(int entering);
  int markerLeavingRow(int marker);
  void removeMarkerEffects(Symbol marker, double weight);

  Row* rowFor(int sym) {
    auto i = static_cast<std::size_t>(sym);
    return basic_[i] ? &rows_[i] : nullptr;
  }
  const Row* rowFor(int sym) const {
    auto i = static_cast<std::size_t>(sym);
    return basic_[i] ? &rows_[i] : nullptr;
  }
  void setRow(int sym, Row row);
  Row takeRow(int sym);
  // The basic symbols whose rows hold `sym` (compacts the column index).
  const std::vector<int>& rowsContaining(int sym);

  std::vector<int> varSymbols_;  // Var -> symbol id
  std::vector<SymbolType> symbolTypes_;
  // Basic symbol -> its row (null for parametric symbols), and a column index:
  // symbol -> basic symbols whose rows may hold it (checked on use), so a
  // pivot touches only the rows it changes.
  std::vector<Row> rows_;
  std::vector<char> basic_;
  std::vector<std::pair<int, double>> scratch_;
  std::vector<std::vector<int>> columns_;
  std::vector<std::uint32_t> seen_;
  std::uint32_t stamp_ = 0;
  std::vector<Stored> constraints_;  // by id
  std::vector<int> infeasible_;
  Row objective_;
  bool objectiveDirty_ = false;
  Row* artificial_ = nullptr;
  ConstraintId nextId_ = 0;
};

}  // namespace uikit::layout
