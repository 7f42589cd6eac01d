#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "UIKitTestSupport.h"

namespace uikit::testing {
namespace {

// A view class with one property of every kind, recording what is set in order.
class Probe : public UIView {
 public:
  using UIView::UIView;
  std::string className() const override { return "Probe"; }
  std::vector<std::string> log;
};

std::string show(const InterfaceValue& value) {
  struct Visitor {
    std::string operator()(bool b) const { return b ? "true" : "false"; }
    std::string operator()(CGFloat n) const { return std::to_string(n); }
    std::string operator()(const std::string& s) const { return "'" + s + "'"; }
    std::string operator()(const UIColor& c) const { return toString(c); }
    std::string operator()(const CGSize& s) const { return toString(s); }
    std::string operator()(const CGPoint& p) const { return toString(p); }
    std::string operator()(const CGRect& r) const { return toString(r); }
  };
  return std::visit(Visitor{}, value);
}

class InterfaceFileTest : public UIKitTest {
 protected:
  void SetUp() override {
    UIKitTest::SetUp();
    ASSERT_TRUE(registry.registerViewClass("Probe", "UIView",
                                           [](const CGRect& f) { return std::make_shared<Probe>(f); }));
    const std::pair<const char*, InterfaceValueType> props[] = {
        {"flag", InterfaceValueType::boolean}, {"amount", InterfaceValueType::number},
        {"title", InterfaceValueType::string}, {"tint", InterfaceValueType::color},
        {"extent", InterfaceValueType::size},  {"anchor", InterfaceValueType::point},
        {"box", InterfaceValueType::rect}};
    for (const auto& [name, type] : props) {
      registry.registerProperty("Probe", name, type,
                                [n = std::string(name)](RuntimeObject& o, const InterfaceValue& v) {
                                  static_cast<Probe&>(*o.view).log.push_back(n + "=" + show(v));
                                });
    }
    ASSERT_TRUE(registry.registerObjectClass("Helper", "NSObject", [] { return std::make_shared<int>(7); }));
  }

  UINibInstantiation load(const std::string& json) const {
    return UINib::make(foundation::Data::fromString(json), nullptr, "Test")->instantiate(nullptr, registry);
  }

  ClassRegistry registry;
};

TEST_F(InterfaceFileTest, BuildsTheTreeWithFramesAndPropertiesInFileOrder) {
  auto result = load(R"({"objects": [
      {"class": "Probe", "frame": {"x": 1, "y": 2, "width": 30, "height": 40},
       "properties": {"title": "z first", "flag": true, "tag": 9, "backgroundColor": "#336699"},
       "subviews": [{"class": "UILabel", "properties": {"text": "hi", "numberOfLines": 0}},
                    {"class": "Probe", "properties": {"amount": -2.5}}]},
      {"class": "Helper"}]})");
  ASSERT_TRUE(result.ok()) << *result.error;
  ASSERT_EQ(result.topLevelObjects.size(), 2u);
  auto root = std::dynamic_pointer_cast<Probe>(result.topLevelObjects[0].view);
  ASSERT_TRUE(root);
  expectFrame(root, 1, 2, 30, 40);
  EXPECT_EQ(root->log, (std::vector<std::string>{"title='z first'", "flag=true"}));
  EXPECT_EQ(root->tag(), 9);
  EXPECT_EQ(root->backgroundColor(), UIColor(0.2, 0.4, 0.6, 1));
  ASSERT_EQ(root->subviews().size(), 2u);
  auto label = std::dynamic_pointer_cast<UILabel>(root->subviews()[0]);
  ASSERT_TRUE(label);
  EXPECT_EQ(label->text(), "hi");
  EXPECT_EQ(label->numberOfLines(), 0);
  EXPECT_EQ(static_cast<Probe&>(*root->subviews()[1]).log, (std::vector<std::string>{"amount=-2.500000"}));
  EXPECT_EQ(result.topLevelObjects[1].className, "Helper");
  EXPECT_FALSE(result.topLevelObjects[1].view);
  EXPECT_EQ(*std::static_pointer_cast<int>(result.topLevelObjects[1].object), 7);

  // Every instantiation builds new objects.
  auto again = load(R"({"objects": [{"class": "Probe"}]})");
  ASSERT_TRUE(again.ok());
  EXPECT_NE(again.topLevelObjects[0].view, root);
}

TEST_F(InterfaceFileTest, ValuesAreReadByTheirDeclaredType) {
  struct Case {
    const char* property;
    const char* json;
    const char* expected;  // null: refused as the wrong type
  };
  const Case cases[] = {
      {"flag", "false", "flag=false"},
      {"flag", "1", nullptr},
      {"flag", "\"true\"", nullptr},
      {"amount", "3", "amount=3.000000"},
      {"amount", "true", nullptr},
      {"amount", "null", nullptr},
      {"title", "\"\"", "title=''"},
      {"title", "5", nullptr},
      {"tint", "\"#FF000080\"", "tint=UIColor(1 0 0 0.502)"},
      {"tint", "\"#00ff00\"", "tint=UIColor(0 1 0 1)"},
      {"tint", R"({"red": 0, "green": 0, "blue": 1})", "tint=UIColor(0 0 1 1)"},
      {"tint", R"({"white": 0.5, "alpha": 0.25})", "tint=UIColor(0.5 0.5 0.5 0.25)"},
      {"tint", "\"#F00\"", nullptr},
      {"tint", "\"#GG0000\"", nullptr},
      {"tint", "\"red\"", nullptr},
      {"tint", R"({"red": 2, "green": 0, "blue": 0})", nullptr},
      {"tint", R"({"red": 1, "green": 0})", nullptr},
      {"tint", R"({"red": 1, "green": 0, "blue": 0, "white": 1})", nullptr},
      {"tint", R"({"red": 1, "green": 0, "blue": 0, "alpah": 1})", nullptr},
      {"extent", R"({"width": 4, "height": 5})", "extent={4, 5}"},
      {"extent", R"({"width": 4})", nullptr},
      {"extent", "[4, 5]", nullptr},
      {"anchor", R"({"x": -1, "y": 0.5})", "anchor={-1, 0.5}"},
      {"anchor", R"({"x": "1", "y": 0})", nullptr},
      {"box", R"({"x": 1, "y": 2, "width": 3, "height": 4})", "box={{1, 2}, {3, 4}}"},
      {"box", R"({"x": 1, "y": 2, "width": 3, "height": 4, "depth": 5})", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.property) + " = " + c.json);
    auto result = load(std::string(R"({"objects": [{"class": "Probe", "properties": {")") + c.property +
                       "\": " + c.json + "}}]}");
    if (c.expected) {
      ASSERT_TRUE(result.ok()) << *result.error;
      EXPECT_EQ(static_cast<Probe&>(*result.topLevelObjects[0].view).log,
                std::vector<std::string>{c.expected});
    } else {
      ASSERT_FALSE(result.ok());
      EXPECT_NE(result.error->find(std::string("property \"") + c.property + "\" of \"Probe\" wants"),
                std::string::npos)
          << *result.error;
      EXPECT_TRUE(result.topLevelObjects.empty());
    }
  }
}

TEST_F(InterfaceFileTest, BadFilesGiveAMessageAndNothingElse) {
  std::string deep = R"({"class": "UIView"})";
  for (int i = 0; i < 400; ++i) deep = R"({"class": "UIView", "subviews": [)" + deep + "]}";
  const std::pair<std::string, std::string> cases[] = {
      {"", "is not valid JSON"},
      {R"({"objects": [{"class": "UIView"})", "is not valid JSON"},
      {"[1, 2]", "must hold a JSON object"},
      {"{}", "needs an \"objects\" array"},
      {R"({"objects": {}})", "needs an \"objects\" array"},
      {R"({"objects": [], "version": 2})", "unknown member \"version\""},
      {R"({"objects": [7]})", "objects[0]: an object must be a JSON object"},
      {R"({"objects": [{"properties": {}}]})", "needs a \"class\" string"},
      {R"({"objects": [{"class": "UIViewY"}]})", "objects[0]: unknown class \"UIViewY\""},
      {R"({"objects": [{"class": "UILabel", "properties": {"txt": "a"}}]})",
       "class \"UILabel\" has no property \"txt\""},
      {R"({"objects": [{"class": "UIView", "properties": {"text": "a"}}]})",
       "class \"UIView\" has no property \"text\""},
      {R"({"objects": [{"class": "UIView", "properties": [1]}]})", "\"properties\" must be a JSON object"},
      {R"({"objects": [{"class": "UIView", "frame": {"x": 0, "y": 0, "width": 1}}]})", "\"frame\" wants"},
      {R"({"objects": [{"class": "UIView", "frme": {}}]})", "unknown member \"frme\""},
      {R"({"objects": [{"class": "Helper", "frame": {"x": 0, "y": 0, "width": 1, "height": 1}}]})",
       "\"frame\" is for views"},
      {R"({"objects": [{"class": "UIView", "subviews": [{"class": "Helper"}]}]})", "is not a view"},
      {R"({"objects": [{"class": "UIView"}, {"class": "UIView", "subviews": [{"class": "Nope"}]}]})",
       "objects[1].subviews[0]: unknown class \"Nope\""},
      {R"({"objects": [)" + deep + "]}", "nests deeper than"},
  };
  for (const auto& [json, message] : cases) {
    SCOPED_TRACE(json.substr(0, 120));
    auto result = load(json);
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error->find("Interface file \"Test\""), std::string::npos) << *result.error;
    EXPECT_NE(result.error->find(message), std::string::npos) << *result.error;
    EXPECT_TRUE(result.topLevelObjects.empty());
  }
}

TEST_F(InterfaceFileTest, FilesAreOpenedByNameFromABundle) {
  auto bundle = foundation::Bundle::open(MORVIK_FIXTURES_DIR "/interface/Interface.bundle");
  ASSERT_TRUE(bundle);
  auto missing = UINib::make("NoSuchCard", bundle);
  ASSERT_TRUE(missing->loadError());
  auto result = missing->instantiate(nullptr);
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.error->find("\"NoSuchCard.nib\""), std::string::npos) << *result.error;
  EXPECT_NE(result.error->find(bundle->bundlePath()), std::string::npos) << *result.error;

  // A folder that carries the file's name is found but cannot be read.
  const auto scratch = std::filesystem::temp_directory_path() / ("nib-test-" + std::to_string(::getpid()));
  std::filesystem::create_directories(scratch / "Folder.nib");
  auto folder = UINib::make("Folder", foundation::Bundle::open(scratch.string()))->instantiate(nullptr);
  std::filesystem::remove_all(scratch);
  ASSERT_FALSE(folder.ok());
  EXPECT_NE(folder.error->find("Could not read the interface file \"Folder.nib\""), std::string::npos)
      << *folder.error;

  auto truncated = UINib::make("Truncated", bundle)->instantiate(nullptr);
  ASSERT_FALSE(truncated.ok());
  EXPECT_NE(truncated.error->find("\"Truncated\" is not valid JSON"), std::string::npos) << *truncated.error;
}

TEST(ClassRegistryTest, ClassesRegisterOnceUnderAKnownSuperclassAndInheritProperties) {
  ClassRegistry registry;
  auto make = [](const CGRect& f) { return std::make_shared<UILabel>(f); };
  EXPECT_TRUE(registry.registerViewClass("Title", "UILabel", make));
  EXPECT_FALSE(registry.registerViewClass("Title", "UILabel", make));      // taken
  EXPECT_FALSE(registry.registerViewClass("Orphan", "NoSuchBase", make));  // unknown superclass
  EXPECT_FALSE(registry.registerViewClass("Odd", "NSObject", make));       // a view under a non-view
  EXPECT_FALSE(registry.registerObjectClass("Odd", "UIView", [] { return std::make_shared<int>(); }));
  EXPECT_FALSE(
      registry.registerProperty("NoSuchClass", "x", InterfaceValueType::number, [](auto&, auto&) {}));
  EXPECT_EQ(registry.lineage("Title"), (std::vector<std::string>{"Title", "UILabel", "UIView", "NSObject"}));

  // Inherited from UILabel and UIView; a class's own registration wins.
  ASSERT_TRUE(registry.property("Title", "text"));
  ASSERT_TRUE(registry.property("Title", "alpha"));
  ASSERT_TRUE(registry.registerProperty("Title", "text", InterfaceValueType::number, [](auto&, auto&) {}));
  EXPECT_EQ(registry.property("Title", "text")->type, InterfaceValueType::number);
  EXPECT_EQ(registry.property("UILabel", "text")->type, InterfaceValueType::string);
  EXPECT_FALSE(registry.property("UIView", "text"));
}

}  // namespace
}  // namespace uikit::testing
