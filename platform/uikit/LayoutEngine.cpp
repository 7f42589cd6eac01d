#include "uikit/LayoutEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <mutex>
#include <sstream>
#include <unordered_map>
#include <vector>

#include "morvik/platform/dispatch/Dispatch.h"
#include "morvik/platform/foundation/Console.h"
#include "morvik/platform/uikit/UILabel.h"
#include "morvik/platform/uikit/UIScrollView.h"
#include "morvik/platform/uikit/UIStackView.h"
#include "morvik/platform/uikit/UIView.h"
#include "morvik/platform/uikit/UIViewController.h"
#include "morvik/platform/uikit/UIWindow.h"
#include "uikit/LayoutSolver.h"

namespace uikit {

using layout::LayoutSolver;

namespace {

std::uint64_t inputGeneration = 0;
int applyingDepth = 0;
int passDepth = 0;
// The root whose pass is running: while it runs, requests for its tree are
// left to the pass, which decides at its end whether another one is due.
UIView* passRoot = nullptr;
bool requestingFollowUp = false;
// A tree that asks for pass after pass on its own never settles (e.g. a
// controller that moves a fixed frame feeding its constraints on every
// layout). After this many follow-ups in a row it is left alone until
// something outside a pass asks for layout again.
constexpr int kMaxFollowUpPasses = 8;
std::unordered_map<const UIView*, int> followUpPasses;  // by root, while unsettled

// Priority 1...999 to a solver weight: each 125 points of priority is a
// factor of ten, so 750 (compression) outweighs 250 (hugging) ten thousand
// times and any higher priority wins over a lower one.
double weightFor(UILayoutPriority p) { return std::pow(10.0, static_cast<double>(p.rawValue) / 125.0); }

struct Vars {
  int l = -1, t = -1, w = -1, h = -1;
};

struct Expr {
  std::vector<LayoutSolver::Term> terms;
  double constant = 0;
  void add(int var, double c) { terms.push_back({var, c}); }
  void add(const Expr& e, double c) {
    for (const auto& t : e.terms) terms.push_back({t.var, t.coefficient * c});
    constant += e.constant * c;
  }
};

bool isHorizontal(NSLayoutAttribute a) {
  switch (a) {
    case NSLayoutAttribute::left:
    case NSLayoutAttribute::right:
    case NSLayoutAttribute::leading:
    case NSLayoutAttribute::trailing:
    case NSLayoutAttribute::centerX:
    case NSLayoutAttribute::width:
      return true;
    default:
      return false;
  }
}

}  // namespace

class LayoutEngineAccess::Pass {
 public:
  explicit Pass(UIView& root) : root_(root) {}

  // Builds and solves; leaves solved frames on the views.
  void run();

 private:
  void collect(UIView& v);
  Vars varsFor(const UIView* v) const {
    auto it = views_.find(v);
    return it == views_.end() ? Vars{} : it->second;
  }
  UIEdgeInsets insetsFor(UIView* v);
  // Expression of an anchor. `content`: the item is a scroll view seen from
  // inside (its edges are the content's).
  bool anchorExpr(const detail::LayoutItemHandle& item, NSLayoutAttribute attr, bool content, Expr& out);
  void addConstraint(const Expr& lhs, NSLayoutRelation rel, const Expr& rhs, UILayoutPriority priority,
                     const char* what, const NSLayoutConstraint* source = nullptr);
  void addUserConstraint(const NSLayoutConstraint& c);
  void addIntrinsic(UIView& v);
  void addStack(UIStackView& s);
  void fixFrame(UIView& v);
  Expr edge(const UIView& v, NSLayoutAttribute a) {
    Expr e;
    anchorExpr(*handleOf(v), a, false, e);
    return e;
  }
  static const std::shared_ptr<detail::LayoutItemHandle>& handleOf(const UIView& v);

  UIView& root_;
  LayoutSolver solver_;
  std::vector<UIView*> order_;
  std::unordered_map<const UIView*, Vars> views_;
  std::unordered_map<const UILayoutGuide*, Vars> guides_;
  struct Content {
    int w = -1, h = -1;
    bool usedX = false, usedY = false;
  };
  std::unordered_map<const UIScrollView*, Content> content_;
  std::unordered_map<const UIView*, UIEdgeInsets> insets_;
  struct LabelRow {
    UILabel* label;
    CGFloat width;  // the wrapping width its height was measured at
    std::vector<LayoutSolver::ConstraintId> ids;
  };
  std::vector<LabelRow> labels_;
  struct Pending {
    LayoutSolver::Constraint constraint;
    const char* what;
    const NSLayoutConstraint* source;
    int label;           // index in labels_ for a label's height, else -1
    const UIView* view;  // whose own layout `what` is (none for `source`)
  };
  std::vector<Pending> pending_;
  // The view whose fixed frame or stack arrangement is being added.
  const UIView* subject_ = nullptr;
  void flush();
  void reportBroken(const char* what, const NSLayoutConstraint* source, const UIView* view);
};
using Pass = LayoutEngineAccess::Pass;

const std::shared_ptr<detail::LayoutItemHandle>& Pass::handleOf(const UIView& v) { return v.handle_; }

void Pass::collect(UIView& v) {
  order_.push_back(&v);
  v.usedByConstraints_ = false;
  Vars vars{solver_.newVariable(), solver_.newVariable(), solver_.newVariable(), solver_.newVariable()};
  views_[&v] = vars;
  for (auto& g : v.layoutGuides_) {
    guides_[g.get()] =
        Vars{solver_.newVariable(), solver_.newVariable(), solver_.newVariable(), solver_.newVariable()};
  }
  for (auto& s : v.subviews_) collect(*s);
}

UIEdgeInsets Pass::insetsFor(UIView* v) {
  auto it = insets_.find(v);
  if (it != insets_.end()) return it->second;
  UIEdgeInsets i = v->safeAreaInsets();
  insets_[v] = i;
  v->safeAreaGuideUsed_ = true;
  return i;
}

bool Pass::anchorExpr(const detail::LayoutItemHandle& item, NSLayoutAttribute attr, bool content, Expr& out) {
  Vars vars;
  UIEdgeInsets in;
  if (item.view) {
    auto it = views_.find(item.view);
    if (it == views_.end()) return false;
    vars = it->second;
    item.view->usedByConstraints_ = true;
  } else if (item.guide) {
    UIView* owner = LayoutEngineAccess::guideOwner(*item.guide);
    if (!owner) return false;
    owner->usedByConstraints_ = true;
    if (item.guide->isSafeAreaGuide()) {
      auto it = views_.find(owner);
      if (it == views_.end()) return false;
      vars = it->second;
      in = insetsFor(owner);
    } else {
      auto it = guides_.find(item.guide);
      if (it == guides_.end()) return false;
      vars = it->second;
    }
  } else {
    return false;
  }
  int w = vars.w;
  int h = vars.h;
  if (content && item.view) {
    auto* scroll = static_cast<const UIScrollView*>(item.view);
    Content& c = content_[scroll];
    if (isHorizontal(attr) && attr != NSLayoutAttribute::width) {
      if (c.w < 0) c.w = solver_.newVariable();
      c.usedX = true;
      w = c.w;
    } else if (!isHorizontal(attr) && attr != NSLayoutAttribute::height) {
      if (c.h < 0) c.h = solver_.newVariable();
      c.usedY = true;
      h = c.h;
    }
  }
  switch (attr) {
    case NSLayoutAttribute::left:
    case NSLayoutAttribute::leading:
      out.add(vars.l, 1);
      out.constant += in.left;
      break;
    case NSLayoutAttribute::right:
    case NSLayoutAttribute::trailing:
      out.add(vars.l, 1);
      out.add(w, 1);
      out.constant -= in.right;
      break;
    case NSLayoutAttribute::centerX:
      out.add(vars.l, 1);
      out.add(w, 0.5);
      out.constant += (in.left - in.right) / 2;
      break;
    case NSLayoutAttribute::width:
      out.add(vars.w, 1);
      out.constant -= in.left + in.right;
      break;
    case NSLayoutAttribute::top:
      out.add(vars.t, 1);
      out.constant += in.top;
      break;
    case NSLayoutAttribute::bottom:
      out.add(vars.t, 1);
      out.add(h, 1);
      out.constant -= in.bottom;
      break;
    case NSLayoutAttribute::centerY:
      out.add(vars.t, 1);
      out.add(h, 0.5);
      out.constant += (in.top - in.bottom) / 2;
      break;
    case NSLayoutAttribute::height:
      out.add(vars.h, 1);
      out.constant -= in.top + in.bottom;
      break;
  }
  return true;
}

void Pass::addConstraint(const Expr& lhs, NSLayoutRelation rel, const Expr& rhs, UILayoutPriority priority,
                         const char* what, const NSLayoutConstraint* source) {
  if (priority.rawValue <= 0) return;
  LayoutSolver::Constraint c;
  c.terms = lhs.terms;
  for (const auto& t : rhs.terms) c.terms.push_back({t.var, -t.coefficient});
  c.constant = lhs.constant - rhs.constant;
  c.op = rel == NSLayoutRelation::equal             ? LayoutSolver::Op::equal
         : rel == NSLayoutRelation::lessThanOrEqual ? LayoutSolver::Op::lessOrEqual
                                                    : LayoutSolver::Op::greaterOrEqual;
  c.required = priority.rawValue >= 1000;
  c.weight = c.required ? 0 : weightFor(priority);
  pending_.push_back(Pending{std::move(c), what, source, -1, source ? nullptr : subject_});
}

void Pass::flush() {
  // Required constraints first, then the others by falling priority: the
  // optional ones then meet a settled tableau, which keeps pivoting down.
  std::stable_sort(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
    double wa = a.constraint.required ? 1e300 : a.constraint.weight;
    double wb = b.constraint.required ? 1e300 : b.constraint.weight;
    return wa > wb;
  });
  for (auto& p : pending_) {
    try {
      auto id = solver_.add(p.constraint);
      if (p.label >= 0) labels_[static_cast<std::size_t>(p.label)].ids.push_back(id);
    } catch (const LayoutSolver::Unsatisfiable&) {
      reportBroken(p.what, p.source, p.view);
    }
  }
  pending_.clear();
}

namespace {
std::string layoutViewName(const UIView* view) {
  std::ostringstream os;
  os << view->className() << ":" << static_cast<const void*>(view);
  return os.str();
}
}  // namespace

void Pass::reportBroken(const char* what, const NSLayoutConstraint* source, const UIView* view) {
  // A conflict stays until something changes, and every pass meets it again:
  // it is told once. A constraint remembers that itself (until it changes);
  // the engine's own rows are remembered by view and kind while the view lives.
  if (source) {
    if (source->conflictReported_) return;
    source->conflictReported_ = true;
  } else if (view) {
    static std::mutex mutex;
    static std::map<std::pair<const void*, std::string>, std::weak_ptr<detail::LayoutItemHandle>> reported;
    std::lock_guard lock(mutex);
    std::erase_if(reported, [](const auto& entry) { return entry.second.expired(); });
    auto [it, added] = reported.try_emplace({view->handle_.get(), what}, view->handle_);
    if (!added) return;
  }
  std::string text = "[LayoutConstraints] Unable to simultaneously satisfy constraints; breaking ";
  if (source) {
    text += source->description();
    std::string views;
    for (const auto* item : {&source->firstItem(), &source->secondItem()}) {
      const UIView* v = *item ? (*item)->owningView() : nullptr;
      if (!v) continue;
      std::string name = layoutViewName(v);
      if (views.find(name) != std::string::npos) continue;
      views += (views.empty() ? "" : ", ") + name;
    }
    if (!views.empty()) text += " between views " + views;
  } else {
    text += what;
    if (view) text += " of " + layoutViewName(view);
  }
  foundation::print(text);
}

void Pass::addUserConstraint(const NSLayoutConstraint& c) {
  const auto& first = c.firstItem();
  const auto& second = c.secondItem();
  if (!first) return;
  UIView* a = first->owningView();
  UIView* b = second ? second->owningView() : nullptr;
  if (!a || (second && !b)) return;
  // A scroll view's edges mean its content when the other item is inside it.
  bool firstContent = false, secondContent = false;
  if (first->view && b && dynamic_cast<UIScrollView*>(first->view) && b != first->view &&
      b->isDescendant(*first->view)) {
    firstContent = true;
  }
  if (second && second->view && dynamic_cast<UIScrollView*>(second->view) && a != second->view &&
      a->isDescendant(*second->view)) {
    secondContent = true;
  }
  Expr lhs;
  if (!anchorExpr(*first, c.firstAttribute(), firstContent, lhs)) return;
  Expr rhs;
  if (second) {
    Expr other;
    if (!anchorExpr(*second, c.secondAttribute(), secondContent, other)) return;
    rhs.add(other, c.multiplier());
  }
  rhs.constant += c.constant();
  addConstraint(lhs, c.relation(), rhs, c.priority(), "a constraint", &c);
}

void Pass::fixFrame(UIView& v) {
  subject_ = &v;
  Vars vars = varsFor(&v);
  CGRect f = v.frame();
  Expr l, t, w, h;
  l.add(vars.l, 1);
  t.add(vars.t, 1);
  w.add(vars.w, 1);
  h.add(vars.h, 1);
  Expr x, y, cw, ch;
  if (&v == &root_ || !v.superview_) {
    x.constant = 0;
    y.constant = 0;
    cw.constant = v.bounds().width();
    ch.constant = v.bounds().height();
  } else {
    Vars p = varsFor(v.superview_);
    x.add(p.l, 1);
    x.constant = f.minX();
    y.add(p.t, 1);
    y.constant = f.minY();
    cw.constant = f.width();
    ch.constant = f.height();
  }
  addConstraint(l, NSLayoutRelation::equal, x, UILayoutPriority::required, "a fixed frame");
  addConstraint(t, NSLayoutRelation::equal, y, UILayoutPriority::required, "a fixed frame");
  addConstraint(w, NSLayoutRelation::equal, cw, UILayoutPriority::required, "a fixed frame");
  addConstraint(h, NSLayoutRelation::equal, ch, UILayoutPriority::required, "a fixed frame");
}

void Pass::addIntrinsic(UIView& v) {
  auto* label = dynamic_cast<UILabel*>(&v);
  CGSize size;
  CGFloat wrapWidth = std::numeric_limits<CGFloat>::infinity();
  if (label && label->numberOfLines() != 1) {
    // The width asked for is the whole text's (or the preferred maximum's):
    // a label gets the room its text needs where there is room. Its current
    // width only seeds the height, which follows the width it is given
    // below; asking for the current width would keep a label that was once
    // laid out narrow (by other metrics, or another text) narrow for good.
    const CGFloat inf = std::numeric_limits<CGFloat>::infinity();
    if (label->preferredMaxLayoutWidth() > 0) {
      wrapWidth = label->preferredMaxLayoutWidth();
      size = label->sizeThatFits({wrapWidth, inf});
    } else {
      size.width = label->sizeThatFits({inf, inf}).width;
      if (label->bounds().width() > 0) wrapWidth = label->bounds().width();
      size.height = label->sizeThatFits({wrapWidth, inf}).height;
    }
  } else {
    size = v.intrinsicContentSize();
  }
  Vars vars = varsFor(&v);
  auto add = [&](int var, CGFloat value, int axis, int labelIndex) {
    if (value < 0) return;
    for (int k = 0; k < 2; ++k) {
      UILayoutPriority p = k == 0 ? v.hugging_[static_cast<std::size_t>(axis)]
                                  : v.compression_[static_cast<std::size_t>(axis)];
      LayoutSolver::Constraint c;
      c.terms = {{var, 1}};
      c.constant = -value;
      c.op = k == 0 ? LayoutSolver::Op::lessOrEqual : LayoutSolver::Op::greaterOrEqual;
      c.required = p.rawValue >= 1000;
      c.weight = c.required ? 0 : weightFor(p);
      pending_.push_back(Pending{std::move(c), "a content size", nullptr, labelIndex, &v});
    }
  };
  add(vars.w, size.width, 0, -1);
  if (label && label->numberOfLines() != 1 && label->preferredMaxLayoutWidth() <= 0) {
    labels_.push_back(LabelRow{label, wrapWidth, {}});
    add(vars.h, size.height, 1, static_cast<int>(labels_.size()) - 1);
  } else {
    add(vars.h, size.height, 1, -1);
  }
}

void Pass::addStack(UIStackView& s) {
  subject_ = &s;
  std::vector<UIView*> items;
  for (auto& a : s.arrangedSubviews()) {
    if (a->superview_ != &s) continue;
    if (a->isHidden()) {
      // Hidden members give their room back: collapse them out of the way.
      bool vertical = s.axis() == NSLayoutConstraintAxis::vertical;
      addConstraint(edge(*a, vertical ? NSLayoutAttribute::height : NSLayoutAttribute::width),
                    NSLayoutRelation::equal, Expr{}, UILayoutPriority{999}, "stack hiding");
      addConstraint(edge(*a, NSLayoutAttribute::left), NSLayoutRelation::equal,
                    edge(s, NSLayoutAttribute::left), UILayoutPriority{999}, "stack hiding");
      addConstraint(edge(*a, NSLayoutAttribute::top), NSLayoutRelation::equal,
                    edge(s, NSLayoutAttribute::top), UILayoutPriority{999}, "stack hiding");
      continue;
    }
    items.push_back(a.get());
  }
  if (items.empty()) return;
  bool vertical = s.axis() == NSLayoutConstraintAxis::vertical;
  using A = NSLayoutAttribute;
  A start = vertical ? A::top : A::leading;
  A end = vertical ? A::bottom : A::trailing;
  A size = vertical ? A::height : A::width;
  A center = vertical ? A::centerY : A::centerX;
  A crossStart = vertical ? A::leading : A::top;
  A crossEnd = vertical ? A::trailing : A::bottom;
  A crossSize = vertical ? A::width : A::height;
  A crossCenter = vertical ? A::centerX : A::centerY;
  const UILayoutPriority req = UILayoutPriority::required;
  const auto rel = NSLayoutRelation::equal;
  const auto ge = NSLayoutRelation::greaterThanOrEqual;
  const auto le = NSLayoutRelation::lessThanOrEqual;
  const char* what = "stack view arrangement";

  addConstraint(edge(*items.front(), start), rel, edge(s, start), req, what);
  addConstraint(edge(*items.back(), end), rel, edge(s, end), req, what);
  for (std::size_t i = 1; i < items.size(); ++i) {
    Expr gap = edge(*items[i], start);
    gap.add(edge(*items[i - 1], end), -1);
    Expr spacing;
    spacing.constant = s.spacing();
    switch (s.distribution()) {
      case UIStackView::Distribution::fill:
      case UIStackView::Distribution::fillEqually:
        addConstraint(gap, rel, spacing, req, what);
        break;
      case UIStackView::Distribution::equalSpacing: {
        addConstraint(gap, ge, spacing, req, what);
        if (i > 1) {
          Expr firstGap = edge(*items[1], start);
          firstGap.add(edge(*items[0], end), -1);
          addConstraint(gap, rel, firstGap, req, what);
        }
        break;
      }
      case UIStackView::Distribution::equalCentering: {
        addConstraint(gap, ge, spacing, req, what);
        if (i > 1) {
          Expr distance = edge(*items[i], center);
          distance.add(edge(*items[i - 1], center), -1);
          Expr firstDistance = edge(*items[1], center);
          firstDistance.add(edge(*items[0], center), -1);
          addConstraint(distance, rel, firstDistance, UILayoutPriority{999}, what);
        }
        break;
      }
    }
    if (s.distribution() == UIStackView::Distribution::fillEqually) {
      addConstraint(edge(*items[i], size), rel, edge(*items[0], size), req, what);
    }
  }
  for (UIView* item : items) {
    switch (s.alignment()) {
      case UIStackView::Alignment::fill:
        addConstraint(edge(*item, crossStart), rel, edge(s, crossStart), req, what);
        addConstraint(edge(*item, crossEnd), rel, edge(s, crossEnd), req, what);
        break;
      case UIStackView::Alignment::leading:
        addConstraint(edge(*item, crossStart), rel, edge(s, crossStart), req, what);
        addConstraint(edge(*item, crossEnd), le, edge(s, crossEnd), req, what);
        break;
      case UIStackView::Alignment::trailing:
        addConstraint(edge(*item, crossEnd), rel, edge(s, crossEnd), req, what);
        addConstraint(edge(*item, crossStart), ge, edge(s, crossStart), req, what);
        break;
      case UIStackView::Alignment::center:
        addConstraint(edge(*item, crossCenter), rel, edge(s, crossCenter), req, what);
        addConstraint(edge(*item, crossStart), ge, edge(s, crossStart), req, what);
        break;
    }
    if (s.alignment() != UIStackView::Alignment::fill) {
      // Members without a size of their own collapse.
      addConstraint(edge(*item, crossSize), rel, Expr{}, UILayoutPriority{25}, what);
    }
  }
  if (s.alignment() != UIStackView::Alignment::fill) {
    // The stack hugs its largest member (the members must fit inside it).
    addConstraint(edge(s, crossSize), rel, Expr{}, UILayoutPriority{49}, what);
  }
}

void Pass::run() {
  std::size_t count = 0;
  std::function<void(const UIView&)> countViews = [&](const UIView& v) {
    ++count;
    for (auto& s : v.subviews_) countViews(*s);
  };
  countViews(root_);
  solver_.reserve(4 * count, 6 * count);
  pending_.reserve(6 * count);
  collect(root_);
  for (UIView* v : order_) {
    if (v == &root_ || v->translatesAutoresizing_) {
      fixFrame(*v);
    } else {
      addIntrinsic(*v);
    }
  }
  for (UIView* v : order_) {
    if (auto* s = dynamic_cast<UIStackView*>(v)) addStack(*s);
  }
  for (UIView* v : order_) {
    auto constraints = v->constraints_;
    for (auto& c : constraints) addUserConstraint(*c);
  }
  flush();
  // Multi-line labels: their height depends on the width they get.
  for (int round = 0; round < 3; ++round) {
    bool changed = false;
    for (auto& row : labels_) {
      Vars vars = varsFor(row.label);
      CGFloat width = solver_.value(vars.w);
      if (std::fabs(width - row.width) < 0.01) continue;
      changed = true;
      row.width = width;
      for (auto id : row.ids) solver_.remove(id);
      row.ids.clear();
      CGSize size = row.label->sizeThatFits({width, std::numeric_limits<CGFloat>::infinity()});
      for (int k = 0; k < 2; ++k) {
        UILayoutPriority p = k == 0 ? row.label->hugging_[1] : row.label->compression_[1];
        LayoutSolver::Constraint c;
        c.terms = {{vars.h, 1}};
        c.constant = -size.height;
        c.op = k == 0 ? LayoutSolver::Op::lessOrEqual : LayoutSolver::Op::greaterOrEqual;
        c.required = p.rawValue >= 1000;
        c.weight = c.required ? 0 : weightFor(p);
        try {
          row.ids.push_back(solver_.add(c));
        } catch (const LayoutSolver::Unsatisfiable&) {
          reportBroken("a content size", nullptr, row.label);
        }
      }
    }
    if (!changed) break;
  }
  // Hand out the frames.
  for (UIView* v : order_) {
    v->solvedFrame_.reset();
    if (v == &root_ || v->translatesAutoresizing_ || !v->superview_) continue;
    v->superview_->usedByConstraints_ = true;
    Vars vars = varsFor(v);
    Vars p = varsFor(v->superview_);
    CGFloat x = solver_.value(vars.l) - solver_.value(p.l);
    CGFloat y = solver_.value(vars.t) - solver_.value(p.t);
    CGFloat w = std::max(0.0, solver_.value(vars.w));
    CGFloat h = std::max(0.0, solver_.value(vars.h));
    // Tidy float noise so frames compare equal to hand-computed values.
    auto tidy = [](CGFloat value) {
      CGFloat r = std::round(value * 1e6) / 1e6;
      return r == 0 ? 0.0 : r;
    };
    v->solvedFrame_ = CGRect{{tidy(x), tidy(y)}, {tidy(w), tidy(h)}};
  }
  for (auto& [scroll, c] : content_) {
    CGSize size = scroll->contentSize();
    if (c.usedX) size.width = std::max(0.0, solver_.value(c.w));
    if (c.usedY) size.height = std::max(0.0, solver_.value(c.h));
    const_cast<UIScrollView*>(scroll)->setContentSize(size);
  }
  for (auto& [guide, vars] : guides_) {
    UIView* owner = LayoutEngineAccess::guideOwner(*guide);
    Vars ov = varsFor(owner);
    const_cast<UILayoutGuide*>(guide)->layoutFrame_ =
        CGRect{{solver_.value(vars.l) - solver_.value(ov.l), solver_.value(vars.t) - solver_.value(ov.t)},
               {solver_.value(vars.w), solver_.value(vars.h)}};
  }
}

// --- LayoutEngineAccess --------------------------------------------------------------

UIView* LayoutEngineAccess::guideOwner(const UILayoutGuide& guide) { return guide.owningView_; }

void LayoutEngineAccess::noteInputChange() { ++inputGeneration; }

bool LayoutEngineAccess::applyingFrames() { return applyingDepth > 0; }

bool LayoutEngineAccess::inLayoutPass() { return passDepth > 0; }

void LayoutEngineAccess::applySolvedFrames(UIView& parent) {
  ++applyingDepth;
  auto subs = parent.subviews_;
  for (auto& s : subs) {
    if (s->solvedFrame_) {
      CGRect f = *s->solvedFrame_;
      s->solvedFrame_.reset();
      if (f != s->frame()) s->setFrame(f);
    }
  }
  --applyingDepth;
}

void LayoutEngineAccess::layoutTree(UIView& root) {
  struct Visitor {
    static void visit(UIView& v) {
      bool run = v.needsLayout_;
      if (!run) {
        for (auto& s : v.subviews_) {
          if (s->solvedFrame_ && *s->solvedFrame_ != s->frame()) {
            run = true;
            break;
          }
        }
      }
      if (run) {
        v.needsLayout_ = false;
        auto controller = v.owningViewController();
        if (controller) controller->viewWillLayoutSubviews();
        v.layoutSubviews();
        if (controller) controller->viewDidLayoutSubviews();
      }
      if (v.needsDisplay_) {
        v.needsDisplay_ = false;
        v.draw(v.bounds());
      }
      auto subs = v.subviews_;
      for (auto& s : subs) {
        if (s->superview_ == &v) visit(*s);
      }
    }
    static void clearFrames(UIView& v) {
      v.solvedFrame_.reset();
      for (auto& s : v.subviews_) clearFrames(*s);
    }
    // Recomputes the subtree flags; answers whether anything is still dirty.
    static bool settle(UIView& v) {
      bool dirty = v.needsLayout_;
      for (auto& s : v.subviews_) dirty = settle(*s) || dirty;
      v.subtreeNeedsLayout_ = dirty;
      return dirty;
    }
    static bool insetsChanged(UIView& v, const std::unordered_map<const UIView*, UIEdgeInsets>& before) {
      (void)v;
      for (auto& [view, insets] : before) {
        if (view->safeAreaInsets() != insets) return true;
      }
      return false;
    }
  };
  auto keep = root.shared_from_this();
  ++passDepth;
  struct Exit {
    UIView* outerRoot;
    ~Exit() {
      --passDepth;
      passRoot = outerRoot;
    }
  } exit{passRoot};
  passRoot = &root;
  for (int round = 0; round < 4; ++round) {
    std::uint64_t generation = inputGeneration;
    root.subtreeNeedsLayout_ = false;
    std::unordered_map<const UIView*, UIEdgeInsets> insets;
    {
      Pass pass(root);
      pass.run();
    }
    // Remember the safe areas the solve used, to notice when the new frames
    // move them.
    std::function<void(UIView&)> gather = [&](UIView& v) {
      if (v.safeAreaGuideUsed_) insets[&v] = v.safeAreaInsets();
      for (auto& s : v.subviews_) gather(*s);
    };
    gather(root);
    Visitor::visit(root);
    Visitor::clearFrames(root);
    bool again = inputGeneration != generation || Visitor::insetsChanged(root, insets);
    if (!again) break;
    root.needsLayout_ = true;
  }
  Visitor::settle(root);
  root.layoutScheduled_ = false;
  if (!root.subtreeNeedsLayout_ || !dynamic_cast<UIWindow*>(&root)) {
    followUpPasses.erase(&root);
    return;
  }
  int& followUps = followUpPasses[&root];
  if (++followUps > kMaxFollowUpPasses) {
    if (followUps == kMaxFollowUpPasses + 1) {
      std::fprintf(stderr,
                   "[Layout] <%s> did not settle after %d layout passes in a row; no further pass is "
                   "scheduled until its layout is requested again\n",
                   root.className().c_str(), kMaxFollowUpPasses);
    }
    return;
  }
  requestingFollowUp = true;
  passRoot = exit.outerRoot;
  scheduleWindowLayout(root);
  requestingFollowUp = false;
}

void LayoutEngineAccess::scheduleWindowLayout(UIView& root) {
  if (!dynamic_cast<UIWindow*>(&root) || !dispatch::isMainThread() || &root == passRoot) return;
  // A request from outside a pass is a fresh start for a restless tree.
  if (!requestingFollowUp) followUpPasses.erase(&root);
  if (root.layoutScheduled_) return;
  root.layoutScheduled_ = true;
  std::weak_ptr<UIView> weak = root.weak_from_this();
  if (weak.expired()) {
    root.layoutScheduled_ = false;
    return;
  }
  dispatch::DispatchQueue::main().async([weak] {
    if (auto r = weak.lock()) {
      r->layoutScheduled_ = false;
      r->layoutIfNeeded();
    }
  });
}

}  // namespace uikit
