#include "morvik/support/Extensions.h"

#include <morvik/platform/dispatch/Dispatch.h>
#include <morvik/platform/foundation/Bundle.h>
#include <morvik/platform/uikit/ClassRegistry.h>
#include <morvik/platform/uikit/UINavigationController.h>
#include <morvik/platform/uikit/UITextView.h>
#include <morvik/platform/uikit/UIViewController.h>

#include <limits>

#include "morvik/support/ImagePicker.h"
#include "morvik/support/NibView.h"
#include "morvik/support/RuntimeAdditions.h"
#include "morvik/support/UIViewX.h"

namespace morvik {
namespace {

void relayPlaceholder(uikit::UITextView& textView) {
  auto label = std::dynamic_pointer_cast<uikit::UILabel>(textView.viewWithTag(kTextViewPlaceholderTag));
  // viewWithTag answers the receiver itself when it carries the tag; that is
  // not a placeholder.
  if (!label || label.get() == static_cast<uikit::UIView*>(&textView)) return;
  const auto padding = textView.textContainer().lineFragmentPadding;
  const auto top = textView.textContainerInset().top;
  label->setFrame({{padding, top - 2}, {textView.frame().width() - 2 * padding, label->frame().height()}});
}

void showOrHidePlaceholder(uikit::UITextView& textView) {
  auto label = std::dynamic_pointer_cast<uikit::UILabel>(textView.viewWithTag(kTextViewPlaceholderTag));
  if (!label || label.get() == static_cast<uikit::UIView*>(&textView)) return;
  label->setHidden(!textView.text().empty());
}

void registerClasses() {
  auto& registry = uikit::ClassRegistry::shared();
  // The SDK's own folder: where its interface files would sit.
  auto bundle = foundation::Bundle::containing(reinterpret_cast<const void*>(&registerClasses));
  using T = uikit::InterfaceValueType;
  using uikit::CGFloat;
  using uikit::UIColor;

  registry.registerViewClass(
      "NibView", "UIView", [](const uikit::CGRect& frame) { return NibView::make(frame); }, bundle);

  registry.registerViewClass(
      "UIViewX", "UIView", [](const uikit::CGRect& frame) { return std::make_shared<UIViewX>(frame); },
      bundle);
  registry.registerViewProperty<UIViewX, UIColor>("UIViewX", "firstColor", T::color,
                                                  [](UIViewX& v, const UIColor& c) { v.setFirstColor(c); });
  registry.registerViewProperty<UIViewX, UIColor>("UIViewX", "secondColor", T::color,
                                                  [](UIViewX& v, const UIColor& c) { v.setSecondColor(c); });
  registry.registerViewProperty<UIViewX, bool>("UIViewX", "horizontalGradient", T::boolean,
                                               [](UIViewX& v, bool h) { v.setHorizontalGradient(h); });
  registry.registerViewProperty<UIViewX, UIColor>("UIViewX", "borderColor", T::color,
                                                  [](UIViewX& v, const UIColor& c) { v.setBorderColor(c); });
  registry.registerViewProperty<UIViewX, CGFloat>("UIViewX", "borderWidth", T::number,
                                                  [](UIViewX& v, CGFloat w) { v.setBorderWidth(w); });
  registry.registerViewProperty<UIViewX, CGFloat>("UIViewX", "cornerRadius", T::number,
                                                  [](UIViewX& v, CGFloat r) { v.setCornerRadius(r); });
  registry.registerViewProperty<UIViewX, CGFloat>("UIViewX", "shadowOpacity", T::number,
                                                  [](UIViewX& v, CGFloat o) { v.setShadowOpacity(o); });
  registry.registerViewProperty<UIViewX, UIColor>("UIViewX", "shadowColor", T::color,
                                                  [](UIViewX& v, const UIColor& c) { v.setShadowColor(c); });
  registry.registerViewProperty<UIViewX, CGFloat>("UIViewX", "shadowRadius", T::number,
                                                  [](UIViewX& v, CGFloat r) { v.setShadowRadius(r); });
  registry.registerViewProperty<UIViewX, uikit::CGSize>(
      "UIViewX", "shadowOffset", T::size, [](UIViewX& v, const uikit::CGSize& s) { v.setShadowOffset(s); });

  registry.registerObjectClass(
      "ImagePicker", "NSObject",
      [] { return std::static_pointer_cast<void>(std::make_shared<ImagePicker>()); }, bundle);
}

}  // namespace

void loadRuntimeAdditions() {
  static const bool loaded = [] {
    registerClasses();
    installExtensions();
    return true;
  }();
  (void)loaded;
}

void installExtensions() {
  uikit::UITextView::setClassHooks({relayPlaceholder, showOrHidePlaceholder});
  uikit::UIViewController::setClassHooks({
      [](uikit::UIViewController& controller) {
        if (const auto& view = controller.viewIfLoaded()) view->endEditing(true);
      },
      [](uikit::UIViewController& controller) {
        auto strong = controller.weak_from_this().lock();
        if (!strong) return;  // not owned by a shared_ptr: nothing can hold it until later
        dispatch::DispatchQueue::main().async([strong] {
          if (auto navigation = strong->navigationController()) navigation->popViewController(true);
        });
      },
  });
}

std::optional<Weekday> makeWeekday(int raw) {
  if (raw < 1 || raw > 7) return std::nullopt;
  return static_cast<Weekday>(raw);
}

foundation::Date next(const foundation::Date& date, Weekday weekday,
                      foundation::Calendar::SearchDirection direction, bool considerToday) {
  return next(date, weekday, direction, considerToday, foundation::TimeZone::current());
}

foundation::Date next(const foundation::Date& date, Weekday weekday,
                      foundation::Calendar::SearchDirection direction, bool considerToday,
                      const foundation::TimeZone& timeZone) {
  foundation::Calendar calendar(foundation::Calendar::Identifier::gregorian);
  calendar.setTimeZone(timeZone);
  const foundation::DateComponents components{.weekday = rawValue(weekday)};
  if (considerToday &&
      calendar.component(foundation::Calendar::Component::weekday, date) == rawValue(weekday)) {
    return date;
  }
  // A weekday-only match always exists within a week.
  return calendar
      .nextDate(date, components, foundation::Calendar::MatchingPolicy::nextTime,
                foundation::Calendar::RepeatedTimePolicy::first, direction)
      .value_or(date);
}

uikit::CGFloat requiredHeight(const uikit::UILabel& label) {
  auto measure = std::make_shared<uikit::UILabel>(
      uikit::CGRect{{0, 0}, {label.frame().width(), std::numeric_limits<uikit::CGFloat>::max()}});
  measure->setNumberOfLines(0);
  measure->setLineBreakMode(uikit::NSLineBreakMode::byWordWrapping);
  measure->setFont(label.font());
  measure->setText(label.text());
  // Our labels hold no attributed text after plain text is set; copying an
  // absent one would erase the text just copied.
  if (label.attributedText()) measure->setAttributedText(label.attributedText());
  measure->sizeToFit();
  return measure->frame().height();
}

bool setAsLink(foundation::NSMutableAttributedString& string, std::string_view textToFind,
               std::string_view linkURL) {
  const auto found = string.range(textToFind);
  if (found.location == foundation::NSNotFound) return false;
  string.addLink(std::string(linkURL), found);
  return true;
}

}  // namespace morvik
