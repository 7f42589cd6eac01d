#include "uikit/LayoutSolver.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace uikit::layout {
namespace {
constexpr double kEpsilon = 1.0e-8;
bool nearZero(double v) { return std::fabs(v) < kEpsilon; }
}  // namespace

// --- Row ---------------------------------------------------------------------

double LayoutSolver::Row::coefficientFor(int sym) const {
  auto it = std::lower_bound(cells.begin(), cells.end(), sym,
                             [](const std::pair<int, double>& c, int s) { return c.first < s; });
  return (it != cells.end() && it->first == sym) ? it->second : 0.0;
}

void LayoutSolver::Row::insert(int sym, double coefficient) {
  auto it = std::lower_bound(cells.begin(), cells.end(), sym,
                             [](const std::pair<int, double>& c, int s) { return c.first < s; });
  if (it != cells.end() && it->first == sym) {
    it->second += coefficient;
    if (nearZero(it->second)) cells.erase(it);
  } else if (!nearZero(coefficient)) {
    cells.insert(it, {sym, coefficient});
  }
}

void LayoutSolver::Row::insert(const Row& other, double coefficient,
                               std::vector<std::pair<int, double>>& merged) {
  constant += other.constant * coefficient;
  merged.clear();
  merged.reserve(cells.size() + other.cells.size());
  auto a = cells.begin();
  auto b = other.cells.begin();
  while (a != cells.end() || b != other.cells.end()) {
    if (b == other.cells.end() || (a != cells.end() && a->first < b->first)) {
      merged.push_back(*a++);
    } else if (a == cells.end() || b->first < a->first) {
      double c = b->second * coefficient;
      if (!nearZero(c)) merged.emplace_back(b->first, c);
      ++b;
    } else {
      double c = a->second + b->second * coefficient;
      if (!nearZero(c)) merged.emplace_back(a->first, c);
      ++a;
      ++b;
    }
  }
  cells.swap(merged);
}

void LayoutSolver::Row::remove(int sym) {
  auto it = std::lower_bound(cells.begin(), cells.end(), sym,
                             [](const std::pair<int, double>& c, int s) { return c.first < s; });
  if (it != cells.end() && it->first == sym) cells.erase(it);
}

void LayoutSolver::Row::reverseSign() {
  constant = -constant;
  for (auto& c : cells) c.second = -c.second;
}

void LayoutSolver::Row::solveFor(int sym) {
  double coefficient = -1.0 / coefficientFor(sym);
  remove(sym);
  constant *= coefficient;
  for (auto& c : cells) c.second *= coefficient;
}

void LayoutSolver::Row::solveFor(int lhs, int rhs) {
  insert(lhs, -1.0);
  solveFor(rhs);
}

void LayoutSolver::Row::substitute(int sym, const Row& row, std::vector<std::pair<int, double>>& scratch) {
  double coefficient = coefficientFor(sym);
  if (coefficient == 0.0) return;
  remove(sym);
  insert(row, coefficient, scratch);
}

// --- Solver ------------------------------------------------------------------

LayoutSolver::Symbol LayoutSolver::makeSymbol(SymbolType t) {
  symbolTypes_.push_back(t);
  rows_.emplace_back();
  basic_.push_back(0);
  columns_.emplace_back();
  seen_.push_back(0);
  return Symbol{static_cast<int>(symbolTypes_.size()) - 1, t};
}

void LayoutSolver::reserve(std::size_t variables, std::size_t constraints) {
  std::size_t symbols = variables + 3 * constraints;
  symbolTypes_.reserve(symbols);
  rows_.reserve(symbols);
  basic_.reserve(symbols);
  columns_.reserve(symbols);
  seen_.reserve(symbols);
  varSymbols_.reserve(variables);
  constraints_.reserve(constraints);
}

LayoutSolver::Var LayoutSolver::newVariable() {
  varSymbols_.push_back(makeSymbol(SymbolType::external).id);
  return static_cast<Var>(varSymbols_.size()) - 1;
}

double LayoutSolver::value(Var v) const {
  const Row* row = rowFor(varSymbols_.at(static_cast<std::size_t>(v)));
  return row ? row->constant : 0.0;
}

void LayoutSolver::setRow(int sym, Row row) {
  for (const auto& c : row.cells) columns_[static_cast<std::size_t>(c.first)].push_back(sym);
  rows_[static_cast<std::size_t>(sym)] = std::move(row);
  basic_[static_cast<std::size_t>(sym)] = 1;
}

LayoutSolver::Row LayoutSolver::takeRow(int sym) {
  auto i = static_cast<std::size_t>(sym);
  Row row = std::move(rows_[i]);
  rows_[i] = Row{};
  basic_[i] = 0;
  return row;
}

const std::vector<int>& LayoutSolver::rowsContaining(int sym) {
  auto& column = columns_[static_cast<std::size_t>(sym)];
  ++stamp_;
  std::size_t kept = 0;
  for (int basic : column) {
    auto b = static_cast<std::size_t>(basic);
    if (seen_[b] == stamp_) continue;
    seen_[b] = stamp_;
    if (!basic_[b] || rows_[b].coefficientFor(sym) == 0.0) continue;
    column[kept++] = basic;
  }
  column.resize(kept);
  return column;
}

LayoutSolver::ConstraintId LayoutSolver::add(const Constraint& c) {
  Tag tag;
  double weight = c.required ? 0.0 : std::max(c.weight, kEpsilon);
  Row row = createRow(c, tag, weight);
  Symbol subject = chooseSubject(row, tag);
  if (!subject.valid() && allDummies(row)) {
    if (!nearZero(row.constant)) throw Unsatisfiable("required constraint cannot hold");
    subject = tag.marker;
  }
  if (!subject.valid()) {
    // The artificial phase pivots the whole tableau; when it proves the row
    // cannot hold, put the tableau back as it was.
    auto savedRows = rows_;
    auto savedBasic = basic_;
    auto savedColumns = columns_;
    auto savedObjective = objective_;
    bool savedDirty = objectiveDirty_;
    if (!addWithArtificialVariable(std::move(row))) {
      rows_ = std::move(savedRows);
      basic_ = std::move(savedBasic);
      columns_ = std::move(savedColumns);
      objective_ = std::move(savedObjective);
      objectiveDirty_ = savedDirty;
      infeasible_.clear();
      rows_.resize(symbolTypes_.size());
      basic_.resize(symbolTypes_.size(), 0);
      columns_.resize(symbolTypes_.size());
      throw Unsatisfiable("required constraint cannot hold");
    }
  } else {
    row.solveFor(subject.id);
    substitute(subject.id, row);
    setRow(subject.id, std::move(row));
  }
  ConstraintId id = nextId_++;
  constraints_.push_back(Stored{tag, weight, c.required, true});
  optimize(objective_);
  // Substitutions may have left restricted rows negative: restore them while
  // keeping the objective optimal.
  dualOptimize();
  return id;
}

void LayoutSolver::remove(ConstraintId id) {
  if (id < 0 || static_cast<std::size_t>(id) >= constraints_.size()) return;
  Stored& entry = constraints_[static_cast<std::size_t>(id)];
  if (!entry.live) return;
  entry.live = false;
  Stored stored = entry;
  if (!stored.required) {
    removeMarkerEffects(stored.tag.marker, stored.weight);
    removeMarkerEffects(stored.tag.other, stored.weight);
  }
  if (rowFor(stored.tag.marker.id)) {
    takeRow(stored.tag.marker.id);
  } else {
    int leaving = markerLeavingRow(stored.tag.marker.id);
    if (leaving >= 0) {
      Row row = takeRow(leaving);
      row.solveFor(leaving, stored.tag.marker.id);
      substitute(stored.tag.marker.id, row);
    }
  }
  optimize(objective_);
  dualOptimize();
}

void LayoutSolver::removeMarkerEffects(Symbol marker, double weight) {
  if (marker.type != SymbolType::error) return;
  objectiveDirty_ = true;
  if (Row* row = rowFor(marker.id)) {
    objective_.insert(*row, -weight, scratch_);
  } else {
    objective_.insert(marker.id, -weight);
  }
}

LayoutSolver::Row LayoutSolver::createRow(const Constraint& c, Tag& tag, double weight) {
  Row row;
  row.constant = c.constant;
  for (const Term& t : c.terms) {
    if (nearZero(t.coefficient)) continue;
    int sym = varSymbols_.at(static_cast<std::size_t>(t.var));
    if (Row* basic = rowFor(sym)) {
      row.insert(*basic, t.coefficient, scratch_);
    } else {
      row.insert(sym, t.coefficient);
    }
  }
  switch (c.op) {
    case Op::lessOrEqual:
    case Op::greaterOrEqual: {
      double coefficient = c.op == Op::lessOrEqual ? 1.0 : -1.0;
      Symbol slack = makeSymbol(SymbolType::slack);
      tag.marker = slack;
      row.insert(slack.id, coefficient);
      if (!c.required) {
        Symbol error = makeSymbol(SymbolType::error);
        tag.other = error;
        row.insert(error.id, -coefficient);
        objective_.insert(error.id, weight);
        objectiveDirty_ = true;
      }
      break;
    }
    case Op::equal: {
      if (!c.required) {
        Symbol plus = makeSymbol(SymbolType::error);
        Symbol minus = makeSymbol(SymbolType::error);
        tag.marker = plus;
        tag.other = minus;
        row.insert(plus.id, -1.0);
        row.insert(minus.id, 1.0);
        objective_.insert(plus.id, weight);
        objective_.insert(minus.id, weight);
        objectiveDirty_ = true;
      } else {
        Symbol dummy = makeSymbol(SymbolType::dummy);
        tag.marker = dummy;
        row.insert(dummy.id, 1.0);
      }
      break;
    }
  }
  if (row.constant < 0.0) row.reverseSign();
  return row;
}

LayoutSolver::Symbol LayoutSolver::chooseSubject(const Row& row, const Tag& tag) const {
  // The newest external variable: the engine creates variables parents
  // first, so a child's position is expressed through its parent's, which
  // keeps rows short.
  for (auto it = row.cells.rbegin(); it != row.cells.rend(); ++it) {
    if (typeOf(it->first) == SymbolType::external) return Symbol{it->first, SymbolType::external};
  }
  auto pivotable = [](SymbolType t) { return t == SymbolType::slack || t == SymbolType::error; };
  if (pivotable(tag.marker.type) && row.coefficientFor(tag.marker.id) < 0.0) return tag.marker;
  if (pivotable(tag.other.type) && row.coefficientFor(tag.other.id) < 0.0) return tag.other;
  return Symbol{};
}

bool LayoutSolver::allDummies(const Row& row) const {
  return std::all_of(row.cells.begin(), row.cells.end(),
                     [this](const auto& c) { return typeOf(c.first) == SymbolType::dummy; });
}

bool LayoutSolver::addWithArtificialVariable(Row row) {
  Symbol art = makeSymbol(SymbolType::slack);
  setRow(art.id, row);
  Row artificial = row;
  artificial_ = &artificial;
  optimize(artificial);
  bool success = nearZero(artificial.constant);
  artificial_ = nullptr;
  if (rowFor(art.id)) {
    Row basic = takeRow(art.id);
    if (basic.cells.empty()) return success;
    Symbol entering = anyPivotableSymbol(basic);
    if (!entering.valid()) return false;
    basic.solveFor(art.id, entering.id);
    substitute(entering.id, basic);
    setRow(entering.id, std::move(basic));
  }
  for (int basic : rowsContaining(art.id)) rowFor(basic)->remove(art.id);
  if (objective_.coefficientFor(art.id) != 0.0) {
    objective_.remove(art.id);
    objectiveDirty_ = true;
  }
  return success;
}

void LayoutSolver::substitute(int sym, const Row& row) {
  for (int basic : rowsContaining(sym)) {
    Row& r = *rowFor(basic);
    r.substitute(sym, row, scratch_);
    for (const auto& c : row.cells) columns_[static_cast<std::size_t>(c.first)].push_back(basic);
    if (typeOf(basic) != SymbolType::external && r.constant < 0.0) infeasible_.push_back(basic);
  }
  columns_[static_cast<std::size_t>(sym)].clear();
  if (objective_.coefficientFor(sym) != 0.0) {
    objective_.substitute(sym, row, scratch_);
    objectiveDirty_ = true;
  }
  if (artificial_) artificial_->substitute(sym, row, scratch_);
}

void LayoutSolver::optimize(Row& objective) {
  // An objective row that has not changed since it was last optimal still is.
  if (&objective == &objective_) {
    if (!objectiveDirty_) return;
    objectiveDirty_ = false;
  }
  for (;;) {
    Symbol entering = enteringSymbol(objective);
    if (!entering.valid()) return;
    int leaving = leavingRow(entering.id);
    if (leaving < 0) throw std::logic_error("layout solver: objective is unbounded");
    Row row = takeRow(leaving);
    row.solveFor(leaving, entering.id);
    substitute(entering.id, row);
    setRow(entering.id, std::move(row));
  }
}

void LayoutSolver::dualOptimize() {
  while (!infeasible_.empty()) {
    int leaving = infeasible_.back();
    infeasible_.pop_back();
    Row* basic = rowFor(leaving);
    if (!basic || basic->constant >= 0.0) continue;
    Symbol entering = dualEnteringSymbol(*basic);
    if (!entering.valid()) throw std::logic_error("layout solver: dual optimize failed");
    Row row = takeRow(leaving);
    row.solveFor(leaving, entering.id);
    substitute(entering.id, row);
    setRow(entering.id, std::move(row));
  }
}

LayoutSolver::Symbol LayoutSolver::enteringSymbol(const Row& objective) const {
  for (const auto& c : objective.cells) {
    if (typeOf(c.first) != SymbolType::dummy && c.second < 0.0) return Symbol{c.first, typeOf(c.first)};
  }
  return Symbol{};
}

LayoutSolver::Symbol LayoutSolver::dualEnteringSymbol(const Row& row) const {
  Symbol entering;
  double ratio = std::numeric_limits<double>::max();
  for (const auto& c : row.cells) {
    if (c.second > 0.0 && typeOf(c.first) != SymbolType::dummy) {
      double r = objective_.coefficientFor(c.first) / c.second;
      if (r < ratio) {
        ratio = r;
        entering = Symbol{c.first, typeOf(c.first)};
      }
    }
  }
  return entering;
}

LayoutSolver::Symbol LayoutSolver::anyPivotableSymbol(const Row& row) const {
  for (const auto& c : row.cells) {
    SymbolType t = typeOf(c.first);
    if (t == SymbolType::slack || t == SymbolType::error) return Symbol{c.first, t};
  }
  return Symbol{};
}

int LayoutSolver::leavingRow(int entering) {
  double ratio = std::numeric_limits<double>::max();
  int found = -1;
  for (int sym : rowsContaining(entering)) {
    if (typeOf(sym) == SymbolType::external) continue;
    const Row& row = *rowFor(sym);
    double c = row.coefficientFor(entering);
    if (c < 0.0) {
      double r = -row.constant / c;
      if (r < ratio || (r == ratio && sym < found)) {
        ratio = r;
        found = sym;
      }
    }
  }
  return found;
}

int LayoutSolver::markerLeavingRow(int marker) {
  double r1 = std::numeric_limits<double>::max();
  double r2 = r1;
  int first = -1, second = -1, third = -1;
  for (int sym : rowsContaining(marker)) {
    const Row& row = *rowFor(sym);
    double c = row.coefficientFor(marker);
    if (c == 0.0) continue;
    if (typeOf(sym) == SymbolType::external) {
      third = sym;
    } else if (c < 0.0) {
      double r = -row.constant / c;
      if (r < r1) {
        r1 = r;
        first = sym;
      }
    } else {
      double r = row.constant / c;
      if (r < r2) {
        r2 = r;
        second = sym;
      }
    }
  }
  if (first >= 0) return first;
  if (second >= 0) return second;
  return third;
}

}  // namespace uikit::layout
