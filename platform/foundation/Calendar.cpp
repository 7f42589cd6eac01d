#include <morvik/platform/foundation/Calendar.h>

#include <algorithm>
#include <cmath>

namespace foundation {
namespace {

constexpr double kDay = 86400.0;

}  // namespace

Calendar Calendar::withFixedOffset(int secondsFromGMT) {
  Calendar c;
  c.timeZone_ = TimeZone::withSecondsFromGMT(secondsFromGMT);
  return c;
}

long long Calendar::dayIndex(const Date& date) const {
  // As TimeZone does: instants too far out to convert are reckoned at the
  // nearest one that can be.
  const double raw = date.timeIntervalSince1970();
  const double t = std::isnan(raw) ? 0.0 : std::clamp(raw, -1e15, 1e15);
  return static_cast<long long>(std::floor((t + timeZone_.secondsFromGMT(date)) / kDay));
}

Date Calendar::startOfDay(long long day) const {
  const double local = static_cast<double>(day) * kDay;
  // Offsets in effect around the wall-clock midnight: a change of offset is
  // never more than a day away from either.
  const int around[] = {timeZone_.secondsFromGMT(Date(local - kDay)), timeZone_.secondsFromGMT(Date(local)),
                        timeZone_.secondsFromGMT(Date(local + kDay))};
  std::optional<double> best;
  for (int offset : around) {
    const double u = local - offset;
    if (timeZone_.secondsFromGMT(Date(u)) == offset && (!best || u < *best)) best = u;
  }
  if (best) return Date(*best);
  // Midnight falls in a gap: the first instant whose wall clock reads at
  // least 00:00 is the end of the gap.
  double lo = local - *std::max_element(std::begin(around), std::end(around));
  double hi = local - *std::min_element(std::begin(around), std::end(around));
  while (hi - lo > 1) {
    const double mid = std::floor((lo + hi) / 2);
    if (mid + timeZone_.secondsFromGMT(Date(mid)) >= local) {
      hi = mid;
    } else {
      lo = mid;
    }
  }
  return Date(hi);
}

int Calendar::component(Component, const Date& date) const {
  // 1 January 1970 was a Thursday (weekday 5).
  return static_cast<int>(((dayIndex(date) + 4) % 7 + 7) % 7) + 1;
}

Date Calendar::startOfDay(const Date& date) const { return startOfDay(dayIndex(date)); }

std::optional<Date> Calendar::nextDate(const Date& after, const DateComponents& matching, MatchingPolicy,
                                       RepeatedTimePolicy, SearchDirection direction) const {
  if (!matching.weekday || *matching.weekday < 1 || *matching.weekday > 7) return std::nullopt;
  if (!std::isfinite(after.timeIntervalSince1970())) return std::nullopt;
  const int step = direction == SearchDirection::forward ? 1 : -1;
  const long long today = dayIndex(after);
  for (int k = 1; k <= 7; ++k) {
    const long long day = today + step * k;
    if (static_cast<int>(((day + 4) % 7 + 7) % 7) + 1 == *matching.weekday) return startOfDay(day);
  }
  return std::nullopt;
}

}  // namespace foundation
