#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "api/models/FullVerdictReply.h"
#include "morvik/api/models/JSONCoding.h"
#include "morvik/api/models/Response.h"

namespace morvik {
namespace {

using nlohmann::ordered_json;

std::vector<std::string> keysOf(const ordered_json& object) {
  std::vector<std::string> keys;
  for (const auto& item : object.items()) keys.push_back(item.key());
  return keys;
}

// Host code must not reach the 36 internal scores; auditInformation stays open.
template <class T>
concept ExposesInternalScores = requires(T scores) {
  scores.cardRevisionDate;
};
template <class T>
concept ExposesAuditInformation = requires(T scores) {
  scores.auditInformation;
};
static_assert(!ExposesInternalScores<DocumentConfidenceScores>);
static_assert(ExposesAuditInformation<DocumentConfidenceScores>);

TEST(RecordEncodingTest, FullVerdictSurvivesARoundTripInKeyOrder) {
  const Response decoded = decodeJSON<Response>(samples::kFullVerdictReply);
  const std::string encoded = encodeJSON(decoded);
  // Every member of the sample is a known field, so nothing may be lost or changed.
  EXPECT_EQ(nlohmann::json::parse(encoded), nlohmann::json::parse(samples::kFullVerdictReply));
  EXPECT_EQ(encodeJSON(decodeJSON<Response>(encoded)), encoded);

  const ordered_json tree = ordered_json::parse(encoded);
  EXPECT_EQ(keysOf(tree), (std::vector<std::string>{"success", "message", "msg", "error", "meta", "data"}));
  EXPECT_EQ(keysOf(tree["meta"])[5], "historycount");
  const ordered_json& dive = tree["data"]["diveResponse"];
  EXPECT_EQ(keysOf(dive), (std::vector<std::string>{
                              "requestId", "document", "documentConfidenceScores",
                              "documentVerificationResult", "faceMatchVerificationResult",
                              "antiSpoofingVerificationResult", "externalVerificationResults", "reference"}));
  const auto documentKeys = keysOf(dive["document"]);
  ASSERT_EQ(documentKeys.size(), 36u);
  EXPECT_EQ(documentKeys[14], "country");
  EXPECT_EQ(documentKeys[34], "zip");
  EXPECT_EQ(documentKeys[35], "class");
  const auto scoreKeys = keysOf(dive["documentConfidenceScores"]);
  ASSERT_EQ(scoreKeys.size(), 37u);  // internal scores are encoded too
  EXPECT_EQ(scoreKeys[32], "state");
  EXPECT_EQ(scoreKeys[33], "template");
  EXPECT_EQ(scoreKeys[34], "weight");
  EXPECT_EQ(scoreKeys[36], "class");
  EXPECT_EQ(keysOf(dive["externalVerificationResults"][2]),
            (std::vector<std::string>{"status", "name", "displayName", "reason", "effect"}));
}

TEST(RecordEncodingTest, AbsentFieldsWriteNothing) {
  EXPECT_EQ(encodeJSON(Response{}), "{}");
  EXPECT_EQ(encodeJSON(DocumentVerificationData{}), "{}");
  EXPECT_EQ(
      encodeJSON(decodeJSON<DocumentVerificationData>(
          R"({"diveResponse":{"document":{"class":"C","zip":"95818"},"externalVerificationResults":[]}})")),
      R"({"diveResponse":{"document":{"zip":"95818","class":"C"},"externalVerificationResults":[]}})");
  EXPECT_EQ(encodeJSON(decodeJSON<Response>(R"({"message":null,"data":{"requestId":-3}})")),
            R"({"data":{"requestId":-3}})");
}

TEST(RecordEncodingTest, HostTextThatIsNotUTF8IsReplacedNotThrown) {
  Document document;
  document.city = std::string("Sacramento\xff", 11);
  const std::string encoded = encodeJSON(document);
  EXPECT_EQ(decodeJSON<Document>(encoded).city, "Sacramento\xEF\xBF\xBD");
}

}  // namespace
}  // namespace morvik
