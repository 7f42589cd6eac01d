#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/models/FullVerdictReply.h"
#include "morvik/api/models/JSONCoding.h"
#include "morvik/api/models/Response.h"

namespace morvik {
namespace {

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

}  // namespace
}  // namespace morvik
