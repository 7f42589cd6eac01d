#include <morvik/platform/dispatch.h>
#include <morvik/platform/swiftui/Graph.h>
#include <morvik/platform/swiftui/UIHostingController.h>
#include <morvik/platform/swiftui/Views.h>
#include <morvik/platform/uikit/UIButton.h>
#include <morvik/platform/uikit/UIStackView.h>

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

}  // namespace

// --- EmptyView, Text ---

detail::Rendered EmptyView::render(detail::RenderContext&, detail::Node&, const detail::Environment&) const {
  return {constrained(std::make_shared<UIView>())};
}

detail::Rendered Text::render(detail::RenderContext&, detail::Node&,
                              const detail::Environment& environment) const {
  auto label = std::make_shared<uikit::UILabel>();
  label->setTranslatesAutoresizingMaskIntoConstraints(false);
  label->setText(string());
  label->setFont(fontFor(environment));
  label->setTextColor(environment.foregroundColor ? environment.foregroundColor->uiColor
                                                  : uikit::UIColor::label());
  label->setNumberOfLines(0);
  label->setTextAlignment(uikit::NSTextAlignment::center);
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

detail::Rendered TextField::render(detail::RenderContext&, detail::Node&,
                                   const detail::Environment& environment) const {
  auto field = std::make_shared<HostedTextField>();
  field->setPlaceholder(placeholder_.resolved());
  field->setText(text_.get());
  field->setFont(fontFor(environment));
  field->setRoundedBorder(environment.roundedBorderTextField);
  std::weak_ptr<HostedTextField> weak = field;
  auto binding = text_;
  field->addTarget(
      nullptr,
      [weak, binding] {
        if (auto f = weak.lock()) binding.set(f->text());
      },
      uikit::UIControlEvents::editingChanged);
  return {field, true, false};
}

// --- Button ---

detail::Rendered Button::render(detail::RenderContext&, detail::Node&,
                                const detail::Environment& environment) const {
  auto button = std::make_shared<uikit::UIButton>(uikit::UIButton::ButtonType::system);
  button->setTranslatesAutoresizingMaskIntoConstraints(false);
  button->setTitle(label_.string(), uikit::UIControlState::normal);
  if (environment.foregroundColor)
    button->setTitleColor(environment.foregroundColor->uiColor, uikit::UIControlState::normal);
  button->titleLabel()->setFont(fontFor(environment));
  button->invalidateIntrinsicContentSize();
  auto action = action_;
  button->addTarget(
      nullptr,
      [action] {
        if (action) action();
      },
      uikit::UIControlEvents::touchUpInside);
  return {button};
}

// --- VStack ---

detail::Rendered VStack::render(detail::RenderContext& context, detail::Node& node,
                                const detail::Environment& environment) const {
  auto stack = std::make_shared<uikit::UIStackView>();
  stack->setTranslatesAutoresizingMaskIntoConstraints(false);
  stack->setAxis(uikit::NSLayoutConstraintAxis::vertical);
  stack->setSpacing(spacing_.value_or(8));
  switch (alignment_) {
    case HorizontalAlignment::leading:
      stack->setAlignment(uikit::UIStackView::Alignment::leading);
      break;
    case HorizontalAlignment::center:
      stack->setAlignment(uikit::UIStackView::Alignment::center);
      break;
    case HorizontalAlignment::trailing:
      stack->setAlignment(uikit::UIStackView::Alignment::trailing);
      break;
  }
  detail::Rendered result{stack};
  std::vector<std::shared_ptr<NSLayoutConstraint>> widths;
  for (std::size_t i = 0; i < content_.size(); ++i) {
    auto child = context.render(content_[i], node.child(i), environment);
    stack->addArrangedSubview(child.view);
    if (child.flexibleWidth) {
      result.flexibleWidth = true;
      widths.push_back(child.view->widthAnchor().constraintEqualTo(stack->widthAnchor()));
    }
    result.flexibleHeight = result.flexibleHeight || child.flexibleHeight;
    result.ignoresSafeArea = result.ignoresSafeArea || child.ignoresSafeArea;
  }
  node.trimChildren(content_.size());
  NSLayoutConstraint::activate(widths);
  return result;
}

namespace detail {

// --- Modifiers ---

Rendered PaddingView::render(RenderContext& context, Node& node, const Environment& environment) const {
  auto child = context.render(content, node.child(0), environment);
  node.trimChildren(1);
  auto box = constrained(std::make_shared<UIView>());
  child.view->setTranslatesAutoresizingMaskIntoConstraints(false);
  box->addSubview(child.view);
  auto inset = [&](Edge::Set edge) { return contains(edges, edge) ? length : 0; };
  NSLayoutConstraint::activate({
      child.view->topAnchor().constraintEqualTo(box->topAnchor(), inset(Edge::Set::top)),
      child.view->leadingAnchor().constraintEqualTo(box->leadingAnchor(), inset(Edge::Set::leading)),
      box->bottomAnchor().constraintEqualTo(child.view->bottomAnchor(), inset(Edge::Set::bottom)),
      box->trailingAnchor().constraintEqualTo(child.view->trailingAnchor(), inset(Edge::Set::trailing)),
  });
  child.view = box;
  return child;
}

Rendered EnvironmentView::render(RenderContext& context, Node& node, const Environment& environment) const {
  Environment changed = environment;
  if (change) change(changed);
  auto child = context.render(content, node.child(0), changed);
  node.trimChildren(1);
  return child;
}

Rendered DecorationView::render(RenderContext& context, Node& node, const Environment& environment) const {
  auto child = context.render(content, node.child(0), environment);
  node.trimChildren(1);
  if (background) {
    // The colour fills the content's frame: painted on the content's own
    // view unless that one already has a colour of its own.
    if (child.view->backgroundColor()) {
      auto box = constrained(std::make_shared<UIView>());
      child.view->setTranslatesAutoresizingMaskIntoConstraints(false);
      box->addSubview(child.view);
      NSLayoutConstraint::activate({
          child.view->topAnchor().constraintEqualTo(box->topAnchor()),
          child.view->leadingAnchor().constraintEqualTo(box->leadingAnchor()),
          child.view->bottomAnchor().constraintEqualTo(box->bottomAnchor()),
          child.view->trailingAnchor().constraintEqualTo(box->trailingAnchor()),
      });
      child.view = box;
    }
    child.view->setBackgroundColor(background->uiColor);
  }
  if (cornerRadius) {
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
