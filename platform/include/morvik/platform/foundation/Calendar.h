// Calendar: the Gregorian calendar's weekdays and day boundaries.
#pragma once

#include <morvik/platform/foundation/Date.h>
#include <morvik/platform/foundation/TimeZone.h>

#include <optional>

namespace foundation {

// Only the fields the SDK matches on are honoured (see nextDate).
struct DateComponents {
  std::optional<int> weekday;  // 1 = Sunday ... 7 = Saturday
};

// A value type; any thread. Days are reckoned in a time zone: the process's
// local zone (TZ) by default, a named zone, or a fixed offset from UTC. A day
// starts at its first instant whose wall-clock time is 00:00 or later (the
// earlier one when midnight repeats, the end of the gap when a
// daylight-saving change skips it).
class Calendar {
 public:
  enum class Identifier { gregorian };
  enum class Component { weekday };
  enum class SearchDirection { forward, backward };
  enum class MatchingPolicy {
    nextTime,
    nextTimePreservingSmallerComponents,
    previousTimePreservingSmallerComponents,
    strict
  };
  enum class RepeatedTimePolicy { first, last };

  explicit Calendar(Identifier identifier = Identifier::gregorian)
      : identifier_(identifier), timeZone_(TimeZone::current()) {}
  // A calendar that reckons days at a fixed offset from UTC (seconds east).
  static Calendar withFixedOffset(int secondsFromGMT);

  Identifier identifier() const { return identifier_; }
  const TimeZone& timeZone() const { return timeZone_; }
  void setTimeZone(TimeZone zone) { timeZone_ = std::move(zone); }

  int component(Component component, const Date& date) const;
  // 00:00 of the date's day.
  Date startOfDay(const Date& date) const;

  // The nearest start of a day whose weekday matches, strictly after the
  // date's own day (forward) or strictly before it (backward). Components
  // without a weekday, or with one outside 1...7, match nothing: answers
  // nothing. Every policy gives the same answer for weekday-only matching.
  std::optional<Date> nextDate(const Date& after, const DateComponents& matching,
                               MatchingPolicy matchingPolicy = MatchingPolicy::nextTime,
                               RepeatedTimePolicy repeatedTimePolicy = RepeatedTimePolicy::first,
                               SearchDirection direction = SearchDirection::forward) const;

 private:
  // Days since 1970-01-01 of the date's local day, and the first instant of
  // a local day.
  long long dayIndex(const Date& date) const;
  Date startOfDay(long long dayIndex) const;

  Identifier identifier_;
  TimeZone timeZone_;
};

}  // namespace foundation
