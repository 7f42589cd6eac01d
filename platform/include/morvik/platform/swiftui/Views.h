// The primitive views: Text, TextField, Button, VStack and EmptyView.
// Each is hosted as a UIKit view (UILabel, HostedTextField, UIButton,
// UIStackView) that shows in the hosting view's recursiveDescription().
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <morvik/platform/swiftui/View.h>
#include <morvik/platform/uikit/UIControl.h>
#include <morvik/platform/uikit/UILabel.h>
#include <morvik/platform/uikit/UITextView.h>

namespace swiftui {

class EmptyView : public detail::PrimitiveView, public Modifiers<EmptyView> {
 public:
  detail::Rendered render(detail::RenderContext& context, detail::Node& node,
                          const detail::Environment& environment) const override;
};

// Text from a localisation key (looked up when shown) or shown verbatim.
class Text : public detail::PrimitiveView, public Modifiers<Text> {
 public:
  Text(LocalizedStringKey key) : content_(key.key), isKey_(true) {}  // NOLINT(google-explicit-constructor)
  static Text verbatim(std::string content) { return Text(std::move(content), false); }

  // What is shown: the key's translation, or the verbatim text.
  std::string string() const { return isKey_ ? LocalizedStringKey(content_).resolved() : content_; }
  bool isVerbatim() const { return !isKey_; }

  detail::Rendered render(detail::RenderContext& context, detail::Node& node,
                          const detail::Environment& environment) const override;

 private:
  Text(std::string content, bool isKey) : content_(std::move(content)), isKey_(isKey) {}
  std::string content_;
  bool isKey_;
};

// The UIKit view behind a TextField: an editable line of text showing its
// placeholder while empty. type() is how a host or a test types into it.
class HostedTextField : public uikit::UIControl, public uikit::UITextInput {
 public:
  HostedTextField();
  std::string className() const override { return "TextField"; }

  const std::string& text() const { return text_; }
  // Replaces the text and sends editingChanged (as typing would).
  void type(const std::string& text);
  // Sets the text without telling anyone (the binding's value shown).
  void setText(std::string text);
  const std::string& placeholder() const { return placeholder_; }
  void setPlaceholder(std::string placeholder);
  bool hasRoundedBorder() const { return roundedBorder_; }
  void setRoundedBorder(bool rounded);
  const uikit::UIFont& font() const { return font_; }
  void setFont(const uikit::UIFont& font);
  const std::shared_ptr<uikit::UILabel>& label() const { return label_; }

  bool canBecomeFirstResponder() const override { return true; }
  // After the text (at the start while the placeholder shows).
  uikit::CGRect caretRect() const override;
  uikit::CGSize intrinsicContentSize() const override;
  void layoutSubviews() override;

 protected:
  std::string descriptionFields() const override;

 private:
  void refresh();
  std::string text_;
  std::string placeholder_;
  bool roundedBorder_ = false;
  uikit::UIFont font_ = uikit::UIFont::systemFont(17);
  std::shared_ptr<uikit::UILabel> label_;
};

// A single-line text field bound to a string; the placeholder is a key.
class TextField : public detail::PrimitiveView, public Modifiers<TextField> {
 public:
  TextField(LocalizedStringKey placeholder, Binding<std::string> text)
      : placeholder_(std::move(placeholder)), text_(std::move(text)) {}
  detail::Rendered render(detail::RenderContext& context, detail::Node& node,
                          const detail::Environment& environment) const override;

 private:
  LocalizedStringKey placeholder_;
  Binding<std::string> text_;
};

// A button with a text label; the action runs on the main thread when it is
// tapped (touchUpInside of its UIButton).
class Button : public detail::PrimitiveView, public Modifiers<Button> {
 public:
  Button(LocalizedStringKey titleKey, std::function<void()> action)
      : label_(titleKey), action_(std::move(action)) {}
  Button(Text label, std::function<void()> action) : label_(std::move(label)), action_(std::move(action)) {}
  const Text& label() const { return label_; }
  detail::Rendered render(detail::RenderContext& context, detail::Node& node,
                          const detail::Environment& environment) const override;

 private:
  Text label_;
  std::function<void()> action_;
};

// Views one above the other, `spacing` apart (8 by default), aligned on the
// horizontal axis.
class VStack : public detail::PrimitiveView, public Modifiers<VStack> {
 public:
  VStack(HorizontalAlignment alignment, std::optional<CGFloat> spacing, std::vector<AnyView> content)
      : alignment_(alignment), spacing_(spacing), content_(std::move(content)) {}
  explicit VStack(std::vector<AnyView> content)
      : VStack(HorizontalAlignment::center, std::nullopt, std::move(content)) {}
  detail::Rendered render(detail::RenderContext& context, detail::Node& node,
                          const detail::Environment& environment) const override;

 private:
  HorizontalAlignment alignment_;
  std::optional<CGFloat> spacing_;
  std::vector<AnyView> content_;
};

}  // namespace swiftui
