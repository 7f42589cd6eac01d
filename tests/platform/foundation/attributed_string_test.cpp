#include <gtest/gtest.h>
#include <morvik/platform/foundation/AttributedString.h>

namespace foundation {
namespace {

NSAttributedString html(std::string_view text) {
  return NSAttributedString::fromHTML(Data::fromString(text));
}

// The attributes of the first occurrence of a piece of text.
TextAttributes at(const NSAttributedString& s, std::string_view piece) {
  const auto pos = s.string().find(piece);
  EXPECT_NE(pos, std::string::npos) << piece;
  return s.attributes(pos == std::string::npos ? 0 : pos);
}

TEST(HTMLImport, InlineStylesBecomeRunAttributes) {
  const auto s =
      html(R"(Plain <b>bold</b> <i>it</i> <u>under</u> <a href="https://x.test/a?b=1">link</a>)"
           R"( <span style="color:#ff0000; font-size: 20px; font-family: 'Helvetica', sans">red</span>)"
           R"( <font color="blue" size="5">font</font>)");
  EXPECT_EQ(s.string(), "Plain bold it under link red font");
  EXPECT_FALSE(at(s, "Plain").bold);
  EXPECT_EQ(at(s, "Plain").fontSize, 12.0);
  EXPECT_EQ(at(s, "Plain").fontFamily, "Times New Roman");
  EXPECT_TRUE(at(s, "bold").bold);
  EXPECT_TRUE(at(s, "it").italic);
  EXPECT_TRUE(at(s, "under").underline);
  EXPECT_EQ(at(s, "link").link, "https://x.test/a?b=1");
  EXPECT_EQ(at(s, "red").foregroundColor, (RGBAColor{1, 0, 0, 1}));
  EXPECT_EQ(at(s, "red").fontSize, 20.0);
  EXPECT_EQ(at(s, "red").fontFamily, "Helvetica");
  EXPECT_EQ(at(s, "font").foregroundColor, (RGBAColor{0, 0, 1, 1}));
  EXPECT_EQ(at(s, "font").fontSize, 24.0);

  // Runs cover the text without gaps and neighbours differ.
  std::size_t next = 0;
  for (std::size_t i = 0; i < s.runs().size(); ++i) {
    EXPECT_EQ(s.runs()[i].range.location, next);
    next = s.runs()[i].range.end();
    if (i > 0) {
      EXPECT_NE(s.runs()[i].attributes, s.runs()[i - 1].attributes);
    }
  }
  EXPECT_EQ(next, s.length());
}

TEST(HTMLImport, BlocksBreaksListsAndWhitespace) {
  const auto s = html(
      "<h1>Title</h1>\n  <p>First   line<br>second\tline</p><p>Next &amp; last</p>"
      "<ul><li>one</li><li> two </li></ul><ol><li>a</li><li>b</li></ol>"
      "<script>var x = '<b>';</script><pre>  keep   this</pre>");
  EXPECT_EQ(s.string(),
            "Title\nFirst line\nsecond line\nNext & last\n•\tone\n•\ttwo\n1.\ta\n2.\tb\n  keep   this\n");
  EXPECT_TRUE(at(s, "Title").bold);
  EXPECT_EQ(at(s, "Title").fontSize, 24.0);
  EXPECT_FALSE(at(s, "First").bold);
}

TEST(HTMLImport, StyleSheetRulesForBodyAndElementsApply) {
  // The shape that the SDK's CSS wrapper produces.
  const auto s = html(
      "<style>body{font-family: 'Avenir-Book'; font-size:16.0px; color: #333333; line-height: 20px; "
      "text-align: center; }</style>Hello <b>there</b><style>b { color: rgb(0, 128, 0) } @media print { b "
      "{ color: red } }</style>");
  EXPECT_EQ(s.string(), "Hello there");
  const auto hello = at(s, "Hello");
  EXPECT_EQ(hello.fontFamily, "Avenir-Book");
  EXPECT_EQ(hello.fontSize, 16.0);
  EXPECT_EQ(hello.lineHeight, 20.0);
  EXPECT_EQ(hello.alignment, NSTextAlignment::center);
  EXPECT_NEAR(hello.foregroundColor->red, 0x33 / 255.0, 1e-9);
  EXPECT_NEAR(at(s, "there").foregroundColor->green, 128 / 255.0, 1e-9);
  EXPECT_EQ(at(s, "there").fontSize, 16.0);
}

TEST(HTMLImport, BrokenMarkupIsReadAndNonTextIsRefused) {
  EXPECT_EQ(html("<p>unclosed <b>bold <i>both</p>after").string(), "unclosed bold both\nafter");
  EXPECT_FALSE(html("<<<>>>").string().empty());
  EXPECT_THROW(html(""), NSError);
  EXPECT_THROW(html("\xff\xfe<p>x</p>"), NSError);
}

TEST(MutableAttributedString, LinksMarkOnlyTheFirstOccurrence) {
  NSMutableAttributedString s("Read the terms and the terms again");
  const auto range = s.range("terms");
  ASSERT_EQ(range, (NSRange{9, 5}));
  s.addLink("https://x.test/terms", range);
  EXPECT_EQ(s.attributes(9).link, "https://x.test/terms");
  EXPECT_FALSE(s.attributes(24).link);
  EXPECT_FALSE(s.attributes(8).link);
  EXPECT_EQ(s.runs().size(), 3u);
  EXPECT_EQ(s.range("Terms").location, NSNotFound);
  EXPECT_EQ(s.range("").location, NSNotFound);
  // Ranges past the end are clipped, never written out of bounds.
  s.addLink("x", NSRange{30, 100});
  s.addLink("y", NSRange{NSNotFound, 1});
  EXPECT_EQ(s.attributes(33).link, "x");
  EXPECT_EQ(s.string().size(), 34u);
}

}  // namespace
}  // namespace foundation
