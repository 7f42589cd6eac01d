#include <gtest/gtest.h>
#include <morvik/platform/uikit/UIColor.h>
#include <morvik/platform/uikit/UIFont.h>

#include <filesystem>
#include <fstream>

using namespace uikit;

namespace {
class ColorBundle {
 public:
  ColorBundle() {
    path_ = std::filesystem::temp_directory_path() / ("uikit_colors_" + std::to_string(::getpid()));
    std::filesystem::create_directories(path_);
  }
  ~ColorBundle() { std::filesystem::remove_all(path_); }
  void asset(const std::string& name, const std::string& json) const {
    std::filesystem::create_directories(path_ / (name + ".colorset"));
    std::ofstream(path_ / (name + ".colorset") / "Contents.json") << json;
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};
}  // namespace

TEST(UIColorAssetTest, ValidMissingAndMalformedAssets) {
  ColorBundle b;
  b.asset("ButtonBG#3AB54A", R"({"color": {"red": 0.227, "green": 0.71, "blue": 0.29, "alpha": 1}})");
  b.asset("NoAlpha", R"({"color": {"red": 1, "green": 0, "blue": 0}})");
  b.asset("Truncated", R"({"color": {"red": 1, "green": )");
  b.asset("Text", R"({"color": {"red": "1", "green": 0, "blue": 0}})");
  b.asset("TooBright", R"({"color": {"red": 255, "green": 0, "blue": 0}})");
  b.asset("NoBlue", R"({"color": {"red": 1, "green": 0}})");
  b.asset("NotAnObject", R"([1, 2, 3])");

  auto green = UIColor::named("ButtonBG#3AB54A", b.path());
  ASSERT_TRUE(green);
  EXPECT_NEAR(green->cgColor().green, 0.71, 1e-12);
  EXPECT_EQ(UIColor::named("NoAlpha", b.path())->alpha(), 1);
  for (const char* bad :
       {"Missing", "Truncated", "Text", "TooBright", "NoBlue", "NotAnObject", "", "..", "a/b"})
    EXPECT_FALSE(UIColor::named(bad, b.path())) << bad;
  EXPECT_TRUE(UIColor::named("ButtonBG#3AB54A", foundation::Bundle::open(b.path().string())));
}

TEST(UIColorTest, ComponentsAreClampedAndAlphaReplaced) {
  const UIColor c(1.5, -1, 0.5, 2);
  EXPECT_EQ(c.cgColor(), quartz::CGColor::make(1, 0, 0.5, 1));
  const UIColor faded = UIColor::systemBlue().withAlphaComponent(0.6);
  EXPECT_EQ(faded.alpha(), 0.6);
  EXPECT_EQ(faded.cgColor().blue, UIColor::systemBlue().cgColor().blue);
  EXPECT_EQ(UIColor(0.12, 1).cgColor().red, 0.12);
  EXPECT_EQ(toString(UIColor::clear()), "UIColor(0 0 0 0)");
}

TEST(UIFontTest, MetricsFollowTheSharedModel) {
  const UIFont regular = UIFont::systemFont(20);
  const UIFont semibold = UIFont::systemFont(20, UIFont::Weight::semibold);
  EXPECT_DOUBLE_EQ(regular.lineHeight(), 24);
  EXPECT_DOUBLE_EQ(regular.averageAdvance(), 11);
  EXPECT_DOUBLE_EQ(semibold.averageAdvance(), 11.6);
  EXPECT_DOUBLE_EQ(UIFont::boldSystemFont(16).averageAdvance(), 16 * 0.58);
  EXPECT_EQ(semibold.fontName(), ".SFUI-Semibold");
  EXPECT_EQ(UIFont::systemFont(-4).pointSize(), 17);  // nonsense sizes fall back to the body size
  EXPECT_EQ(semibold.withSize(32).weight(), UIFont::Weight::semibold);
}
