#include <gtest/gtest.h>
#include <morvik/platform/foundation/Calendar.h>
#include <morvik/platform/foundation/Console.h>
#include <morvik/platform/foundation/Data.h>
#include <morvik/platform/foundation/Error.h>
#include <morvik/platform/foundation/URL.h>
#include <stdlib.h>

#include <filesystem>
#include <thread>
#include <vector>

namespace foundation {
namespace {

namespace fs = std::filesystem;

TEST(DataFiles, WritesReadsAndReportsFailures) {
  std::string dir = (fs::temp_directory_path() / "morvik-data-XXXXXX").string();
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const auto file = URL::fileURLWithPath(dir + "/out put.bin", false);
  const Data bytes(std::vector<std::uint8_t>{0, 1, 2, 0xff, 0});
  bytes.write(file);
  EXPECT_EQ(Data::contentsOf(file), bytes);
  Data::fromString("shorter").write(file);  // replaces the whole file
  EXPECT_EQ(Data::contentsOf(file).utf8String(), "shorter");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);  // no temporaries left

  try {
    Data::contentsOf(URL::fileURLWithPath(dir + "/missing", false));
    ADD_FAILURE();
  } catch (const NSError& e) {
    EXPECT_EQ(e.code(), 260);
    EXPECT_NE(e.localizedDescription().find("missing"), std::string::npos);
  }
  EXPECT_THROW(Data::contentsOf(URL::string("https://example.com/x").value()), NSError);
  EXPECT_THROW(bytes.write(URL::fileURLWithPath(dir + "/no/such/dir/f", false)), NSError);
  fs::remove_all(dir);
}

TEST(DataText, UTF8IsValidatedStrictly) {
  EXPECT_EQ(Data::fromString("Zoë ✓ 𝄞").utf8String(), "Zoë ✓ 𝄞");
  for (const char* bad :
       {"\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82", "\x80"}) {
    EXPECT_FALSE(Data::fromString(bad).utf8String()) << bad;
  }
}

TEST(Console, CapturesLinesFromManyThreadsAndRestoresThePreviousSink) {
  std::vector<std::string> outer;
  setConsoleSink([&](std::string_view line) { outer.emplace_back(line); });
  {
    ScopedConsoleCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([] {
        for (int i = 0; i < 100; ++i) print("line");
      });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(capture.count("line"), 400u);
  }
  print("after");
  EXPECT_EQ(outer, std::vector<std::string>{"after"});
  EXPECT_TRUE(static_cast<bool>(setConsoleSink(nullptr)));  // hands back the outer sink
}

// Quoted text reaches the console without anything a terminal acts on.
TEST(Console, WritesControlsSeparatorsAndBadBytesEscaped) {
  const std::pair<std::string, std::string> rows[] = {
      {"Zo\xc3\xab \xe2\x9c\x93 \xf0\x9d\x84\x9e\ttab", "Zo\xc3\xab \xe2\x9c\x93 \xf0\x9d\x84\x9e\ttab"},
      {"a\x1b[2Jb\x01", "a\\x1B[2Jb\\x01"},
      {"del\x7f", "del\\x7F"},
      {"nel\xc2\x85 csi\xc2\x9b"
       "2J nbsp\xc2\xa0",
       "nel\\xC2\\x85 csi\\xC2\\x9B2J nbsp\xc2\xa0"},
      {"ls\xe2\x80\xa8ps\xe2\x80\xa9", "ls\\xE2\\x80\\xA8ps\\xE2\\x80\\xA9"},
      {"raw\x9b\x85 cut\xe2\x80", "raw\\x9B\\x85 cut\\xE2\\x80"},
  };
  ScopedConsoleCapture capture;
  for (const auto& [text, shown] : rows) print(text);
  std::vector<std::string> expected;
  for (const auto& row : rows) expected.push_back(row.second);
  EXPECT_EQ(capture.lines(), expected);
}

TEST(Calendar, WeekdaysAndTheNextMatchingDay) {
  const auto utc = Calendar::withFixedOffset(0);
  // Monday 2024-01-01 10:30 UTC.
  const Date monday(1704105000);
  EXPECT_EQ(utc.component(Calendar::Component::weekday, monday), 2);
  EXPECT_EQ(utc.component(Calendar::Component::weekday, Date(0)), 5);  // a Thursday
  EXPECT_EQ(utc.component(Calendar::Component::weekday, Date(-1)), 4);
  EXPECT_EQ(utc.startOfDay(monday).timeIntervalSince1970(), 1704067200);

  const auto nextMonday = utc.nextDate(monday, {.weekday = 2});
  EXPECT_EQ(nextMonday->timeIntervalSince1970(), 1704067200 + 7 * 86400);
  EXPECT_EQ(utc.nextDate(monday, {.weekday = 3})->timeIntervalSince1970(), 1704067200 + 86400);
  const auto back = utc.nextDate(monday, {.weekday = 2}, Calendar::MatchingPolicy::nextTime,
                                 Calendar::RepeatedTimePolicy::first, Calendar::SearchDirection::backward);
  EXPECT_EQ(back->timeIntervalSince1970(), 1704067200 - 7 * 86400);
  EXPECT_FALSE(utc.nextDate(monday, {}));
  EXPECT_FALSE(utc.nextDate(monday, {.weekday = 8}));

  // A zone east of UTC: 23:30 UTC on Monday is already Tuesday at +02:00.
  const auto east = Calendar::withFixedOffset(2 * 3600);
  EXPECT_EQ(east.component(Calendar::Component::weekday, Date(1704151800)), 3);
  EXPECT_EQ(east.startOfDay(Date(1704151800)).timeIntervalSince1970(), 1704153600 - 2 * 3600);
}

}  // namespace
}  // namespace foundation
