#include <gtest/gtest.h>
#include <morvik/platform/foundation/UserDefaults.h>

#include <cmath>
#include <thread>
#include <vector>

namespace foundation {
namespace {

TEST(UserDefaults, KeepsEveryPropertyListKind) {
  UserDefaults d;
  const PropertyListDictionary user{{"auth", PropertyListDictionary{{"accessToken", "t0k"}}}, {"id", 7}};
  d.set(user, "user_data");
  d.set(PropertyListArray{1, "two", 3.5, true}, "list");
  d.set(Date(1234.5), "when");

  EXPECT_EQ(d.dictionary("user_data"), user);
  EXPECT_EQ(d.array("list")->size(), 4u);
  d.set(Data(std::vector<std::uint8_t>{0, 1, 255}), "blob");
  EXPECT_EQ(d.data("blob")->vector(), (std::vector<std::uint8_t>{0, 1, 255}));
  EXPECT_EQ(d.object("when")->asDate()->timeIntervalSince1970(), 1234.5);
  // Kinds are not converted into one another where the platform does not.
  EXPECT_FALSE(d.data("user_data"));
  EXPECT_FALSE(d.dictionary("list"));
  EXPECT_FALSE(d.string("blob"));
  EXPECT_EQ(d.integer("user_data"), 0);
}

TEST(UserDefaults, TypedReadsConvertNumbersBooleansAndNumericTexts) {
  UserDefaults d;
  d.set(42, "int");
  d.set(2.75, "double");
  d.set(true, "bool");
  d.set("17", "text");
  d.set("YES", "yes");
  d.set("hello", "word");
  d.set(1e300, "huge");

  EXPECT_EQ(d.integer("double"), 2);
  EXPECT_EQ(d.integer("bool"), 1);
  EXPECT_EQ(d.integer("text"), 17);
  EXPECT_EQ(d.integer("word"), 0);
  EXPECT_EQ(d.integer("huge"), INT64_MAX);
  EXPECT_EQ(d.double_("int"), 42.0);
  EXPECT_EQ(d.double_("text"), 17.0);
  EXPECT_TRUE(d.bool_("int"));
  EXPECT_TRUE(d.bool_("yes"));
  EXPECT_FALSE(d.bool_("word"));
  EXPECT_EQ(d.string("int"), "42");
  EXPECT_EQ(d.string("double"), "2.75");
  EXPECT_FALSE(d.string("bool"));

  // Missing keys read as nothing or zero.
  EXPECT_FALSE(d.object("absent"));
  EXPECT_EQ(d.integer("absent"), 0);
  EXPECT_FALSE(d.bool_("absent"));

  // Storing null removes, like setting nil.
  d.set(PropertyListValue(), "int");
  EXPECT_FALSE(d.object("int"));
  d.removeObject("double");
  EXPECT_FALSE(d.object("double"));
}

TEST(UserDefaults, StandardIsOneSharedStore) {
  UserDefaults::standard()->set("v", "morvik.test.shared");
  EXPECT_EQ(UserDefaults::standard()->string("morvik.test.shared"), "v");
  UserDefaults::standard()->removeObject("morvik.test.shared");
  EXPECT_EQ(UserDefaults::standard(), UserDefaults::standard());
}

TEST(UserDefaults, ConcurrentWritersAndReadersSeeWholeValues) {
  for (int threads : {2, 4, 8}) {
    UserDefaults d;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
      pool.emplace_back([&d, t] {
        for (int i = 0; i < 500; ++i) {
          const std::string key = "k" + std::to_string(i % 16);
          if (t % 2 == 0) {
            d.set(PropertyListArray{t, i, std::string(64, 'x')}, key);
          } else if (const auto v = d.array(key)) {
            // A reader sees either nothing or a complete three-item array.
            EXPECT_EQ(v->size(), 3u);
          }
        }
      });
    }
    for (auto& th : pool) th.join();
    EXPECT_EQ(d.dictionaryRepresentation().size(), 16u);
  }
}

}  // namespace
}  // namespace foundation
