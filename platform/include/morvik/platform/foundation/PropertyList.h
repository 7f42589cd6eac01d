// PropertyListValue: the typed values that user defaults, notifications and
// JSON serialisation exchange (dictionary, array, text, integer, double,
// Boolean, data, date, and JSON's null).
#pragma once

#include <morvik/platform/foundation/Data.h>
#include <morvik/platform/foundation/Date.h>

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace foundation {

class PropertyListValue;
using PropertyListArray = std::vector<PropertyListValue>;
// Keys are always text, as in a property list.
using PropertyListDictionary = std::map<std::string, PropertyListValue>;

// JSON's null (the platform's NSNull); a property list proper never holds it.
struct PropertyListNull {
  friend bool operator==(PropertyListNull, PropertyListNull) { return true; }
};

// A value type; copies are deep. Booleans and integers are distinct kinds.
class PropertyListValue {
 public:
  using Storage = std::variant<PropertyListNull, bool, std::int64_t, double, std::string, Data, Date,
                               PropertyListArray, PropertyListDictionary>;

  PropertyListValue() = default;  // null
  PropertyListValue(PropertyListNull) {}
  PropertyListValue(bool b) : v_(b) {}
  template <std::integral T>
  requires(!std::same_as<T, bool>) PropertyListValue(T i) : v_(static_cast<std::int64_t>(i)) {}
  PropertyListValue(double d) : v_(d) {}
  PropertyListValue(float f) : v_(static_cast<double>(f)) {}
  PropertyListValue(std::string s) : v_(std::move(s)) {}
  PropertyListValue(std::string_view s) : v_(std::string(s)) {}
  PropertyListValue(const char* s) : v_(std::string(s)) {}
  PropertyListValue(Data d) : v_(std::move(d)) {}
  PropertyListValue(Date d) : v_(d) {}
  PropertyListValue(PropertyListArray a) : v_(std::move(a)) {}
  PropertyListValue(PropertyListDictionary d) : v_(std::move(d)) {}

  bool isNull() const { return std::holds_alternative<PropertyListNull>(v_); }
  bool isBool() const { return std::holds_alternative<bool>(v_); }
  bool isInteger() const { return std::holds_alternative<std::int64_t>(v_); }
  bool isDouble() const { return std::holds_alternative<double>(v_); }
  bool isNumber() const { return isInteger() || isDouble(); }
  bool isString() const { return std::holds_alternative<std::string>(v_); }
  bool isData() const { return std::holds_alternative<Data>(v_); }
  bool isDate() const { return std::holds_alternative<Date>(v_); }
  bool isArray() const { return std::holds_alternative<PropertyListArray>(v_); }
  bool isDictionary() const { return std::holds_alternative<PropertyListDictionary>(v_); }

  // Pointers to the held value, null when the kind differs (no conversion).
  const bool* asBool() const { return std::get_if<bool>(&v_); }
  const std::int64_t* asInteger() const { return std::get_if<std::int64_t>(&v_); }
  const double* asDouble() const { return std::get_if<double>(&v_); }
  const std::string* asString() const { return std::get_if<std::string>(&v_); }
  const Data* asData() const { return std::get_if<Data>(&v_); }
  const Date* asDate() const { return std::get_if<Date>(&v_); }
  const PropertyListArray* asArray() const { return std::get_if<PropertyListArray>(&v_); }
  const PropertyListDictionary* asDictionary() const { return std::get_if<PropertyListDictionary>(&v_); }
  PropertyListArray* asArray() { return std::get_if<PropertyListArray>(&v_); }
  PropertyListDictionary* asDictionary() { return std::get_if<PropertyListDictionary>(&v_); }

  // A number as a double (integers converted), nothing for other kinds.
  std::optional<double> numberValue() const;

  const Storage& storage() const { return v_; }

  friend bool operator==(const PropertyListValue& a, const PropertyListValue& b) { return a.v_ == b.v_; }

 private:
  Storage v_;
};

}  // namespace foundation
