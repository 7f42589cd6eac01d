#include <morvik/platform/foundation/UserDefaults.h>

#include <charconv>
#include <cmath>
#include <limits>

namespace foundation {
namespace {

std::optional<double> parseNumber(const std::string& text) {
  if (text == "YES" || text == "true") return 1.0;
  if (text == "NO" || text == "false") return 0.0;
  double value = 0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

// The number a stored value stands for, as the typed getters read it.
std::optional<double> numericValue(const PropertyListValue& v) {
  if (const auto* b = v.asBool()) return *b ? 1.0 : 0.0;
  if (const auto* s = v.asString()) return parseNumber(*s);
  return v.numberValue();
}

std::string formatDouble(double d) {
  char buffer[64];
  const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
  return ec == std::errc() ? std::string(buffer, ptr) : std::string();
}

}  // namespace

std::shared_ptr<UserDefaults> UserDefaults::standard() {
  static const auto instance = std::make_shared<UserDefaults>();
  return instance;
}

void UserDefaults::set(const PropertyListValue& value, std::string_view forKey) {
  if (value.isNull()) {
    removeObject(forKey);
    return;
  }
  std::unique_lock lock(mutex_);
  values_.insert_or_assign(std::string(forKey), value);
}

void UserDefaults::removeObject(std::string_view forKey) {
  std::unique_lock lock(mutex_);
  values_.erase(std::string(forKey));
}

std::optional<PropertyListValue> UserDefaults::object(std::string_view forKey) const {
  std::shared_lock lock(mutex_);
  const auto it = values_.find(std::string(forKey));
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> UserDefaults::string(std::string_view forKey) const {
  const auto v = object(forKey);
  if (!v) return std::nullopt;
  if (const auto* s = v->asString()) return *s;
  if (const auto* i = v->asInteger()) return std::to_string(*i);
  if (const auto* d = v->asDouble()) return formatDouble(*d);
  return std::nullopt;
}

std::optional<Data> UserDefaults::data(std::string_view forKey) const {
  const auto v = object(forKey);
  if (v && v->isData()) return *v->asData();
  return std::nullopt;
}

std::optional<PropertyListArray> UserDefaults::array(std::string_view forKey) const {
  const auto v = object(forKey);
  if (v && v->isArray()) return *v->asArray();
  return std::nullopt;
}

std::optional<PropertyListDictionary> UserDefaults::dictionary(std::string_view forKey) const {
  const auto v = object(forKey);
  if (v && v->isDictionary()) return *v->asDictionary();
  return std::nullopt;
}

std::int64_t UserDefaults::integer(std::string_view forKey) const {
  const auto v = object(forKey);
  if (!v) return 0;
  if (const auto* i = v->asInteger()) return *i;
  const auto d = numericValue(*v);
  if (!d || !std::isfinite(*d)) return 0;
  // Out-of-range doubles saturate rather than overflow.
  if (*d >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
  if (*d <= -9.2233720368547758e18) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(*d);
}

double UserDefaults::double_(std::string_view forKey) const {
  const auto v = object(forKey);
  if (!v) return 0.0;
  return numericValue(*v).value_or(0.0);
}

bool UserDefaults::bool_(std::string_view forKey) const {
  const auto v = object(forKey);
  if (!v) return false;
  if (const auto* b = v->asBool()) return *b;
  const auto d = numericValue(*v);
  return d && *d != 0.0;
}

PropertyListDictionary UserDefaults::dictionaryRepresentation() const {
  std::shared_lock lock(mutex_);
  return values_;
}

}  // namespace foundation
