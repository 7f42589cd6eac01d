#include <morvik/platform/swiftui/Graph.h>
#include <morvik/platform/swiftui/UIHostingController.h>
#include <morvik/platform/swiftui/Views.h>

#include <cstdio>
#include <cstdlib>
#include <map>

namespace swiftui {

// --- Properties ---

namespace detail {
namespace {
thread_local PropertyCollector* currentCollector = nullptr;
}  // namespace

PropertyCollector::PropertyCollector(const void* begin, std::size_t size)
    : begin_(static_cast<const char*>(begin)), end_(begin_ + size), previous_(currentCollector) {
  currentCollector = this;
}

PropertyCollector::~PropertyCollector() { currentCollector = previous_; }

DynamicProperty::DynamicProperty() {
  // Only properties that are part of the copy being made are recorded: a
  // view's constructor may well build other views on the side.
  if (auto* c = currentCollector) {
    auto* self = reinterpret_cast<const char*>(this);
    if (self >= c->begin_ && self < c->end_) c->found_.push_back(this);
  }
}

DynamicProperty::DynamicProperty(const DynamicProperty&) : DynamicProperty() {}

// --- Nodes ---

Node::~Node() = default;

std::shared_ptr<Node>& Node::child(std::size_t index) {
  if (children.size() <= index) children.resize(index + 1);
  return children[index];
}

void Node::trimChildren(std::size_t count) {
  while (children.size() > count) {
    auto last = std::move(children.back());
    children.pop_back();
    if (last) last->tearDown(false);
  }
}

void Node::tearDown(bool discarding) {
  for (auto& c : children) {
    if (c) c->tearDown(discarding);
  }
  children.clear();
  if (auto hook = std::move(onTearDown)) hook(discarding);
  onTearDown = nullptr;
  host.subscriptions.clear();
  host.invalidate = nullptr;
}

Rendered RenderContext::render(const AnyView& view, std::shared_ptr<Node>& slot,
                               const Environment& environment) {
  Instance instance = view.instantiate();
  if (slot && slot->type != view.type()) {
    slot->tearDown(false);
    slot.reset();
  }
  if (!slot) {
    slot = std::make_shared<Node>(view.type());
  } else if (slot->instance.properties.size() == instance.properties.size()) {
    for (std::size_t i = 0; i < instance.properties.size(); ++i) {
      instance.properties[i]->adopt(*slot->instance.properties[i]);
    }
  }
  auto node = slot;  // the slot's vector may grow while children render
  node->host.subscriptions.clear();
  node->host.invalidate = invalidate_;
  for (auto* p : instance.properties) p->install(node->host);
  node->instance = std::move(instance);

  if (auto* primitive = dynamic_cast<const PrimitiveView*>(node->instance.view.get())) {
    return primitive->render(*this, *node, environment);
  }
  AnyView body = node->instance.view->body();
  Rendered rendered = render(body, node->child(0), environment);
  node->trimChildren(1);
  return rendered;
}

void RenderContext::adoptChild(const std::shared_ptr<uikit::UIViewController>& controller) {
  if (controller->parent().get() == &host_) return;
  host_.addChild(controller);
  // A child added while its parent is on screen gets its own appearance
  // calls; one added before follows the parent's.
  if (host_.isVisible()) {
    controller->beginAppearanceTransition(true, false);
    controller->endAppearanceTransition();
  }
  controller->didMove(&host_);
}

void RenderContext::releaseChild(const std::shared_ptr<uikit::UIViewController>& controller) {
  if (!controller->parent()) return;
  controller->willMove(nullptr);
  if (controller->isVisible()) {
    controller->beginAppearanceTransition(false, false);
    controller->endAppearanceTransition();
  }
  if (auto v = controller->viewIfLoaded()) v->removeFromSuperview();
  controller->removeFromParent();
}

}  // namespace detail

// --- View ---

AnyView View::body() const {
  std::fprintf(stderr, "swiftui: body() of a view that has none\n");
  std::abort();
}

AnyView::AnyView() : AnyView(EmptyView()) {}

// --- Values ---

uikit::UIFont Font::uiFont() const {
  using W = uikit::UIFont::Weight;
  switch (style_) {
    case TextStyle::largeTitle:
      return uikit::UIFont::systemFont(34);
    case TextStyle::title:
      return uikit::UIFont::systemFont(28);
    case TextStyle::title2:
      return uikit::UIFont::systemFont(22);
    case TextStyle::title3:
      return uikit::UIFont::systemFont(20);
    case TextStyle::headline:
      return uikit::UIFont::systemFont(17, W::semibold);
    case TextStyle::body:
      return uikit::UIFont::systemFont(17);
    case TextStyle::callout:
      return uikit::UIFont::systemFont(16);
    case TextStyle::subheadline:
      return uikit::UIFont::systemFont(15);
    case TextStyle::footnote:
      return uikit::UIFont::systemFont(13);
    case TextStyle::caption:
      return uikit::UIFont::systemFont(12);
    case TextStyle::caption2:
      return uikit::UIFont::systemFont(11);
  }
  return uikit::UIFont::systemFont(17);
}

namespace {
std::map<std::string, std::string>& localizedTable() {
  static std::map<std::string, std::string> table;
  return table;
}
}  // namespace

void setLocalizedStrings(std::map<std::string, std::string> table) { localizedTable() = std::move(table); }

std::string LocalizedStringKey::resolved() const {
  auto& table = localizedTable();
  auto it = table.find(key);
  return it == table.end() ? key : it->second;
}

}  // namespace swiftui
