#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "api/models/FullVerdictReply.h"
#include "morvik/api/models/JSONCoding.h"
#include "morvik/api/models/Response.h"

// Every allocation of this test program is counted, so a test can read the most that was held
// at once while it decoded something (the live bytes are kept in a header before each block).
namespace {
std::atomic<std::int64_t> gLiveBytes{0};
std::atomic<std::int64_t> gPeakBytes{0};
}  // namespace

void* operator new(std::size_t size) {
  auto* block = static_cast<std::size_t*>(std::malloc(size + 16));
  if (!block) throw std::bad_alloc();
  *block = size;
  const std::int64_t live = gLiveBytes += static_cast<std::int64_t>(size);
  std::int64_t peak = gPeakBytes.load();
  while (live > peak && !gPeakBytes.compare_exchange_weak(peak, live)) {
  }
  return block + 2;
}
void operator delete(void* pointer) noexcept {
  if (!pointer) return;
  auto* block = static_cast<std::size_t*>(pointer) - 2;
  gLiveBytes -= static_cast<std::int64_t>(*block);
  std::free(block);
}
void operator delete(void* pointer, std::size_t) noexcept { operator delete(pointer); }

namespace morvik {
namespace {

// The most held at once beyond what was live before, while `work` ran.
template <class Work>
std::int64_t peakAllocation(Work&& work) {
  const std::int64_t before = gLiveBytes.load();
  gPeakBytes = before;
  work();
  return gPeakBytes.load() - before;
}

// Decoding must fail with a DecodingError of kind dataCorrupted and no path.
void expectCorrupted(std::string_view body, const std::string& label) {
  try {
    decodeJSON<Response>(body);
    ADD_FAILURE() << label << ": decoded";
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted) << label;
    EXPECT_TRUE(error.codingPath().empty()) << label;
  }
}

std::string nested(std::size_t depth, const std::string& open, const std::string& close) {
  std::string body = R"({"data":{"unknown":)";
  for (std::size_t i = 0; i < depth; ++i) body += open;
  body += "1";
  for (std::size_t i = 0; i < depth; ++i) body += close;
  return body + "}}";
}

TEST(BadReplyTest, TextThatIsNotJSONFails) {
  for (const char* body :
       {"", "   \n\t", "<html>502 Bad Gateway</html>", "{'message':'x'}", "{\"message\":\"x\",}", "{} {}",
        "{\"message\":\"\xff\xfe\"}", "{\"message\":\"a\\ud800\"}", "NaN", "{\"a\":01}"}) {
    expectCorrupted(body, body);
  }
}

TEST(BadReplyTest, ADescriptionIsOneShortEscapedLineWithoutTheReplysText) {
  const std::string megabyte(1u << 20, 'x');
  const std::string personal = "Jane Q Public, 1985-02-03, 1200 Long Street Apt 4, Springfield";
  struct Case {
    const char* what;
    std::string body;
    std::vector<std::string> absent;  // reply text that must not appear
  };
  const std::vector<Case> cases = {
      {"1 MiB string ending in a bad byte", R"({"message":")" + megabyte + "\xff\"}", {std::string(41, 'x')}},
      {"bad byte early in 1 MiB", R"({"message":"ab)" + std::string("\xc3\x28") + megabyte + "\"}", {}},
      {"personal data before a bad byte", R"({"message":")" + personal + "\x80\"}", {"Jane", "1985"}},
      {"control bytes and a quote", std::string(R"({"message":"it's)") + "\x1b[2J\x01\"}", {"\x1b[", "\x01"}},
      {"1 MiB unquoted literal", "{\"a\":" + std::string(1u << 20, 't') + "}", {std::string(41, 't')}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      decodeJSON<Response>(c.body);
      ADD_FAILURE() << "decoded";
    } catch (const DecodingError& error) {
      const std::string line = error.what();
      EXPECT_EQ(line.rfind("dataCorrupted: ", 0), 0u) << line;
      EXPECT_LE(line.size(), DecodingError::kMaxDescriptionLength);
      EXPECT_LE(error.debugDescription().size(), 400u);
      for (unsigned char ch : line) EXPECT_TRUE(ch >= 0x20 && ch < 0x7F) << line;
      for (const auto& text : c.absent) EXPECT_EQ(line.find(text), std::string::npos) << line;
    }
  }
  // The member path survives, reply text or not.
  try {
    decodeJSON<Response>(R"({"data":{"requestId":87.5}})");
    ADD_FAILURE() << "decoded";
  } catch (const DecodingError& error) {
    const std::string line = error.what();
    EXPECT_EQ(line.rfind(R"(dataCorrupted at "data.requestId": )", 0), 0u) << line;
    EXPECT_LE(line.size(), DecodingError::kMaxDescriptionLength);
  }
}

TEST(BadReplyTest, EveryTruncationOfAVerdictFails) {
  const std::string_view full = samples::kFullVerdictReply;
  for (std::size_t length = 0; length < full.size(); ++length) {
    expectCorrupted(full.substr(0, length), "prefix of " + std::to_string(length) + " bytes");
  }
}

TEST(BadReplyTest, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  expectCorrupted(nested(10'000, "[", "]"), "10,000 arrays");
  expectCorrupted(nested(10'000, R"({"a":)", "}"), "10,000 objects");
  expectCorrupted(std::string(1'000'000, '['), "a million open brackets");
  // Up to the limit, deep unknown members are still skipped. The body's own two levels count.
  EXPECT_NO_THROW(decodeJSON<Response>(nested(kMaxJSONNestingDepth - 2, "[", "]")));
  expectCorrupted(nested(kMaxJSONNestingDepth - 1, "[", "]"), "one level past the limit");
}

TEST(BadReplyTest, FiftyMegabytesOfWhitespaceFailQuickly) {
  std::string blank(50u << 20, ' ');
  expectCorrupted(blank, "50 MB of spaces");
  blank[blank.size() / 2] = '{';
  blank[blank.size() / 2 + 1] = '}';
  EXPECT_NO_THROW(decodeJSON<Response>(blank));
}

// A capped reply can hold millions of values. Those of members no record knows are not built; the
// known ones may build only a small multiple of the reply's size before decoding fails. (The
// parser itself keeps the raw bytes of a run of brackets, and of a text while it reads it.)
TEST(BadReplyTest, DecodingHoldsASmallMultipleOfTheReplyAtMost) {
  constexpr std::size_t kSize = 8u << 20;
  auto repeated = [](std::string head, const std::string& item, const std::string& tail) {
    while (head.size() + tail.size() + item.size() + 1 < kSize) head += item + ",";
    return head + item + tail;
  };
  struct Case {
    const char* what;
    std::string body;
    bool decodes;
    double maxMultiple;  // of the body's size
  };
  const std::vector<Case> cases = {
      {"millions of empty objects in an unknown member",
       repeated(R"({"data":{"unknownMember":[)", "{}", "]},\"message\":\"ok\"}"), true, 2.0},
      {"millions of arrays and numbers in an unknown member",
       repeated(R"({"meta":{"extra":[)", "[1,[2.5e3],null]", "]}}"), true, 0.1},
      {"one long known text",
       R"({"data":{"diveResponse":{"document":{"fullName":")" + std::string(kSize, 'A') + "\"}}}}", true,
       6.0},
      {"millions of elements in a known list",
       repeated(R"({"data":{"diveResponse":{"externalVerificationResults":[)", "{}", "]}}}"), false, 4.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    bool decoded = false;
    const std::int64_t peak = peakAllocation([&] {
      try {
        decodeJSON<Response>(c.body);
        decoded = true;
      } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
        EXPECT_NE(std::string(error.what()).find("memory"), std::string::npos) << error.what();
      }
    });
    EXPECT_EQ(decoded, c.decodes);
    EXPECT_LE(static_cast<double>(peak), c.maxMultiple * static_cast<double>(c.body.size()))
        << "peak " << peak << " bytes for " << c.body.size();
  }
}

}  // namespace
}  // namespace morvik
