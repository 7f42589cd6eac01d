// UserDefaults: a process-wide store of typed property-list values by key.
#pragma once

#include <morvik/platform/foundation/PropertyList.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>

namespace foundation {

// Thread-safe: every call may come from any thread. Values are copied in and
// out; nothing is written to disk (the store lives as long as the process).
//
// Typed reads convert as the platform does: integer/double/bool read numbers,
// Booleans and numeric texts ("42", "1.5", "YES"/"true"); string reads texts
// and numbers (as text); data and dates are never converted. A missing key
// reads as nothing, 0, 0.0 or false.
class UserDefaults : public std::enable_shared_from_this<UserDefaults> {
 public:
  UserDefaults() = default;  // an empty store of one's own (tests)

  // The shared store, created on first use and kept for the process.
  static std::shared_ptr<UserDefaults> standard();

  // Stores a copy; storing null removes the key (set(nil, forKey:)).
  void set(const PropertyListValue& value, std::string_view forKey);
  void removeObject(std::string_view forKey);

  std::optional<PropertyListValue> object(std::string_view forKey) const;
  std::optional<std::string> string(std::string_view forKey) const;
  std::optional<Data> data(std::string_view forKey) const;
  std::optional<PropertyListArray> array(std::string_view forKey) const;
  std::optional<PropertyListDictionary> dictionary(std::string_view forKey) const;
  std::int64_t integer(std::string_view forKey) const;
  double double_(std::string_view forKey) const;
  bool bool_(std::string_view forKey) const;

  // A copy of every entry.
  PropertyListDictionary dictionaryRepresentation() const;

 private:
  mutable std::shared_mutex mutex_;
  PropertyListDictionary values_;
};

}  // namespace foundation
