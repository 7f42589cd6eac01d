// Date and TimeInterval: points in time as seconds since 1970 (UTC).
#pragma once

#include <compare>

namespace foundation {

// Seconds, fractional.
using TimeInterval = double;

// A value type; any thread.
class Date {
 public:
  Date() = default;  // 1970-01-01 00:00:00 UTC
  explicit Date(TimeInterval timeIntervalSince1970) : seconds_(timeIntervalSince1970) {}

  // The current wall-clock time (system clock, not the dispatch clock).
  static Date now();
  static Date timeIntervalSince1970(TimeInterval seconds) { return Date(seconds); }

  TimeInterval timeIntervalSince1970() const { return seconds_; }
  TimeInterval timeIntervalSince(const Date& other) const { return seconds_ - other.seconds_; }
  Date addingTimeInterval(TimeInterval interval) const { return Date(seconds_ + interval); }

  friend Date operator+(const Date& d, TimeInterval t) { return Date(d.seconds_ + t); }
  friend Date operator-(const Date& d, TimeInterval t) { return Date(d.seconds_ - t); }
  friend TimeInterval operator-(const Date& a, const Date& b) { return a.seconds_ - b.seconds_; }
  friend auto operator<=>(const Date&, const Date&) = default;

 private:
  TimeInterval seconds_ = 0;
};

}  // namespace foundation
