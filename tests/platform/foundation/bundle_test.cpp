#include <dlfcn.h>
#include <gtest/gtest.h>
#include <morvik/platform/foundation/Bundle.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace foundation {
namespace {

namespace fs = std::filesystem;

class BundleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "morvik-bundle-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = fs::canonical(pattern);
    fs::create_directories(root_ / "Res.bundle" / "nested.bundle");
    std::ofstream(root_ / "Res.bundle" / "logo.png") << "png";
    std::ofstream(root_ / "Res.bundle" / "README") << "text";
    std::ofstream(root_ / "secret.txt") << "outside";
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_F(BundleTest, OpensOnlyExistingDirectories) {
  EXPECT_EQ(Bundle::open((root_ / "missing.bundle").string()), nullptr);
  EXPECT_EQ(Bundle::open((root_ / "secret.txt").string()), nullptr);
  EXPECT_EQ(Bundle::open(std::string_view()), nullptr);
  EXPECT_EQ(Bundle::open(URL::string("https://example.com/tmp/").value()), nullptr);

  const auto bundle = Bundle::open(URL::fileURLWithPath((root_ / "Res.bundle").string()));
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle->bundlePath(), (root_ / "Res.bundle").string());
  EXPECT_EQ(bundle->bundleURL().absoluteString(), "file://" + (root_ / "Res.bundle").string() + "/");
  EXPECT_EQ(bundle->resourceURL(), bundle->bundleURL());
}

TEST_F(BundleTest, TheSameDirectoryGivesTheSameObjectUntilItDisappears) {
  const auto a = Bundle::open((root_ / "Res.bundle").string());
  fs::create_directory_symlink(root_ / "Res.bundle", root_ / "link");
  EXPECT_EQ(Bundle::open((root_ / "Res.bundle" / "nested.bundle" / "..").string()), a);
  EXPECT_EQ(Bundle::open((root_ / "link").string()), a);
  EXPECT_EQ(Bundle::open((root_ / "Res.bundle/").string()), a);

  fs::remove_all(root_ / "Res.bundle");
  EXPECT_EQ(Bundle::open((root_ / "Res.bundle").string()), nullptr);
  // The object already handed out still answers, but finds nothing.
  EXPECT_FALSE(a->url("logo", "png"));
}

TEST_F(BundleTest, ResourceLookupsStayInsideTheBundle) {
  const auto bundle = Bundle::open((root_ / "Res.bundle").string());
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle->path("logo", "png"), (root_ / "Res.bundle" / "logo.png").string());
  EXPECT_EQ(bundle->url("logo", "png")->lastPathComponent(), "logo.png");
  EXPECT_EQ(bundle->path("README"), (root_ / "Res.bundle" / "README").string());
  EXPECT_EQ(bundle->path("logo.png", ""), (root_ / "Res.bundle" / "logo.png").string());
  EXPECT_TRUE(bundle->url("nested", "bundle")->hasDirectoryPath());
  EXPECT_FALSE(bundle->url("logo", "jpg"));
  EXPECT_FALSE(bundle->url("", "png"));
  EXPECT_FALSE(bundle->path("../secret", "txt"));
  EXPECT_FALSE(bundle->path("..", ""));
  EXPECT_FALSE(bundle->path("secret", "txt/../../secret.txt"));
}

TEST(BundleProcess, MainIsTheExecutablesFolderAndContainingFindsTheLibrary) {
  const auto main = Bundle::main();
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->bundlePath(), fs::canonical("/proc/self/exe").parent_path().string());
  // An address in this program's code lies in the main bundle.
  static int marker = 0;
  EXPECT_EQ(Bundle::containing(&marker), main);

  // An address inside a shared library names that library's folder.
  Dl_info info{};
  ASSERT_NE(::dladdr(reinterpret_cast<const void*>(&Bundle::main), &info), 0);
  EXPECT_EQ(Bundle::containing(reinterpret_cast<const void*>(&Bundle::main))->bundlePath(),
            fs::canonical(info.dli_fname).parent_path().string());
  EXPECT_EQ(Bundle::containing(nullptr), nullptr);
}

}  // namespace
}  // namespace foundation
