#include <gtest/gtest.h>
#include <morvik/platform/foundation/URL.h>

namespace foundation {
namespace {

TEST(URLParsing, SplitsAnHTTPURLIntoItsParts) {
  const auto url =
      URL::string("https://user:pw@api.example.com:8443/v1/upload%20files/?a=1&b=two%20words#frag");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->scheme(), "https");
  EXPECT_EQ(url->host(), "api.example.com");
  EXPECT_EQ(url->port(), 8443);
  EXPECT_EQ(url->user(), "user");
  EXPECT_EQ(url->password(), "pw");
  EXPECT_EQ(url->path(), "/v1/upload files");
  EXPECT_EQ(url->lastPathComponent(), "upload files");
  EXPECT_EQ(url->query(), "a=1&b=two%20words");
  EXPECT_EQ(url->fragment(), "frag");
  EXPECT_FALSE(url->isFileURL());

  const auto v6 = URL::string("http://[::1]:8080/x");
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->host(), "::1");
  EXPECT_EQ(v6->port(), 8080);
  EXPECT_EQ(URL::string("http://h:/x")->port(), std::nullopt);
}

TEST(URLParsing, RejectsTextsThatAreNoURL) {
  for (const char* bad : {"", "http://exa mple.com", "http://h/a b", "http://h/%zz", "http://h/%4",
                          "1http://h", "http://h:99999/", "http://h:12ab/", "http://h/<x>",
                          "http://h/\xc3\xa9", "a#b#c", "http://[::1/", "http://[::1]x/"}) {
    EXPECT_FALSE(URL::string(bad)) << bad;
  }
  // Relative references are URLs too.
  const auto relative = URL::string("images/card.png");
  ASSERT_TRUE(relative);
  EXPECT_EQ(relative->scheme(), std::nullopt);
  EXPECT_EQ(relative->pathExtension(), "png");
}

TEST(URLPaths, TrailingSlashesAndTheRoot) {
  const auto dir = URL::fileURLWithPath("/tmp/a/", true);
  EXPECT_EQ(dir.absoluteString(), "file:///tmp/a/");
  EXPECT_EQ(dir.path(), "/tmp/a");
  EXPECT_EQ(dir.lastPathComponent(), "a");
  EXPECT_TRUE(dir.hasDirectoryPath());

  const auto root = URL::fileURLWithPath("/", true);
  EXPECT_EQ(root.path(), "/");
  EXPECT_EQ(root.lastPathComponent(), "/");
  EXPECT_EQ(root.deletingLastPathComponent().path(), "/");
  EXPECT_EQ(root.deletingLastPathComponent().deletingLastPathComponent().absoluteString(), "file:///");

  const auto file = URL::fileURLWithPath("/a/b/c.tar.gz", false);
  EXPECT_EQ(file.deletingLastPathComponent().absoluteString(), "file:///a/b/");
  EXPECT_EQ(file.deletingLastPathComponent().deletingLastPathComponent().deletingLastPathComponent().path(),
            "/");
  EXPECT_EQ(file.pathExtension(), "gz");
  EXPECT_EQ(URL::fileURLWithPath("/a/.hidden", false).pathExtension(), "");
  EXPECT_EQ(URL::fileURLWithPath("/a/name.", false).pathExtension(), "");
  // Removing from a directory URL removes its last component, not an empty one.
  EXPECT_EQ(URL::fileURLWithPath("/a/b/c/", true).deletingLastPathComponent().absoluteString(),
            "file:///a/b/");

  const auto host = URL::string("https://h.example");
  EXPECT_EQ(host->path(), "");
  EXPECT_EQ(host->lastPathComponent(), "");
  EXPECT_EQ(host->appendingPathComponent("v1").absoluteString(), "https://h.example/v1");
}

TEST(URLPaths, AppendingNeverDoublesSlashesAndEncodes) {
  const auto base = URL::string("https://h.example/api/").value();
  EXPECT_EQ(base.appendingPathComponent("verify").absoluteString(), "https://h.example/api/verify");
  EXPECT_EQ(base.appendingPathComponent("/verify").absoluteString(), "https://h.example/api/verify");
  EXPECT_EQ(URL::string("https://h.example/api")->appendingPathComponent("x", true).absoluteString(),
            "https://h.example/api/x/");

  const auto withQuery = URL::string("https://h.example/api?k=v#top").value();
  EXPECT_EQ(withQuery.appendingPathComponent("a b#c?").absoluteString(),
            "https://h.example/api/a%20b%23c%3F?k=v#top");
  EXPECT_EQ(withQuery.appendingPathComponent("a b#c?").lastPathComponent(), "a b#c?");

  const auto file = URL::fileURLWithPath("/tmp/dir with space/ünï", false);
  EXPECT_EQ(file.absoluteString(), "file:///tmp/dir%20with%20space/%C3%BCn%C3%AF");
  EXPECT_EQ(file.path(), "/tmp/dir with space/ünï");
  EXPECT_EQ(file.appendingPathComponent("%41").lastPathComponent(), "%41");
  EXPECT_EQ(URL::fileURLWithPath("/x.bundle", false).appendingPathExtension("png").lastPathComponent(),
            "x.bundle.png");
}

TEST(URLFiles, RelativePathsResolveAgainstTheWorkingDirectoryAndDirectoriesAreDetected) {
  const auto rel = URL::fileURLWithPath("some-file.txt", false);
  EXPECT_TRUE(rel.isFileURL());
  EXPECT_EQ(rel.path().front(), '/');
  EXPECT_EQ(rel.lastPathComponent(), "some-file.txt");
  EXPECT_TRUE(URL::fileURLWithPath("/tmp").hasDirectoryPath());
  EXPECT_FALSE(URL::fileURLWithPath("/definitely/not/here").hasDirectoryPath());
  EXPECT_TRUE(URL::string("FILE:///x")->isFileURL());
  EXPECT_FALSE(URL::string("files:///x")->isFileURL());
}

TEST(URLQueries, ItemsRoundTripThroughEncoding) {
  const auto url =
      URL::string("https://h/p#f")
          ->appendingQueryItems(
              {{"email", std::string("a+b@x.com")}, {"q", std::string("1&2=3 4")}, {"flag", std::nullopt}});
  EXPECT_EQ(url.absoluteString(), "https://h/p?email=a%2Bb@x.com&q=1%262%3D3%204&flag#f");
  const auto items = url.queryItems();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0], (URLQueryItem{"email", std::string("a+b@x.com")}));
  EXPECT_EQ(items[1], (URLQueryItem{"q", std::string("1&2=3 4")}));
  EXPECT_EQ(items[2], (URLQueryItem{"flag", std::nullopt}));
  EXPECT_EQ(url.appendingQueryItems({{"n", std::string("")}}).query(),
            "email=a%2Bb@x.com&q=1%262%3D3%204&flag&n=");
}

TEST(URLEncoding, DecodingRejectsBrokenEscapes) {
  EXPECT_EQ(percentDecode("a%20b%2f"), "a b/");
  EXPECT_EQ(percentDecode("%"), std::nullopt);
  EXPECT_EQ(percentDecode("ab%2"), std::nullopt);
  EXPECT_EQ(percentDecode("%g1"), std::nullopt);
  EXPECT_EQ(percentEncode("a/b c", "/"), "a/b%20c");
}

}  // namespace
}  // namespace foundation
