#include <gtest/gtest.h>
#include <morvik/platform/foundation/Calendar.h>
#include <morvik/platform/foundation/TimeZone.h>

#include <cmath>
#include <limits>

namespace foundation {
namespace {

// Expected offsets from the time-zone database as Python's zoneinfo reads it.
// Instants past 2037 come from each zone's continuing rule, not its listed
// transitions; Dublin's winter is its "negative" daylight time.
TEST(TimeZone, OffsetsAroundChangesMatchTheDatabase) {
  struct Case {
    const char* zone;
    double at;
    int offset;
  };
  const Case cases[] = {
      {"Europe/Berlin", 1774745999, 3600},      {"Europe/Berlin", 1774746000, 7200},
      {"Europe/Berlin", 1792889999, 7200},      {"Europe/Berlin", 1792890000, 3600},
      {"Europe/Berlin", 2216249999, 3600},      {"Europe/Berlin", 2216250000, 7200},
      {"Europe/Berlin", 2234998800, 3600},      {"Europe/Berlin", 170812800, 3600},
      {"America/New_York", 1772953199, -18000}, {"America/New_York", 1772953200, -14400},
      {"America/New_York", 2393474399, -14400}, {"America/New_York", 2393474400, -18000},
      {"Australia/Sydney", 2248876799, 39600},  {"Australia/Sydney", 2248876800, 36000},
      {"Australia/Sydney", 2264601599, 36000},  {"Australia/Sydney", 2264601600, 39600},
      {"Europe/Dublin", 2273356800, 0},         {"Europe/Dublin", 2288995200, 3600},
      {"America/Santiago", 1788667199, -14400}, {"America/Santiago", 1788667200, -10800},
      {"America/Santiago", 2198721600, -10800}, {"Asia/Kolkata", 1767225600, 19800},
      {"Asia/Kolkata", 3786912000, 19800},      {"Pacific/Chatham", 2524608000, 49500},
      {"Pacific/Chatham", 2540246400, 45900},
  };
  for (const auto& c : cases) {
    auto zone = TimeZone::named(c.zone);
    ASSERT_TRUE(zone) << c.zone;
    EXPECT_EQ(zone->identifier(), c.zone);
    EXPECT_EQ(zone->secondsFromGMT(Date(c.at)), c.offset) << c.zone << " at " << c.at;
  }
  for (const char* bad : {"", "Mars/Olympus_Mons", "../../etc/passwd", "/usr/share/zoneinfo/UTC", "Europe/",
                          "Europe/Berlin\n"}) {
    EXPECT_FALSE(TimeZone::named(bad)) << bad;
  }
  EXPECT_EQ(TimeZone::withSecondsFromGMT(-12600).secondsFromGMT(Date(0)), -12600);
  EXPECT_EQ(TimeZone::withSecondsFromGMT(-12600).identifier(), "GMT-0330");
}

TEST(Calendar, DaysStartAtTheirFirstInstantAcrossOffsetChanges) {
  auto calendar = [](const char* zone) {
    Calendar c(Calendar::Identifier::gregorian);
    c.setTimeZone(*TimeZone::named(zone));
    return c;
  };
  const auto berlin = calendar("Europe/Berlin");
  // Saturday 28 March 2026, 12:00: the next Sunday starts at 00:00 CET, the
  // Monday after at 00:00 CEST, 23 hours later.
  const Date saturday(1774695600);
  EXPECT_EQ(berlin.component(Calendar::Component::weekday, saturday), 7);
  EXPECT_EQ(berlin.nextDate(saturday, {.weekday = 1})->timeIntervalSince1970(), 1774738800);
  EXPECT_EQ(berlin.nextDate(saturday, {.weekday = 2})->timeIntervalSince1970(), 1774821600);
  // Thursday 31 December 2026, 18:00: the year turns before the Monday.
  EXPECT_EQ(berlin.nextDate(Date(1798736400), {.weekday = 2})->timeIntervalSince1970(), 1799017200);
  EXPECT_EQ(berlin
                .nextDate(Date(1798736400), {.weekday = 2}, Calendar::MatchingPolicy::nextTime,
                          Calendar::RepeatedTimePolicy::first, Calendar::SearchDirection::backward)
                ->timeIntervalSince1970(),
            1798412400);
  // In Santiago, Sunday 6 September 2026 has no midnight: it starts at 01:00,
  // the end of the skipped hour.
  const auto santiago = calendar("America/Santiago");
  EXPECT_EQ(santiago.nextDate(Date(1788624000), {.weekday = 1})->timeIntervalSince1970(), 1788667200);
  EXPECT_EQ(santiago.startOfDay(Date(1788667200 + 3600)).timeIntervalSince1970(), 1788667200);
  // New York's fall-back Sunday starts once, at its only midnight.
  const auto newYork = calendar("America/New_York");
  EXPECT_EQ(newYork.nextDate(Date(1793462400), {.weekday = 1})->timeIntervalSince1970(), 1793505600);
}

TEST(Calendar, InstantsOutOfRangeAreAnsweredWithoutOverflow) {
  Calendar berlin(Calendar::Identifier::gregorian);
  berlin.setTimeZone(*TimeZone::named("Europe/Berlin"));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double t : {nan, inf, -inf, 1e300, -1e300, 9.3e18}) {
    SCOPED_TRACE(t);
    const int weekday = berlin.component(Calendar::Component::weekday, Date(t));
    EXPECT_GE(weekday, 1);
    EXPECT_LE(weekday, 7);
    const int offset = berlin.timeZone().secondsFromGMT(Date(t));
    EXPECT_TRUE(offset == 3208 || offset == 3600 || offset == 7200) << offset;  // local mean time before 1893
    if (!std::isfinite(t)) {
      EXPECT_FALSE(berlin.nextDate(Date(t), {.weekday = 2}));
    }
  }
}

}  // namespace
}  // namespace foundation
