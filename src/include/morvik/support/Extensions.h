// Small additions to the platform types, for hosts.
//
// The SDK attaches these to every instance of the platform's classes in the
// process (as the platform's runtime would) when its shared library is
// loaded, or, linked statically, on its first use (MorvikVerify::shared(),
// any of its screens):
//   - UIViewController::dismissKeyboard() ends editing in the controller's
//     view; UIViewController::onBackClicked() pops the controller's
//     navigation stack (animated) on a later turn of the main queue, and does
//     nothing without a navigation controller;
//   - a UITextView keeps its placeholder (the subview tagged
//     kTextViewPlaceholderTag, when it is a UILabel) at the text's first line
//     whenever its bounds change, and textViewDidChange shows the placeholder
//     exactly when the text view's own text is empty;
//   - UITabBarController lays out through UIViewController's
//     viewWillLayoutSubviews.
// A host's subclass inherits them; its override that calls the base runs
// them.
//
// At the same moment it registers three classes for interface files
// (uikit::UINib): "UIViewX", a view whose layer is a two-colour gradient,
// with the colour properties firstColor, secondColor, borderColor and
// shadowColor, the number properties borderWidth, cornerRadius,
// shadowOpacity and shadowRadius, the Boolean horizontalGradient and the
// size shadowOffset; "NibView", a view that loads "<its class name>.nib"
// from its class's bundle as its content; and "ImagePicker", an object with
// no behaviour. The UI additions run on the main thread like the classes they
// extend; the date, attributed-string and user-defaults functions hold no
// state and may run on any thread.
#pragma once

#include <concepts>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <morvik/Export.h>
#include <morvik/platform/foundation/AttributedString.h>
#include <morvik/platform/foundation/Calendar.h>
#include <morvik/platform/foundation/Date.h>
#include <morvik/platform/foundation/JSONCoding.h>
#include <morvik/platform/foundation/TimeZone.h>
#include <morvik/platform/foundation/UserDefaults.h>
#include <morvik/platform/uikit/UILabel.h>

namespace morvik {

// The tag of a text view's placeholder label. The SDK never makes the label:
// a host that wants one adds a UILabel with this tag to the text view.
inline constexpr int kTextViewPlaceholderTag = 100;

// Attaches the additions above to the platform's classes. The SDK does it
// itself (above); calling it again (say, after a host replaced the hooks) puts them
// back. Main thread or load time.
MORVIK_API void installExtensions();

// --- Date ---

// Date.Weekday: the Gregorian calendar's numbers for the weekdays.
enum class Weekday : int {
  sunday = 1,
  monday = 2,
  tuesday = 3,
  wednesday = 4,
  thursday = 5,
  friday = 6,
  saturday = 7
};
// Weekday(rawValue:): 1 to 7; nothing for any other number.
MORVIK_API std::optional<Weekday> makeWeekday(int rawValue);
inline int rawValue(Weekday weekday) { return static_cast<int>(weekday); }

// Date.next(_:direction:considerToday:): the start of the nearest day with
// that weekday after (forward) or before (backward) the date's own day, in
// the Gregorian calendar of the process's time zone. With considerToday, a
// date that already falls on the weekday is answered unchanged, time of day
// included.
MORVIK_API foundation::Date next(const foundation::Date& date, Weekday weekday,
                                 foundation::Calendar::SearchDirection direction, bool considerToday);
// The same, with days reckoned in the given zone instead of the process's.
MORVIK_API foundation::Date next(const foundation::Date& date, Weekday weekday,
                                 foundation::Calendar::SearchDirection direction, bool considerToday,
                                 const foundation::TimeZone& timeZone);

// --- UILabel ---

// UILabel.requiredHeight: the height the label's text (its attributed text
// when it has one) needs, in the label's font, wrapped on words at the
// label's current frame width with no limit on lines. The label itself is
// not changed. Main thread.
MORVIK_API uikit::CGFloat requiredHeight(const uikit::UILabel& label);

// --- NSMutableAttributedString ---

// setAsLink(textToFind:linkURL:): marks the first literal, case-sensitive
// occurrence of the text as a link to linkURL (kept as text) and answers
// true; answers false and changes nothing when the text does not occur (an
// empty text never does).
MORVIK_API bool setAsLink(foundation::NSMutableAttributedString& string, std::string_view textToFind,
                          std::string_view linkURL);

// --- UserDefaults ---

// How a type is coded as JSON for the user-defaults functions: encode
// answers the JSON text and throws when the value cannot be encoded; decode
// throws when the text does not hold a value of the type. Every type the
// platform's keyed JSON coding knows (foundation::KeyedCodable: the reply
// records among them) is codable as it is; a host makes its own type
// codable by specialising JSONCoder (or foundation::CodingKeys) for it.
template <class T>
struct JSONCoder;

template <foundation::KeyedCodable T>
struct JSONCoder<T> {
  static std::string encode(const T& value) { return foundation::encodeJSON(value); }
  static T decode(std::string_view json) { return foundation::decodeJSON<T>(json); }
};

template <class T>
concept Codable = requires(const T& value, std::string_view json) {
  { JSONCoder<T>::encode(value) } -> std::convertible_to<std::string>;
  { JSONCoder<T>::decode(json) } -> std::same_as<T>;
};

namespace detail {
template <Codable T>
std::optional<foundation::Data> encodeForDefaults(const std::optional<T>& value) {
  try {
    return foundation::Data::fromString(value ? JSONCoder<T>::encode(*value) : std::string("null"));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}
template <Codable T>
std::optional<T> decodeFromDefaults(const foundation::Data& data) {
  try {
    return JSONCoder<T>::decode(std::string_view(reinterpret_cast<const char*>(data.bytes()), data.count()));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}
}  // namespace detail

// setStruct(_:forKey:): stores the value's JSON as data under the key; an
// absent value is stored as the JSON literal null. When the value cannot be
// encoded, the key's entry is removed.
template <Codable T>
void setStruct(foundation::UserDefaults& defaults, const std::optional<T>& value, std::string_view forKey) {
  if (auto data = detail::encodeForDefaults(value)) {
    defaults.set(std::move(*data), forKey);
  } else {
    defaults.removeObject(forKey);
  }
}

// The same for a value that is present.
template <Codable T>
void setStruct(foundation::UserDefaults& defaults, const T& value, std::string_view forKey) {
  setStruct(defaults, std::optional<T>(value), forKey);
}

// structData(_:forKey:): the value stored by setStruct; nothing when the key
// holds no data or its data does not decode as T (the null stored for an
// absent value included).
template <Codable T>
std::optional<T> structData(const foundation::UserDefaults& defaults, std::string_view forKey) {
  auto data = defaults.data(forKey);
  if (!data) return std::nullopt;
  return detail::decodeFromDefaults<T>(*data);
}

// setStructArray(_:forKey:): stores an array holding each element's JSON as
// data, in order. An element that cannot be encoded is left out, so what is
// stored still reads back.
template <Codable T>
void setStructArray(foundation::UserDefaults& defaults, const std::vector<T>& values,
                    std::string_view forKey) {
  foundation::PropertyListArray items;
  items.reserve(values.size());
  for (const auto& value : values) {
    if (auto data = detail::encodeForDefaults(std::optional<T>(value))) items.emplace_back(std::move(*data));
  }
  defaults.set(std::move(items), forKey);
}

// structArrayData(_:forKey:): the elements stored by setStructArray, in
// order. Empty when the key holds no array or any item is not data; an item
// that does not decode as T is skipped.
template <Codable T>
std::vector<T> structArrayData(const foundation::UserDefaults& defaults, std::string_view forKey) {
  auto items = defaults.array(forKey);
  if (!items) return {};
  for (const auto& item : *items) {
    if (!item.isData()) return {};
  }
  std::vector<T> out;
  out.reserve(items->size());
  for (const auto& item : *items) {
    if (auto value = detail::decodeFromDefaults<T>(*item.asData())) out.push_back(std::move(*value));
  }
  return out;
}

}  // namespace morvik
