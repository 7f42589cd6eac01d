#include <morvik/platform/foundation/Date.h>
#include <morvik/platform/foundation/PropertyList.h>

#include <chrono>

namespace foundation {

Date Date::now() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return Date(std::chrono::duration<double>(since).count());
}

std::optional<double> PropertyListValue::numberValue() const {
  if (const auto* i = asInteger()) return static_cast<double>(*i);
  if (const auto* d = asDouble()) return *d;
  return std::nullopt;
}

}  // namespace foundation
