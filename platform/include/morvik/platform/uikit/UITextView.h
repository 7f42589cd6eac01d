// UITextView (editable multi-line text) and UITextField (one line). Main
// thread only.
//
// Setting text in code does not call the delegate, as on the platform.
// insertText and deleteBackward stand in for the keyboard: they change the
// text and then tell the delegate (textViewDidChange / editingChanged).
// Delegates are held weakly. A text view may be its own delegate.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <morvik/platform/uikit/UIControl.h>
#include <morvik/platform/uikit/UIFont.h>
#include <morvik/platform/uikit/UIScrollView.h>

namespace uikit {

class UITextView;
class UITextField;

class UITextViewDelegate {
 public:
  virtual ~UITextViewDelegate() = default;
  virtual bool textViewShouldBeginEditing(UITextView& textView) {
    (void)textView;
    return true;
  }
  virtual void textViewDidBeginEditing(UITextView& textView) { (void)textView; }
  virtual void textViewDidEndEditing(UITextView& textView) { (void)textView; }
  virtual void textViewDidChange(UITextView& textView) { (void)textView; }
};

struct NSTextContainer {
  CGFloat lineFragmentPadding = 5;
};

class UITextView : public UIScrollView, public UITextViewDelegate {
 public:
  explicit UITextView(const CGRect& frame = {});
  std::string className() const override { return "UITextView"; }

  const std::string& text() const { return text_; }
  void setText(std::string text);
  const std::optional<UIFont>& font() const { return font_; }
  void setFont(std::optional<UIFont> font);
  const UIColor& textColor() const { return textColor_; }
  void setTextColor(const UIColor& color);
  NSTextAlignment textAlignment() const { return textAlignment_; }
  void setTextAlignment(NSTextAlignment alignment);
  bool isEditable() const { return editable_; }
  void setEditable(bool editable);
  // (8, 0, 8, 0) by default.
  UIEdgeInsets textContainerInset() const { return textContainerInset_; }
  void setTextContainerInset(const UIEdgeInsets& inset);
  NSTextContainer& textContainer() { return textContainer_; }
  const NSTextContainer& textContainer() const { return textContainer_; }
  bool hasText() const { return !text_.empty(); }

  std::weak_ptr<UITextViewDelegate> delegate;

  bool canBecomeFirstResponder() const override { return editable_; }
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;
  // Keyboard input at the end of the text.
  void insertText(const std::string& text);
  void deleteBackward();

  // Process-wide additions to every text view (installed once by a host or
  // library): `didSetBounds` runs after the bounds (or the frame's size)
  // change, `textViewDidChange` with the receiver (not the argument) when
  // textViewDidChange runs on a text view, as it does for one that is its
  // own delegate when its text changes.
  struct ClassHooks {
    std::function<void(UITextView&)> didSetBounds;
    std::function<void(UITextView&)> textViewDidChange;
  };
  static void setClassHooks(ClassHooks hooks);
  void textViewDidChange(UITextView& textView) override;

 protected:
  void boundsDidChange() override;
  std::string descriptionFields() const override;

 private:
  void notifyChange();
  std::string text_;
  std::optional<UIFont> font_;
  UIColor textColor_ = UIColor::label();
  NSTextAlignment textAlignment_ = NSTextAlignment::natural;
  bool editable_ = true;
  UIEdgeInsets textContainerInset_{8, 0, 8, 0};
  NSTextContainer textContainer_;
};

// A view that edits text in a way of its own (not a UITextField or
// UITextView, which the display knows): where its caret goes, so that the
// display draws it while the view is first responder.
class UITextInput {
 public:
  virtual ~UITextInput() = default;
  // The caret at the insertion point, in the view's bounds.
  virtual CGRect caretRect() const = 0;
};

class UITextFieldDelegate {
 public:
  virtual ~UITextFieldDelegate() = default;
  virtual bool textFieldShouldBeginEditing(UITextField& textField) {
    (void)textField;
    return true;
  }
  virtual void textFieldDidBeginEditing(UITextField& textField) { (void)textField; }
  virtual void textFieldDidEndEditing(UITextField& textField) { (void)textField; }
  virtual bool textFieldShouldReturn(UITextField& textField) {
    (void)textField;
    return true;
  }
};

class UITextField : public UIControl {
 public:
  explicit UITextField(const CGRect& frame = {});
  std::string className() const override { return "UITextField"; }

  const std::optional<std::string>& text() const { return text_; }
  void setText(std::optional<std::string> text);
  const std::optional<std::string>& placeholder() const { return placeholder_; }
  void setPlaceholder(std::optional<std::string> placeholder);
  const UIFont& font() const { return font_; }
  void setFont(const UIFont& font);
  const UIColor& textColor() const { return textColor_; }
  void setTextColor(const UIColor& color);
  NSTextAlignment textAlignment() const { return textAlignment_; }
  void setTextAlignment(NSTextAlignment alignment);
  bool isEditing() const { return isFirstResponder(); }

  std::weak_ptr<UITextFieldDelegate> delegate;

  bool canBecomeFirstResponder() const override { return isEnabled(); }
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;
  void insertText(const std::string& text);
  void deleteBackward();
  // The return key: asks the delegate (textFieldShouldReturn).
  bool pressReturn();

  CGSize intrinsicContentSize() const override;

 protected:
  std::string descriptionFields() const override;

 private:
  std::optional<std::string> text_;
  std::optional<std::string> placeholder_;
  UIFont font_ = UIFont::systemFont(17);
  UIColor textColor_ = UIColor::label();
  NSTextAlignment textAlignment_ = NSTextAlignment::natural;
};

}  // namespace uikit
