#include <morvik/platform/swiftui/Testing.h>

namespace swiftui::testing {

namespace {

template <class V, class Match>
std::shared_ptr<V> find(const std::shared_ptr<uikit::UIView>& view, const Match& match) {
  if (!view || view->isHidden()) return nullptr;
  if (auto v = std::dynamic_pointer_cast<V>(view); v && match(*v)) return v;
  for (auto& sub : view->subviews()) {
    if (auto found = find<V>(sub, match)) return found;
  }
  return nullptr;
}

}  // namespace

std::shared_ptr<uikit::UIButton> findButton(const std::shared_ptr<uikit::UIView>& root,
                                            std::string_view label) {
  return find<uikit::UIButton>(root, [&](const uikit::UIButton& b) {
    auto title = b.title(uikit::UIControlState::normal);
    return title && *title == label;
  });
}

bool tapButton(const std::shared_ptr<uikit::UIView>& root, std::string_view label) {
  auto button = findButton(root, label);
  if (!button || !button->isEnabled()) return false;
  button->sendActions(uikit::UIControlEvents::touchUpInside);
  return true;
}

std::shared_ptr<HostedTextField> findTextField(const std::shared_ptr<uikit::UIView>& root,
                                               std::string_view placeholder) {
  return find<HostedTextField>(root,
                               [&](const HostedTextField& f) { return f.placeholder() == placeholder; });
}

bool typeText(const std::shared_ptr<uikit::UIView>& root, std::string_view placeholder,
              const std::string& text) {
  auto field = findTextField(root, placeholder);
  if (!field) return false;
  field->type(text);
  return true;
}

std::shared_ptr<uikit::UILabel> findLabel(const std::shared_ptr<uikit::UIView>& root, std::string_view text) {
  return find<uikit::UILabel>(root, [&](const uikit::UILabel& l) { return l.text() && *l.text() == text; });
}

}  // namespace swiftui::testing
