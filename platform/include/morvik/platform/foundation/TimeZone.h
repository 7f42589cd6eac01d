// TimeZone: the offset from UTC in effect at an instant.
#pragma once

#include <morvik/platform/foundation/Date.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace foundation {

// A value type; any thread. Named zones are read from the system's time-zone
// database (TZif files under $TZDIR, else /usr/share/zoneinfo), including the
// rule that continues a zone's daylight-saving changes past its last listed
// transition.
class TimeZone {
 public:
  // TimeZone(identifier:), e.g. "Europe/Berlin" or "UTC". Nothing for a name
  // the database does not hold (or that is not a zone name at all).
  static std::optional<TimeZone> named(std::string_view identifier);
  // TimeZone(secondsFromGMT:): a fixed offset, seconds east of UTC.
  static TimeZone withSecondsFromGMT(int seconds);
  // The process's local zone (TZ, else /etc/localtime), as the C library
  // reckons it.
  static TimeZone current();

  // The zone's name; "GMT+0100" style for a fixed offset, "current" for the
  // process's zone.
  const std::string& identifier() const { return identifier_; }
  // Seconds east of UTC at the instant.
  int secondsFromGMT(const Date& at) const;

  struct Rules;

 private:
  TimeZone() = default;
  std::string identifier_;
  std::optional<int> fixed_;
  std::shared_ptr<const Rules> rules_;  // null for fixed and current
};

}  // namespace foundation
