#include <gtest/gtest.h>

#include <string>

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
