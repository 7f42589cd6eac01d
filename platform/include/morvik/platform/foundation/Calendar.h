// Calendar: the Gregorian calendar's weekdays and day boundaries.
#pragma once

#include <morvik/platform/foundation/Date.h>

#include <optional>

namespace foundation {

// Only the fields the SDK matches on are honoured (see nextDate).
struct DateComponents {
  std::optional<int> weekday;  // 1 = Sunday ... 7 = Saturday
};

// A value type; any thread. Days are reckoned in a time zone: the process's
// local zone (TZ) by default, or a fixed offset from UTC.
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

  explicit Calendar(Identifier identifier = Identifier::gregorian) : identifier_(identifier) {}
  // A calendar that reckons days at a fixed offset from UTC (seconds east).
  static Calendar withFixedOffset(int secondsFromGMT);

  Identifier identifier() const { return identifier_; }

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
  Identifier identifier_;
  std::optional<int> fixedOffset_;
};

}  // namespace foundation
