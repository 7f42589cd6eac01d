#include "morvik/platform/uikit/UITextView.h"

#include "morvik/platform/uikit/UILabel.h"

namespace uikit {

namespace {
UITextView::ClassHooks& hooks() {
  static UITextView::ClassHooks h;
  return h;
}

void dropLastCharacter(std::string& s) {
  if (s.empty()) return;
  std::size_t i = s.size() - 1;
  // Step back over UTF-8 continuation bytes to the start of the character.
  while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
  s.erase(i);
}
}  // namespace

UITextView::UITextView(const CGRect& frame) : UIScrollView(frame) {}

void UITextView::setClassHooks(ClassHooks h) { hooks() = std::move(h); }

void UITextView::setText(std::string text) {
  checkThread("UITextView::setText");
  text_ = std::move(text);
}

void UITextView::setFont(std::optional<UIFont> font) {
  checkThread("UITextView::setFont");
  font_ = font;
}

void UITextView::setTextColor(const UIColor& color) {
  checkThread("UITextView::setTextColor");
  textColor_ = color;
}

void UITextView::setTextAlignment(NSTextAlignment alignment) {
  checkThread("UITextView::setTextAlignment");
  textAlignment_ = alignment;
}

void UITextView::setEditable(bool editable) {
  checkThread("UITextView::setEditable");
  editable_ = editable;
  if (!editable && isFirstResponder()) resignFirstResponder();
}

void UITextView::setTextContainerInset(const UIEdgeInsets& inset) {
  checkThread("UITextView::setTextContainerInset");
  textContainerInset_ = inset;
}

bool UITextView::becomeFirstResponder() {
  if (isFirstResponder()) return true;
  auto d = delegate.lock();
  if (d && !d->textViewShouldBeginEditing(*this)) return false;
  if (!UIScrollView::becomeFirstResponder()) return false;
  if (d) d->textViewDidBeginEditing(*this);
  return true;
}

bool UITextView::resignFirstResponder() {
  if (!isFirstResponder()) return true;
  UIScrollView::resignFirstResponder();
  if (auto d = delegate.lock()) d->textViewDidEndEditing(*this);
  return true;
}

void UITextView::notifyChange() {
  if (auto d = delegate.lock()) d->textViewDidChange(*this);
}

void UITextView::insertText(const std::string& text) {
  checkThread("UITextView::insertText");
  if (!editable_) return;
  text_ += text;
  notifyChange();
}

void UITextView::deleteBackward() {
  checkThread("UITextView::deleteBackward");
  if (!editable_ || text_.empty()) return;
  dropLastCharacter(text_);
  notifyChange();
}

void UITextView::textViewDidChange(UITextView& textView) {
  (void)textView;
  // The addition acts on the receiver; the argument is not consulted.
  if (hooks().textViewDidChange) hooks().textViewDidChange(*this);
}

void UITextView::boundsDidChange() {
  if (hooks().didSetBounds) hooks().didSetBounds(*this);
}

std::string UITextView::descriptionFields() const { return "; text = '" + text_ + "'"; }

UITextField::UITextField(const CGRect& frame) : UIControl(frame) {}

void UITextField::setText(std::optional<std::string> text) {
  checkThread("UITextField::setText");
  text_ = std::move(text);
  invalidateIntrinsicContentSize();
}

void UITextField::setPlaceholder(std::optional<std::string> placeholder) {
  checkThread("UITextField::setPlaceholder");
  placeholder_ = std::move(placeholder);
  invalidateIntrinsicContentSize();
}

void UITextField::setFont(const UIFont& font) {
  checkThread("UITextField::setFont");
  font_ = font;
  invalidateIntrinsicContentSize();
}

void UITextField::setTextColor(const UIColor& color) {
  checkThread("UITextField::setTextColor");
  textColor_ = color;
}

void UITextField::setTextAlignment(NSTextAlignment alignment) {
  checkThread("UITextField::setTextAlignment");
  textAlignment_ = alignment;
}

bool UITextField::becomeFirstResponder() {
  if (isFirstResponder()) return true;
  auto d = delegate.lock();
  if (d && !d->textFieldShouldBeginEditing(*this)) return false;
  if (!UIControl::becomeFirstResponder()) return false;
  if (d) d->textFieldDidBeginEditing(*this);
  sendActions(UIControlEvents::editingDidBegin);
  return true;
}

bool UITextField::resignFirstResponder() {
  if (!isFirstResponder()) return true;
  UIControl::resignFirstResponder();
  if (auto d = delegate.lock()) d->textFieldDidEndEditing(*this);
  sendActions(UIControlEvents::editingDidEnd);
  return true;
}

void UITextField::insertText(const std::string& text) {
  checkThread("UITextField::insertText");
  if (!isEnabled()) return;
  text_ = text_.value_or("") + text;
  invalidateIntrinsicContentSize();
  sendActions(UIControlEvents::editingChanged);
}

void UITextField::deleteBackward() {
  checkThread("UITextField::deleteBackward");
  if (!isEnabled() || !text_ || text_->empty()) return;
  dropLastCharacter(*text_);
  invalidateIntrinsicContentSize();
  sendActions(UIControlEvents::editingChanged);
}

bool UITextField::pressReturn() {
  checkThread("UITextField::pressReturn");
  auto d = delegate.lock();
  return d ? d->textFieldShouldReturn(*this) : true;
}

CGSize UITextField::intrinsicContentSize() const {
  std::string shown = text_ && !text_->empty() ? *text_ : placeholder_.value_or("");
  return {textWidth(shown, font_), font_.lineHeight()};
}

std::string UITextField::descriptionFields() const {
  std::string out;
  if (text_) out += "; text = '" + *text_ + "'";
  if (placeholder_) out += "; placeholder = '" + *placeholder_ + "'";
  return out + UIControl::descriptionFields();
}

}  // namespace uikit
