#include <gtest/gtest.h>
#include <morvik/platform/foundation/Console.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "support/ResourceBundle.h"

namespace morvik {
namespace {

namespace fs = std::filesystem;
using foundation::Bundle;
using foundation::URL;

constexpr const char* kMissingMessage = "unable to find bundle named MorvikVerifyPackage_MorvikVerifyPackage";

// A scratch tree laid out like an installed host: <root>/a/b/framework is the
// class bundle, <root>/app the main bundle.
class ResourceBundleSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "morvik-rb-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "a" / "b" / "framework");
    fs::create_directories(root_ / "app");
    fs::create_directories(root_ / "app-res");
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path frameworkDir() const { return root_ / "a" / "b" / "framework"; }

  // Puts a resource bundle (with one marker file) into a directory.
  fs::path putBundle(const fs::path& dir) {
    const auto bundle = dir / kResourceBundleFileName;
    fs::create_directories(bundle);
    std::ofstream(bundle / "marker.txt") << dir.string();
    return fs::canonical(bundle);
  }

  BundleSearchPlaces places(bool separateMainResources = false) const {
    BundleSearchPlaces p;
    p.mainBundleURL = URL::fileURLWithPath((root_ / "app").string(), true);
    p.mainResourceURL =
        URL::fileURLWithPath((root_ / (separateMainResources ? "app-res" : "app")).string(), true);
    p.classBundle = Bundle::open(frameworkDir().string());
    return p;
  }

  fs::path root_;
};

TEST_F(ResourceBundleSearchTest, HostCopyWinsForBothLookups) {
  const auto hostCopy = putBundle(root_ / "app");
  putBundle(frameworkDir());
  putBundle(root_);
  foundation::ScopedConsoleCapture console;
  EXPECT_EQ(searchResourceBundle(places())->bundlePath(), hostCopy.string());
  EXPECT_EQ(searchImageBundle(places())->bundlePath(), hostCopy.string());
  EXPECT_TRUE(console.lines().empty());
}

TEST_F(ResourceBundleSearchTest, CandidatesAreTriedInOrder) {
  // The class resourceURL comes before the main bundleURL in both lists.
  putBundle(root_ / "app");
  const auto frameworkCopy = putBundle(frameworkDir());
  EXPECT_EQ(searchResourceBundle(places(true))->bundlePath(), frameworkCopy.string());
  EXPECT_EQ(searchImageBundle(places(true))->bundlePath(), frameworkCopy.string());

  // The main bundleURL comes before the directories above the framework.
  fs::remove_all(frameworkDir() / kResourceBundleFileName);
  const auto appCopy = root_ / "app" / kResourceBundleFileName;
  putBundle(root_ / "a");
  EXPECT_EQ(searchImageBundle(places(true))->bundlePath(), fs::canonical(appCopy).string());
}

TEST_F(ResourceBundleSearchTest, ThreeLevelsUpBeatsTwoLevelsUp) {
  const auto threeUp = putBundle(root_);
  putBundle(root_ / "a");
  EXPECT_EQ(searchImageBundle(places())->bundlePath(), threeUp.string());
}

TEST_F(ResourceBundleSearchTest, TwoLevelsUpIsFoundOnlyByTheImageLookup) {
  const auto twoUp = putBundle(root_ / "a");
  foundation::ScopedConsoleCapture console;
  EXPECT_EQ(searchImageBundle(places())->bundlePath(), twoUp.string());
  EXPECT_TRUE(console.lines().empty());

  // The colour lookup does not look above the framework: it reports and
  // answers the class bundle instead of stopping the process.
  const auto resource = searchResourceBundle(places());
  EXPECT_EQ(resource, places().classBundle);
  EXPECT_EQ(console.lines(), std::vector<std::string>{kMissingMessage});
  EXPECT_FALSE(resource->url("ButtonBG#3AB54A", "colorset").has_value());
}

TEST_F(ResourceBundleSearchTest, NothingAnywhereAnswersTheClassBundle) {
  // A plain file of the bundle's name is no bundle.
  std::ofstream(root_ / "app" / kResourceBundleFileName) << "not a directory";
  std::ofstream(frameworkDir() / kResourceBundleFileName) << "not a directory";
  foundation::ScopedConsoleCapture console;
  EXPECT_EQ(searchImageBundle(places()), places().classBundle);
  EXPECT_TRUE(console.lines().empty());
  EXPECT_EQ(searchResourceBundle(places()), places().classBundle);
  EXPECT_EQ(console.count(kMissingMessage), 1u);
}

TEST_F(ResourceBundleSearchTest, MissingPlacesAreSkipped) {
  BundleSearchPlaces none;
  foundation::ScopedConsoleCapture console;
  EXPECT_EQ(searchImageBundle(none), nullptr);
  EXPECT_EQ(searchResourceBundle(none), nullptr);

  BundleSearchPlaces classOnly;
  classOnly.classBundle = Bundle::open(frameworkDir().string());
  const auto threeUp = putBundle(root_);
  EXPECT_EQ(searchImageBundle(classOnly)->bundlePath(), threeUp.string());
}

TEST_F(ResourceBundleSearchTest, AnswersAreComputedOnceAndNeverChange) {
  std::atomic<int> searches{0};
  ResourceBundleLookup lookup([&] {
    ++searches;
    return places();
  });
  foundation::ScopedConsoleCapture console;

  std::vector<std::thread> threads;
  std::vector<std::shared_ptr<Bundle>> resource(8), image(8);
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      resource[static_cast<std::size_t>(i)] = lookup.resourceBundle();
      image[static_cast<std::size_t>(i)] = lookup.imageBundle();
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(searches.load(), 2);  // one per lookup
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(resource[static_cast<std::size_t>(i)], places().classBundle);
    EXPECT_EQ(image[static_cast<std::size_t>(i)], places().classBundle);
  }

  // A bundle that appears later changes nothing, and nothing is printed again.
  putBundle(root_ / "app");
  EXPECT_EQ(lookup.resourceBundle(), places().classBundle);
  EXPECT_EQ(lookup.imageBundle(), places().classBundle);
  EXPECT_EQ(searches.load(), 2);
  EXPECT_EQ(console.count(kMissingMessage), 1u);
}

TEST(ResourceBundleRealBuild, FindsTheBundleBesideTheCodeThatHoldsTheSDK) {
  const auto places = currentBundleSearchPlaces();
  ASSERT_NE(places.classBundle, nullptr);
  // The class bundle is the folder of the binary the SDK's code lives in: the
  // shared library for hosts, this test program here (it links the SDK's
  // objects statically to reach internal classes).
  EXPECT_TRUE(fs::exists(fs::path(places.classBundle->bundlePath()) / "test_support_resource_bundle"));

  const auto image = imageBundle();
  const auto resource = resourceBundle();
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image, resource);
  EXPECT_EQ(image->bundleURL().lastPathComponent(), kResourceBundleFileName);
  EXPECT_EQ(fs::path(image->bundlePath()).parent_path().string(), places.classBundle->bundlePath());
  EXPECT_TRUE(image->url("ButtonBG#3AB54A", "colorset").has_value());
  EXPECT_EQ(imageBundle(), image);
}

}  // namespace
}  // namespace morvik
