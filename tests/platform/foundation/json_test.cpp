#include <gtest/gtest.h>
#include <morvik/platform/foundation/JSONSerialization.h>

#include <cmath>
#include <limits>

namespace foundation {
namespace {

std::string text(const PropertyListValue& v, unsigned options = JSONSerialization::none) {
  return JSONSerialization::data(v, options).rawString();
}

TEST(JSONSerialization, WritesAndReadsBackPropertyListDictionaries) {
  const PropertyListDictionary user{
      {"auth", PropertyListDictionary{{"accessToken", "abc"}, {"expires", 3600}}},
      {"name", "Zoë \"Z\" / Q"},
      {"scores", PropertyListArray{1, 2.5, true, PropertyListNull{}}},
  };
  const auto data = JSONSerialization::data(user);
  EXPECT_EQ(
      data.rawString(),
      R"({"auth":{"accessToken":"abc","expires":3600},"name":"Zoë \"Z\" \/ Q","scores":[1,2.5,true,null]})");
  EXPECT_EQ(JSONSerialization::jsonObject(data), PropertyListValue(user));
  EXPECT_EQ(text(PropertyListArray{"a/b"}, JSONSerialization::withoutEscapingSlashes), R"(["a/b"])");
  EXPECT_NE(text(user, JSONSerialization::prettyPrinted).find("\n  \"auth\""), std::string::npos);
}

TEST(JSONSerialization, RefusesValuesJSONCannotHold) {
  const std::vector<PropertyListValue> bad{
      PropertyListDictionary{{"blob", Data::fromString("x")}},
      PropertyListArray{Date(1)},
      PropertyListArray{std::numeric_limits<double>::quiet_NaN()},
      PropertyListDictionary{
          {"deep", PropertyListArray{PropertyListArray{std::numeric_limits<double>::infinity()}}}},
      PropertyListArray{std::string("\xff\xfe")},
      PropertyListDictionary{{std::string("k\xc0"), 1}},
  };
  for (const auto& value : bad) {
    EXPECT_FALSE(JSONSerialization::isValidJSONObject(value));
    try {
      JSONSerialization::data(value);
      ADD_FAILURE() << "no error";
    } catch (const NSError& e) {
      EXPECT_EQ(e.domain(), NSCocoaErrorDomain);
      EXPECT_EQ(e.code(), 3851);
      EXPECT_FALSE(e.localizedDescription().empty());
    }
  }
  // A fragment at the top needs the option.
  EXPECT_THROW(JSONSerialization::data("text"), NSError);
  EXPECT_EQ(text(42, JSONSerialization::fragmentsAllowed), "42");
  EXPECT_FALSE(JSONSerialization::isValidJSONObject(42));
  EXPECT_TRUE(JSONSerialization::isValidJSONObject(PropertyListDictionary{}));
}

TEST(JSONSerialization, ReadingKeepsIntegersApartFromDoublesAndRejectsBadText) {
  const auto v = JSONSerialization::jsonObject(
      Data::fromString(R"({"i": 3, "d": 3.0, "e": 1e2, "big": 18446744073709551615, "neg": -9})"));
  const auto& d = *v.asDictionary();
  EXPECT_TRUE(d.at("i").isInteger());
  EXPECT_TRUE(d.at("d").isDouble());
  EXPECT_TRUE(d.at("e").isDouble());
  EXPECT_TRUE(d.at("big").isDouble());
  EXPECT_EQ(*d.at("neg").asInteger(), -9);

  for (const char* bad : {"", "{", "{\"a\":}", "[1,]", "nul", "{\"a\":1} x", "\"\xff\""}) {
    EXPECT_THROW(JSONSerialization::jsonObject(Data::fromString(bad)), NSError) << bad;
  }
  EXPECT_THROW(JSONSerialization::jsonObject(Data::fromString("12")), NSError);
  EXPECT_EQ(JSONSerialization::jsonObject(Data::fromString("12"), JSONSerialization::readingFragmentsAllowed),
            PropertyListValue(12));
  // Hostile nesting fails cleanly instead of exhausting the stack.
  EXPECT_THROW(JSONSerialization::jsonObject(Data::fromString(std::string(100000, '['))), NSError);
  EXPECT_NO_THROW(JSONSerialization::jsonObject(Data::fromString("[\"[[[[\"]")));
}

}  // namespace
}  // namespace foundation
