#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "morvik/api/models/JSONCoding.h"
#include "morvik/api/models/Response.h"

namespace morvik {
namespace {

// The path a decoding failure reports, or "ok" when the body decodes.
template <class T = Response>
std::string failurePath(std::string_view body) {
  try {
    decodeJSON<T>(body);
    return "ok";
  } catch (const DecodingError& error) {
    return error.pathDescription().empty() ? "<root>" : error.pathDescription();
  }
}

std::optional<std::int64_t> documentConfidence(std::string_view literal) {
  const std::string body = R"({"data":{"diveResponse":{"documentVerificationResult":{"documentConfidence":)" +
                           std::string(literal) + "}}}}";
  return decodeJSON<Response>(body)
      .documentVerificationData->diveResponse->documentVerificationResult->documentConfidence;
}

TEST(ResponseDecodingTest, MissingNullAndUnknownMembersLeaveFieldsAbsent) {
  const Response empty = decodeJSON<Response>("{}");
  EXPECT_FALSE(empty.success || empty.message || empty.error || empty.msg || empty.meta ||
               empty.documentVerificationData);

  EXPECT_FALSE(decodeJSON<Response>(R"({"data":null,"message":null})").documentVerificationData);
  EXPECT_FALSE(
      decodeJSON<Response>(R"({"documentVerificationData":{"requestId":1}})").documentVerificationData);

  const Response bare = decodeJSON<Response>(R"({"data":{}})");
  ASSERT_TRUE(bare.documentVerificationData);
  EXPECT_FALSE(bare.documentVerificationData->requestId || bare.documentVerificationData->diveResponse);

  // Unknown members are skipped at every depth, whatever their type.
  const Response skipped = decodeJSON<Response>(R"({"status":"x","code":[1,{"a":null}],"Message":5,
      "meta":{"historyCount":4,"historycount":7,"extra":{"deep":[true]}},
      "data":{"diveResponse":{"document":{"documentClass":"X","template":"T","zip":"1","nested":{"k":1.5}},
      "documentConfidenceScores":{"template":9,"auditInformation":3}}}})");
  EXPECT_FALSE(skipped.message);
  EXPECT_EQ(skipped.meta->historyCount, 7);
  const Document& document = *skipped.documentVerificationData->diveResponse->document;
  EXPECT_FALSE(document.documentClass);
  EXPECT_EQ(document.zip, "1");
  EXPECT_EQ(skipped.documentVerificationData->diveResponse->documentConfidenceScores->auditInformation, 3);
  EXPECT_EQ(decodeJSON<Document>(R"({"class":"C"})").documentClass, "C");
}

TEST(ResponseDecodingTest, WrongJSONTypeFailsTheWholeReplyAtItsPath) {
  struct Case {
    const char* body;
    const char* path;
  };
  const Case cases[] = {
      {R"({"success":true})", "ok"},
      {R"({"success":"true"})", "success"},
      {R"({"success":1})", "success"},
      {R"({"message":5})", "message"},
      {R"({"meta":[]})", "meta"},
      {R"({"meta":{"total":10.5}})", "meta.total"},
      {R"({"data":{"requestId":"12"}})", "data.requestId"},
      {R"({"data":{"requestId":12,"diveResponse":{"requestId":12}}})", "data.diveResponse.requestId"},
      {R"({"data":{"requestId":12,"diveResponse":{"requestId":"12"}}})", "ok"},
      {R"({"data":{"diveResponse":"x"}})", "data.diveResponse"},
      {R"({"data":{"diveResponse":{"documentVerificationResult":{"isOcrSuccess":1}}}})",
       "data.diveResponse.documentVerificationResult.isOcrSuccess"},
      {R"({"data":{"diveResponse":{"documentVerificationResult":{"isOcrSuccess":"true"}}}})",
       "data.diveResponse.documentVerificationResult.isOcrSuccess"},
      {R"({"data":{"diveResponse":{"document":{"zip":95818}}}})", "data.diveResponse.document.zip"},
      {R"({"data":{"diveResponse":{"externalVerificationResults":[null]}}})",
       "data.diveResponse.externalVerificationResults[0]"},
      {R"({"data":{"diveResponse":{"externalVerificationResults":[{},{"status":"x"}]}}})",
       "data.diveResponse.externalVerificationResults[1].status"},
      {R"({"data":{"diveResponse":{"externalVerificationResults":{}}}})",
       "data.diveResponse.externalVerificationResults"},
      // The first wrong member in reading order is reported: "msg" before "error"; "class" is read
      // 15th in a document, before "country".
      {R"({"error":1,"msg":2})", "msg"},
      {R"({"data":{"diveResponse":{"document":{"country":1,"class":2,"zip":3}}}})",
       "data.diveResponse.document.class"},
      {"[]", "<root>"},
      {R"("text")", "<root>"},
      {"null", "<root>"},
  };
  for (const Case& c : cases) EXPECT_EQ(failurePath(c.body), c.path) << c.body;
}

TEST(ResponseDecodingTest, ListsDistinguishEmptyFromAbsent) {
  const auto empty = decodeJSON<DiveResponse>(R"({"externalVerificationResults":[]})");
  ASSERT_TRUE(empty.externalVerificationResults);
  EXPECT_TRUE(empty.externalVerificationResults->empty());
  EXPECT_FALSE(
      decodeJSON<DiveResponse>(R"({"externalVerificationResults":null})").externalVerificationResults);
}

TEST(ResponseDecodingTest, IntegersAreExactWholeNumbersWithinSigned64Bits) {
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(documentConfidence("87"), 87);
  EXPECT_EQ(documentConfidence("5.0"), 5);
  EXPECT_EQ(documentConfidence("1e3"), 1000);
  EXPECT_EQ(documentConfidence("12.5e1"), 125);
  EXPECT_EQ(documentConfidence("-0.0"), 0);
  EXPECT_EQ(documentConfidence("9223372036854775807"), kMax);
  EXPECT_EQ(documentConfidence("-9223372036854775808"), kMin);
  EXPECT_EQ(documentConfidence("-9.223372036854775808e18"), kMin);

  // A double would round each of these to a whole number in range; the literal is not one.
  for (const char* literal : {"87.5", "9223372036854775808", "-9223372036854775809", "1e19",
                              "12345678901234567.5", "1e-400", "9223372036854775807.0001"}) {
    try {
      documentConfidence(literal);
      ADD_FAILURE() << literal << " decoded";
    } catch (const DecodingError& error) {
      EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted) << literal;
      EXPECT_EQ(error.pathDescription(), "data.diveResponse.documentVerificationResult.documentConfidence");
    }
  }
}

TEST(ResponseDecodingTest, ErrorCarriesKindPathAndDescription) {
  try {
    decodeJSON<Response>(R"({"data":{"diveResponse":{"externalVerificationResults":[{"effect":true}]}}})");
    FAIL() << "decoded";
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.kind(), DecodingError::Kind::typeMismatch);
    ASSERT_EQ(error.codingPath().size(), 5u);
    EXPECT_EQ(error.codingPath()[3].stringValue, "Index 0");
    EXPECT_EQ(error.codingPath()[3].intValue, 0u);
    EXPECT_FALSE(error.codingPath()[4].intValue);
    EXPECT_STREQ(
        error.what(),
        "typeMismatch at \"data.diveResponse.externalVerificationResults[0].effect\": Expected to decode "
        "Int64 but found a Boolean instead.");
  }
}

TEST(UserRecordDecodingTest, StoredRecordIsReadStrictly) {
  EXPECT_EQ(decodeJSON<LogInResponse>(R"({"_id":"u1"})").id, "u1");
  EXPECT_FALSE(decodeJSON<LogInResponse>(R"({"id":"u1"})").id);

  const auto tokenOnly = decodeJSON<LogInResponse>(R"({"auth":{"accessToken":"tok","extra":1}})");
  EXPECT_EQ(tokenOnly.auth->accessToken, "tok");
  EXPECT_FALSE(tokenOnly.email || tokenOnly.dob || tokenOnly.auth->tokenType);

  EXPECT_EQ(failurePath<LogInResponse>(R"({"latitude":37.5,"auth":{"accessToken":"tok"}})"), "latitude");
  EXPECT_EQ(failurePath<LogInResponse>(R"({"dob":"1990"})"), "dob");
  EXPECT_EQ(failurePath<LogInResponse>(R"({"isPhoneVerified":1})"), "isPhoneVerified");
  EXPECT_EQ(failurePath<LogInResponse>(R"({"isPhoneVerified":false})"), "ok");
  EXPECT_EQ(failurePath<LogInResponse>(R"({"auth":"tok"})"), "auth");
  EXPECT_EQ(failurePath<LogInResponse>(R"({"auth":{"expiresIn":"3600"}})"), "auth.expiresIn");
}

}  // namespace
}  // namespace morvik
