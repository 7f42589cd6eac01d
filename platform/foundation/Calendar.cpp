#include <morvik/platform/foundation/Calendar.h>

#include <cmath>
#include <ctime>

namespace foundation {
namespace {

constexpr double kDay = 86400.0;

std::tm localTime(double seconds) {
  const auto t = static_cast<std::time_t>(std::floor(seconds));
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

// 00:00 local time of the day `days` after the day of `tm` (mktime normalises
// the month and year and finds the right offset across daylight-saving
// changes).
double localStartOfDay(std::tm tm, int days) {
  tm.tm_mday += days;
  tm.tm_hour = 0;
  tm.tm_min = 0;
  tm.tm_sec = 0;
  tm.tm_isdst = -1;
  return static_cast<double>(std::mktime(&tm));
}

}  // namespace

Calendar Calendar::withFixedOffset(int secondsFromGMT) {
  Calendar c;
  c.fixedOffset_ = secondsFromGMT;
  return c;
}

int Calendar::component(Component, const Date& date) const {
  const double t = date.timeIntervalSince1970();
  if (fixedOffset_) {
    const auto dayIndex = static_cast<long long>(std::floor((t + *fixedOffset_) / kDay));
    // 1 January 1970 was a Thursday (weekday 5).
    return static_cast<int>(((dayIndex + 4) % 7 + 7) % 7) + 1;
  }
  return localTime(t).tm_wday + 1;
}

Date Calendar::startOfDay(const Date& date) const {
  const double t = date.timeIntervalSince1970();
  if (fixedOffset_) return Date(std::floor((t + *fixedOffset_) / kDay) * kDay - *fixedOffset_);
  return Date(localStartOfDay(localTime(t), 0));
}

std::optional<Date> Calendar::nextDate(const Date& after, const DateComponents& matching, MatchingPolicy,
                                       RepeatedTimePolicy, SearchDirection direction) const {
  if (!matching.weekday || *matching.weekday < 1 || *matching.weekday > 7) return std::nullopt;
  const int step = direction == SearchDirection::forward ? 1 : -1;
  const double t = after.timeIntervalSince1970();
  for (int k = 1; k <= 7; ++k) {
    Date candidate;
    if (fixedOffset_) {
      candidate = Date(startOfDay(after).timeIntervalSince1970() + step * k * kDay);
    } else {
      candidate = Date(localStartOfDay(localTime(t), step * k));
    }
    if (component(Component::weekday, candidate) == *matching.weekday) return candidate;
  }
  return std::nullopt;
}

}  // namespace foundation
