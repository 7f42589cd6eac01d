#include <morvik/platform/foundation/TimeZone.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <vector>

namespace foundation {

// A POSIX TZ rule ("CET-1CEST,M3.5.0,M10.5.0/3"): what a TZif file's footer
// says for instants after its last transition.
struct PosixRule {
  int stdOffset = 0;  // seconds east
  std::optional<int> dstOffset;
  struct When {
    int month = 3, week = 5, weekday = 0;  // Mm.w.d
    int seconds = 7200;                    // local time of day of the change
  };
  When start, end;
};

struct TimeZone::Rules {
  std::vector<std::int64_t> transitions;  // UTC seconds, ascending
  std::vector<std::uint8_t> typeIndex;    // type in effect from each transition
  std::vector<int> offsets;               // seconds east, per type
  std::optional<PosixRule> footer;
};

namespace {

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::int64_t yearOf(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  return static_cast<std::int64_t>(yoe) + era * 400 + (mp >= 10 ? 1 : 0);
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Local seconds (from 1970, wall clock) of a rule's change in a year.
std::int64_t localChange(std::int64_t year, const PosixRule::When& w) {
  static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int length = monthDays[w.month - 1] + (w.month == 2 && leap ? 1 : 0);
  const std::int64_t first = daysFromCivil(year, static_cast<unsigned>(w.month), 1);
  const int firstWeekday = static_cast<int>(((first + 4) % 7 + 7) % 7);  // 0 = Sunday
  int day = 1 + (w.weekday - firstWeekday + 7) % 7 + (w.week - 1) * 7;
  while (day > length) day -= 7;
  return (first + day - 1) * 86400 + w.seconds;
}

int ruleOffset(const PosixRule& r, std::int64_t utc) {
  if (!r.dstOffset) return r.stdOffset;
  const std::int64_t year = yearOf(floorDiv(utc + r.stdOffset, 86400));
  const std::int64_t start = localChange(year, r.start) - r.stdOffset;
  const std::int64_t end = localChange(year, r.end) - *r.dstOffset;
  const bool dst = start < end ? (utc >= start && utc < end) : (utc < end || utc >= start);
  return dst ? *r.dstOffset : r.stdOffset;
}

class RuleParser {
 public:
  explicit RuleParser(std::string_view s) : s_(s) {}

  std::optional<PosixRule> parse() {
    PosixRule r;
    if (!name()) return std::nullopt;
    auto standard = offset();
    if (!standard) return std::nullopt;
    r.stdOffset = -*standard;
    if (i_ == s_.size()) return r;
    if (!name()) return std::nullopt;
    r.dstOffset = r.stdOffset + 3600;
    if (i_ < s_.size() && s_[i_] != ',') {
      auto dst = offset();
      if (!dst) return std::nullopt;
      r.dstOffset = -*dst;
    }
    if (!eat(',') || !when(r.start) || !eat(',') || !when(r.end) || i_ != s_.size()) return std::nullopt;
    return r;
  }

 private:
  bool eat(char c) {
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool name() {
    const std::size_t begin = i_;
    if (eat('<')) {
      while (i_ < s_.size() && s_[i_] != '>') ++i_;
      return eat('>') && i_ - begin > 2;
    }
    while (i_ < s_.size() && std::isalpha(static_cast<unsigned char>(s_[i_]))) ++i_;
    return i_ - begin >= 3;
  }
  std::optional<int> number() {
    const std::size_t begin = i_;
    int v = 0;
    while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_])) && i_ - begin < 4) {
      v = v * 10 + (s_[i_++] - '0');
    }
    if (i_ == begin) return std::nullopt;
    return v;
  }
  // [+-]hh[:mm[:ss]] in seconds.
  std::optional<int> offset() {
    int sign = 1;
    if (eat('-')) {
      sign = -1;
    } else {
      eat('+');
    }
    auto h = number();
    if (!h || *h > 167) return std::nullopt;
    int total = *h * 3600;
    for (int unit : {60, 1}) {
      if (!eat(':')) break;
      auto n = number();
      if (!n || *n > 59) return std::nullopt;
      total += *n * unit;
    }
    return sign * total;
  }
  bool when(PosixRule::When& w) {
    if (!eat('M')) return false;  // Julian-day forms are not used by today's zones
    auto m = number();
    if (!m || *m < 1 || *m > 12 || !eat('.')) return false;
    auto wk = number();
    if (!wk || *wk < 1 || *wk > 5 || !eat('.')) return false;
    auto d = number();
    if (!d || *d > 6) return false;
    w = {*m, *wk, *d, 7200};
    if (eat('/')) {
      auto t = offset();
      if (!t) return false;
      w.seconds = *t;
    }
    return true;
  }
  std::string_view s_;
  std::size_t i_ = 0;
};

std::int64_t readBE(const std::uint8_t* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  if (bytes == 4) return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  return static_cast<std::int64_t>(v);
}

// RFC 8536. Answers nothing for a file that is not a well-formed TZif file.
std::shared_ptr<const TimeZone::Rules> parseTZif(const std::vector<std::uint8_t>& f) {
  constexpr std::size_t kHeader = 44;
  std::size_t at = 0;
  auto header = [&](std::size_t pos, std::uint32_t(&counts)[6]) {
    if (pos + kHeader > f.size() || f[pos] != 'T' || f[pos + 1] != 'Z' || f[pos + 2] != 'i' ||
        f[pos + 3] != 'f') {
      return false;
    }
    for (int i = 0; i < 6; ++i) counts[i] = static_cast<std::uint32_t>(readBE(&f[pos + 20 + 4 * i], 4));
    return true;
  };
  std::uint32_t c[6];  // isutcnt, isstdcnt, leapcnt, timecnt, typecnt, charcnt
  if (!header(0, c)) return nullptr;
  const char version = static_cast<char>(f[4]);
  auto blockSize = [&](int timeBytes) {
    return std::uint64_t{c[3]} * timeBytes + c[3] + std::uint64_t{c[4]} * 6 + c[5] +
           std::uint64_t{c[2]} * (timeBytes + 4) + c[1] + c[0];
  };
  int timeBytes = 4;
  at = kHeader;
  if (version >= '2') {
    at += blockSize(4);
    if (!header(at, c)) return nullptr;
    at += kHeader;
    timeBytes = 8;
  }
  if (c[4] == 0 || c[4] > 256 || at + blockSize(timeBytes) > f.size()) return nullptr;
  auto rules = std::make_shared<TimeZone::Rules>();
  const std::uint8_t* p = f.data() + at;
  for (std::uint32_t i = 0; i < c[3]; ++i) rules->transitions.push_back(readBE(p + i * timeBytes, timeBytes));
  p += std::uint64_t{c[3]} * timeBytes;
  for (std::uint32_t i = 0; i < c[3]; ++i) {
    if (p[i] >= c[4]) return nullptr;
    rules->typeIndex.push_back(p[i]);
  }
  p += c[3];
  for (std::uint32_t i = 0; i < c[4]; ++i) rules->offsets.push_back(static_cast<int>(readBE(p + i * 6, 4)));
  if (!std::is_sorted(rules->transitions.begin(), rules->transitions.end())) return nullptr;
  at += blockSize(timeBytes);
  if (version >= '2' && at < f.size() && f[at] == '\n') {
    auto end = std::find(f.begin() + static_cast<std::ptrdiff_t>(at) + 1, f.end(), '\n');
    if (end != f.end()) {
      std::string footer(f.begin() + static_cast<std::ptrdiff_t>(at) + 1, end);
      rules->footer = RuleParser(footer).parse();
    }
  }
  return rules;
}

bool isZoneName(std::string_view id) {
  if (id.empty() || id.size() > 128 || id.front() == '/') return false;
  for (char ch : id) {
    if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '/' && ch != '_' && ch != '-' && ch != '+') {
      return false;
    }
  }
  return id.find("..") == std::string_view::npos && id.find("//") == std::string_view::npos &&
         id.back() != '/';
}

}  // namespace

std::optional<TimeZone> TimeZone::named(std::string_view identifier) {
  if (!isZoneName(identifier)) return std::nullopt;
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<const Rules>, std::less<>> cache;
  std::shared_ptr<const Rules> rules;
  {
    std::lock_guard lock(mutex);
    if (auto it = cache.find(identifier); it != cache.end()) rules = it->second;
  }
  if (!rules) {
    const char* dir = std::getenv("TZDIR");
    const std::filesystem::path path =
        std::filesystem::path(dir && *dir ? dir : "/usr/share/zoneinfo") / std::string(identifier);
    std::error_code ec;
    // Zone files are small; anything else (a folder, a device) is not a zone.
    if (!std::filesystem::is_regular_file(path, ec) || std::filesystem::file_size(path, ec) > (1u << 20) ||
        ec) {
      return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    rules = parseTZif(bytes);
    if (!rules) return std::nullopt;
    std::lock_guard lock(mutex);
    cache.emplace(std::string(identifier), rules);
  }
  TimeZone zone;
  zone.identifier_ = std::string(identifier);
  zone.rules_ = std::move(rules);
  return zone;
}

TimeZone TimeZone::withSecondsFromGMT(int seconds) {
  TimeZone zone;
  zone.fixed_ = seconds;
  const int a = std::abs(seconds);
  char text[16];
  std::snprintf(text, sizeof text, "GMT%c%02d%02d", seconds < 0 ? '-' : '+', a / 3600 % 100, a / 60 % 60);
  zone.identifier_ = text;
  return zone;
}

TimeZone TimeZone::current() {
  TimeZone zone;
  zone.identifier_ = "current";
  return zone;
}

int TimeZone::secondsFromGMT(const Date& at) const {
  if (fixed_) return *fixed_;
  // Instants beyond about 30 million years (or not numbers at all) are
  // reckoned at the nearest one we can: converting them would overflow.
  const double raw = at.timeIntervalSince1970();
  const double t = std::isnan(raw) ? 0.0 : std::floor(std::clamp(raw, -1e15, 1e15));
  if (!rules_) {
    const auto tt = static_cast<std::time_t>(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    return static_cast<int>(tm.tm_gmtoff);
  }
  const auto& r = *rules_;
  const auto u = static_cast<std::int64_t>(t);
  if (r.transitions.empty() || u < r.transitions.front()) {
    if (r.transitions.empty() && r.footer) return ruleOffset(*r.footer, u);
    return r.offsets[0];
  }
  if (u >= r.transitions.back() && r.footer) return ruleOffset(*r.footer, u);
  auto it = std::upper_bound(r.transitions.begin(), r.transitions.end(), u);
  const auto index = static_cast<std::size_t>(it - r.transitions.begin()) - 1;
  return r.offsets[r.typeIndex[index]];
}

}  // namespace foundation
