#include <morvik/platform/dispatch.h>
#include <morvik/platform/swiftui/Graph.h>
#include <morvik/platform/swiftui/UIHostingController.h>
#include <morvik/platform/swiftui/Views.h>
#include <morvik/platform/uikit/UIButton.h>
#include <morvik/platform/uikit/UIStackView.h>

#include <algorithm>
#include <array>
#include <iterator>

namespace swiftui {

using uikit::NSLayoutConstraint;
using uikit::UIView;

namespace {

std::shared_ptr<UIView> constrained(std::shared_ptr<UIView> view) {
  view->setTranslatesAutoresizingMaskIntoConstraints(false);
  return view;
}

uikit::UIFont fontFor(const detail::Environment& environment) {
  return environment.font ? environment.font->uiFont() : Font::body().uiFont();
}

// A primitive's UIKit views live in its node from one evaluation to the next
// (the node is kept while the view keeps its place and type), so a render
// updates them in place: a field keeps its focus, and an unchanged screen is
// not laid out again. Setters run only for values that changed, since most
// of them ask for layout.
template <class T>
std::shared_ptr<T> kept(detail::Node& node) {
  auto state = std::static_pointer_cast<T>(node.primitiveState);
  if (!state) {
    state = std::make_shared<T>();
    node.primitiveState = state;
  }
  return state;
}

template <class T, class Apply>
void update(std::optional<T>& applied, const T& value, Apply apply) {
  if (applied && *applied == value) return;
  applied = value;
  apply(value);
}

// Pins `child` inside `box`, `insets` from its edges (top, leading, bottom,
// trailing).
std::vector<std::shared_ptr<NSLayoutConstraint>> pin(UIView& box, const std::shared_ptr<UIView>& child,
                                                     std::array<CGFloat, 4> insets) {
  child->setTranslatesAutoresizingMaskIntoConstraints(false);
  if (child->superview().get() != &box) box.shared_from_this()->addSubview(child);
  std::vector<std::shared_ptr<NSLayoutConstraint>> made{
      child->topAnchor().constraintEqualTo(box.topAnchor(), insets[0]),
      child->leadingAnchor().constraintEqualTo(box.leadingAnchor(), insets[1]),
      box.bottomAnchor().constraintEqualTo(child->bottomAnchor(), insets[2]),
      box.trailingAnchor().constraintEqualTo(child->trailingAnchor(), insets[3]),
  };
  NSLayoutConstraint::activate(made);
  return made;
}

// A wrapper view around one child view, kept with its constraints while the
// child stays the same view.
struct Wrapper {
  std::shared_ptr<UIView> box;
  std::shared_ptr<UIView> child;
  std::vector<std::shared_ptr<NSLayoutConstraint>> constraints;
  std::array<CGFloat, 4> insets{};

  // Puts `view` in the box; answers whether anything changed.
  bool hold(const std::shared_ptr<UIView>& view, std::array<CGFloat, 4> wanted) {
    if (!box) box = constrained(std::make_shared<UIView>());
    if (view == child && view->superview() == box && insets == wanted) return false;
    NSLayoutConstraint::deactivate(constraints);
    if (child && child != view && child->superview() == box) child->removeFromSuperview();
    child = view;
    insets = wanted;
    constraints = pin(*box, view, wanted);
    return true;
  }
};

}  // namespace

// --- EmptyView, Text ---

namespace {
struct EmptyState {
  std::shared_ptr<UIView> view = constrained(std::make_shared<UIView>());
};

struct TextState {
  std::shared_ptr<uikit::UILabel> label;
  std::optional<std::string> text;
  std::optional<uikit::UIFont> font;
  std::optional<uikit::UIColor> color;
  TextState() : label(std::make_shared<uikit::UILabel>()) {
    label->setTranslatesAutoresizingMaskIntoConstraints(false);
    label->setNumberOfLines(0);
    label->setTextAlignment(uikit::NSTextAlignment::center);
  }
};
}  // namespace

detail::Rendered EmptyView::render(detail::RenderContext&, detail::Node& node,
                                   const detail::Environment&) const {
  return {kept<EmptyState>(node)->view};
}

detail::Rendered Text::render(detail::RenderContext&, detail::Node& node,
                              const detail::Environment& environment) const {
  auto state = kept<TextState>(node);
  auto& label = state->label;
  update(state->text, string(), [&](const std::string& t) { label->setText(t); });
  update(state->font, fontFor(environment), [&](const uikit::UIFont& f) { label->setFont(f); });
  update(state->color,
         environment.foregroundColor ? environment.foregroundColor->uiColor : uikit::UIColor::label(),
         [&](const uikit::UIColor& c) { label->setTextColor(c); });
  return {label};
}

// --- TextField ---

namespace {
constexpr CGFloat kFieldInset = 7;  // text inside a rounded border
}

HostedTextField::HostedTextField() : label_(std::make_shared<uikit::UILabel>()) {
  setTranslatesAutoresizingMaskIntoConstraints(false);
  addSubview(label_);
  refresh();
}

void HostedTextField::type(const std::string& text) {
  text_ = text;
  refresh();
  sendActions(uikit::UIControlEvents::editingChanged);
}

void HostedTextField::setText(std::string text) {
  text_ = std::move(text);
  refresh();
}

void HostedTextField::setPlaceholder(std::string placeholder) {
  placeholder_ = std::move(placeholder);
  refresh();
}

void HostedTextField::setRoundedBorder(bool rounded) {
  roundedBorder_ = rounded;
  layer()->setCornerRadius(rounded ? 5 : 0);
  layer()->setBorderWidth(rounded ? 0.5 : 0);
  if (rounded) layer()->setBorderColor(uikit::UIColor::separator().cgColor());
  setBackgroundColor(rounded ? std::optional(uikit::UIColor::systemBackground()) : std::nullopt);
  invalidateIntrinsicContentSize();
  setNeedsLayout();
}

void HostedTextField::setFont(const uikit::UIFont& font) {
  font_ = font;
  refresh();
}

void HostedTextField::refresh() {
  bool empty = text_.empty();
  label_->setText(empty ? placeholder_ : text_);
  label_->setTextColor(empty ? uikit::UIColor::placeholderText() : uikit::UIColor::label());
  label_->setFont(font_);
  invalidateIntrinsicContentSize();
  setNeedsLayout();
}

uikit::CGSize HostedTextField::intrinsicContentSize() const {
  CGFloat inset = roundedBorder_ ? kFieldInset : 0;
  return {uikit::UIViewNoIntrinsicMetric, font_.lineHeight() + 2 * inset};
}

uikit::CGRect HostedTextField::caretRect() const {
  const auto frame = label_->frame();
  const CGFloat lh = font_.lineHeight();
  const CGFloat advance = text_.empty() ? 0 : uikit::textWidth(text_, font_);
  const CGFloat x = frame.minX() + std::clamp<CGFloat>(advance, 0, std::max<CGFloat>(0, frame.width() - 2));
  return {{x, frame.minY() + lh * 0.1}, {2, lh * 0.8}};
}

void HostedTextField::layoutSubviews() {
  UIControl::layoutSubviews();
  CGFloat inset = roundedBorder_ ? kFieldInset : 0;
  auto b = bounds();
  label_->setFrame({{inset, inset}, {std::max<CGFloat>(0, b.width() - 2 * inset), font_.lineHeight()}});
}

std::string HostedTextField::descriptionFields() const {
  std::string out = UIControl::descriptionFields();
  out += "; text = '" + text_ + "'; placeholder = '" + placeholder_ + "'";
  if (roundedBorder_) out += "; borderStyle = roundedRect";
  return out;
}

namespace {
struct TextFieldState {
  std::shared_ptr<HostedTextField> field = std::make_shared<HostedTextField>();
  // The binding of the latest evaluation: typing writes through it.
  std::optional<Binding<std::string>> binding;
  std::optional<std::string> placeholder;
  std::optional<uikit::UIFont> font;
  std::optional<bool> rounded;
};
}  // namespace

detail::Rendered TextField::render(detail::RenderContext&, detail::Node& node,
                                   const detail::Environment& environment) const {
  auto state = std::static_pointer_cast<TextFieldState>(node.primitiveState);
  if (!state) {
    state = kept<TextFieldState>(node);
    std::weak_ptr<TextFieldState> weak = state;
    state->field->addTarget(
        nullptr,
        [weak] {
          auto s = weak.lock();
          if (s && s->binding) s->binding->set(s->field->text());
        },
        uikit::UIControlEvents::editingChanged);
  }
  state->binding = text_;
  auto& field = state->field;
  update(state->placeholder, placeholder_.resolved(),
         [&](const std::string& p) { field->setPlaceholder(p); });
  update(state->font, fontFor(environment), [&](const uikit::UIFont& f) { field->setFont(f); });
  update(state->rounded, environment.roundedBorderTextField, [&](bool r) { field->setRoundedBorder(r); });
  // What was typed is already shown: only a value set elsewhere replaces it.
  if (auto value = text_.get(); value != field->text()) field->setText(std::move(value));
  return {field, true, false};
}

// --- Button ---

namespace {
struct ButtonState {
  std::shared_ptr<uikit::UIButton> button;
  // The action of the latest evaluation.
  std::function<void()> action;
  std::optional<std::string> title;
  std::optional<std::optional<uikit::UIColor>> color;
  std::optional<uikit::UIFont> font;
  // The button's own title colour, for a foreground colour that goes away.
  std::optional<uikit::UIColor> defaultColor;
  ButtonState() : button(std::make_shared<uikit::UIButton>(uikit::UIButton::ButtonType::system)) {
    button->setTranslatesAutoresizingMaskIntoConstraints(false);
  }
};
}  // namespace

detail::Rendered Button::render(detail::RenderContext&, detail::Node& node,
                                const detail::Environment& environment) const {
  auto state = std::static_pointer_cast<ButtonState>(node.primitiveState);
  if (!state) {
    state = kept<ButtonState>(node);
    state->defaultColor = state->button->titleColor(uikit::UIControlState::normal);
    std::weak_ptr<ButtonState> weak = state;
    state->button->addTarget(
        nullptr,
        [weak] {
          auto s = weak.lock();
          if (!s) return;
          if (auto action = s->action) action();
        },
        uikit::UIControlEvents::touchUpInside);
  }
  state->action = action_;
  auto& button = state->button;
  update(state->title, label_.string(),
         [&](const std::string& t) { button->setTitle(t, uikit::UIControlState::normal); });
  std::optional<uikit::UIColor> color;
  if (environment.foregroundColor) color = environment.foregroundColor->uiColor;
  update(state->color, color, [&](const std::optional<uikit::UIColor>& c) {
    if (c) {
      button->setTitleColor(*c, uikit::UIControlState::normal);
    } else if (state->defaultColor) {
      button->setTitleColor(*state->defaultColor, uikit::UIControlState::normal);
    }
  });
  update(state->font, fontFor(environment), [&](const uikit::UIFont& f) {
    button->titleLabel()->setFont(f);
    button->invalidateIntrinsicContentSize();
  });
  return {button};
}

// --- VStack ---

namespace {
struct StackState {
  std::shared_ptr<uikit::UIStackView> stack;
  std::optional<CGFloat> spacing;
  std::optional<uikit::UIStackView::Alignment> alignment;
  // The members' width constraints (flexible members span the stack).
  std::vector<std::pair<std::shared_ptr<UIView>, std::shared_ptr<NSLayoutConstraint>>> widths;
  StackState() : stack(std::make_shared<uikit::UIStackView>()) {
    stack->setTranslatesAutoresizingMaskIntoConstraints(false);
    stack->setAxis(uikit::NSLayoutConstraintAxis::vertical);
  }
};
}  // namespace

detail::Rendered VStack::render(detail::RenderContext& context, detail::Node& node,
                                const detail::Environment& environment) const {
  auto state = kept<StackState>(node);
  auto& stack = state->stack;
  update(state->spacing, spacing_.value_or(8), [&](CGFloat s) { stack->setSpacing(s); });
  auto alignment = uikit::UIStackView::Alignment::center;
  if (alignment_ == HorizontalAlignment::leading) alignment = uikit::UIStackView::Alignment::leading;
  if (alignment_ == HorizontalAlignment::trailing) alignment = uikit::UIStackView::Alignment::trailing;
  update(state->alignment, alignment, [&](uikit::UIStackView::Alignment a) { stack->setAlignment(a); });

  detail::Rendered result{stack};
  std::vector<std::shared_ptr<UIView>> members;
  std::vector<std::shared_ptr<UIView>> flexible;
  for (std::size_t i = 0; i < content_.size(); ++i) {
    auto child = context.render(content_[i], node.child(i), environment);
    members.push_back(child.view);
    if (child.flexibleWidth) {
      result.flexibleWidth = true;
      flexible.push_back(child.view);
    }
    result.flexibleHeight = result.flexibleHeight || child.flexibleHeight;
    result.ignoresSafeArea = result.ignoresSafeArea || child.ignoresSafeArea;
  }
  node.trimChildren(content_.size());

  // Members that are no longer here leave; the others keep their place in
  // the view tree (moving one would end its editing), in the new order.
  for (const auto& old : std::vector(stack->arrangedSubviews())) {
    if (std::find(members.begin(), members.end(), old) != members.end()) continue;
    stack->removeArrangedSubview(old);
    if (old->superview() == stack) old->removeFromSuperview();
  }
  for (std::size_t i = 0; i < members.size(); ++i) {
    const auto& arranged = stack->arrangedSubviews();
    if (i < arranged.size() && arranged[i] == members[i]) continue;
    stack->insertArrangedSubview(members[i], i);
  }

  auto& widths = state->widths;
  std::erase_if(widths, [&](const auto& entry) {
    if (std::find(flexible.begin(), flexible.end(), entry.first) != flexible.end()) return false;
    entry.second->setActive(false);
    return true;
  });
  for (const auto& view : flexible) {
    auto it =
        std::find_if(widths.begin(), widths.end(), [&](const auto& entry) { return entry.first == view; });
    if (it == widths.end()) {
      widths.emplace_back(view, view->widthAnchor().constraintEqualTo(stack->widthAnchor()));
      it = std::prev(widths.end());
    }
    if (!it->second->isActive()) it->second->setActive(true);
  }
  return result;
}

namespace detail {

// --- Modifiers ---

Rendered PaddingView::render(RenderContext& context, Node& node, const Environment& environment) const {
  auto child = context.render(content, node.child(0), environment);
  node.trimChildren(1);
  auto inset = [&](Edge::Set edge) { return contains(edges, edge) ? length : 0; };
  auto state = kept<Wrapper>(node);
  state->hold(child.view, {inset(Edge::Set::top), inset(Edge::Set::leading), inset(Edge::Set::bottom),
                           inset(Edge::Set::trailing)});
  child.view = state->box;
  return child;
}

Rendered EnvironmentView::render(RenderContext& context, Node& node, const Environment& environment) const {
  Environment changed = environment;
  if (change) change(changed);
  auto child = context.render(content, node.child(0), changed);
  node.trimChildren(1);
  return child;
}

namespace {
struct DecorationState {
  std::shared_ptr<UIView> seen;  // the content's view the decision below was made for
  bool boxed = false;
  Wrapper wrapper;
  std::optional<uikit::UIColor> painted;
};
}  // namespace

Rendered DecorationView::render(RenderContext& context, Node& node, const Environment& environment) const {
  auto child = context.render(content, node.child(0), environment);
  node.trimChildren(1);
  auto state = kept<DecorationState>(node);
  if (child.view != state->seen) {
    // The colour fills the content's frame: painted on the content's own
    // view unless that one already has a colour of its own. Decided once per
    // content view, since the colour painted here is its own afterwards.
    state->seen = child.view;
    state->boxed = background && child.view->backgroundColor();
    state->painted.reset();
  }
  if (state->boxed) {
    if (state->wrapper.hold(child.view, {0, 0, 0, 0})) state->painted.reset();
    child.view = state->wrapper.box;
  } else if (state->wrapper.box) {
    // Boxed for an earlier content view: that box is done with.
    auto& old = state->wrapper;
    if (old.child && old.child != child.view && old.child->superview() == old.box)
      old.child->removeFromSuperview();
    NSLayoutConstraint::deactivate(old.constraints);
    old = Wrapper{};
  }
  if (background) {
    auto& target = child.view;
    update(state->painted, background->uiColor,
           [&](const uikit::UIColor& c) { target->setBackgroundColor(c); });
  }
  if (cornerRadius && child.view->layer()->cornerRadius() != *cornerRadius) {
    child.view->layer()->setCornerRadius(*cornerRadius);
    child.view->setClipsToBounds(true);
  }
  if (ignoresSafeArea) child.ignoresSafeArea = true;
  return child;
}

// --- Full-screen cover ---

namespace {

struct CoverState : std::enable_shared_from_this<CoverState> {
  std::weak_ptr<UIHostingControllerBase> host;
  std::shared_ptr<UIHostingControllerBase> controller;
  bool dismissing = false;  // this cover asked for the dismissal
  bool detached = false;    // the view that carried the cover is gone
  std::optional<Binding<bool>> isPresented;
  std::function<void()> onDismiss;
  std::function<AnyView()> content;
  std::function<void()> invalidate;

  void present() {
    auto h = host.lock();
    if (detached || controller || !h || !isPresented || !isPresented->get() || !content) return;
    auto cover = std::make_shared<UIHostingController<AnyView>>(content());
    cover->setModalPresentationStyle(uikit::UIModalPresentationStyle::fullScreen);
    std::weak_ptr<CoverState> weak = weak_from_this();
    cover->onDismissedAsCover = [weak] {
      if (auto s = weak.lock()) s->didDismiss();
    };
    h->present(cover, true);
    if (cover->presentingViewController()) {
      controller = cover;
    } else {
      cover->onDismissedAsCover = nullptr;  // refused: tried again at the next change
    }
  }

  void dismiss() {
    if (!controller || dismissing) return;
    dismissing = true;
    // Through the presenter, so whatever the cover presented in turn goes too.
    if (auto presenter = controller->presentingViewController()) {
      presenter->dismiss(true);
    }
  }

  // The cover's controller has gone off screen for good.
  void didDismiss() {
    if (detached) return;
    bool requested = dismissing;
    controller.reset();
    dismissing = false;
    // Dismissed by other code: the flag follows at once, so a result
    // delivered in the same dismissal already sees it lowered. When the
    // flag itself asked for the dismissal it may have been raised again
    // meanwhile, and is left alone.
    if (!requested && isPresented && isPresented->get()) isPresented->set(false);
    std::weak_ptr<CoverState> weak = weak_from_this();
    dispatch::DispatchQueue::main().async([weak] {
      auto s = weak.lock();
      if (!s || s->detached) return;
      if (auto onDismiss = s->onDismiss) onDismiss();
      if (s->invalidate) s->invalidate();
    });
  }
};

}  // namespace

Rendered FullScreenCoverView::render(RenderContext& context, Node& node,
                                     const Environment& environment) const {
  auto child = context.render(content, node.child(0), environment);
  node.trimChildren(1);

  auto state = std::static_pointer_cast<CoverState>(node.primitiveState);
  if (!state) {
    state = std::make_shared<CoverState>();
    node.primitiveState = state;
    std::weak_ptr<CoverState> weak = state;
    node.onTearDown = [weak](bool discarding) {
      auto s = weak.lock();
      if (!s) return;
      s->detached = true;
      if (s->controller) {
        s->controller->onDismissedAsCover = nullptr;
        // A cover whose view has left the tree goes with it; a hosting
        // controller being destroyed can no longer dismiss anything.
        if (!discarding && !s->dismissing) {
          if (auto presenter = s->controller->presentingViewController()) presenter->dismiss(true);
        }
      }
    };
  }
  state->host = std::static_pointer_cast<UIHostingControllerBase>(context.host().shared_from_this());
  state->isPresented = isPresented;
  state->onDismiss = onDismiss;
  state->content = cover;
  state->invalidate = context.invalidate();

  bool wanted = isPresented.get();
  if (wanted && !state->controller) {
    context.afterRender([state] { state->present(); });
  } else if (wanted && !state->dismissing) {
    state->controller->setAnyRootView(cover());
  } else if (!wanted && state->controller) {
    context.afterRender([state] { state->dismiss(); });
  }
  return child;
}

}  // namespace detail

}  // namespace swiftui
