// A program that links the SDK's static library and names nothing in the
// files that make its runtime additions (the interface-file classes and the
// class hooks): the first use of the SDK still brings them. Kept in a suite
// of its own, since any reference to those files from the same program would
// hide the fault.
#include <gtest/gtest.h>
#include <morvik/MorvikVerify.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>

namespace {

TEST(RuntimeAdditionsTest, FirstUseOfTheStaticallyLinkedSDKRegistersClassesAndHooks) {
  (void)morvik::MorvikVerify::shared();

  auto& registry = uikit::ClassRegistry::shared();
  for (const char* name : {"UIViewX", "NibView", "ImagePicker"}) EXPECT_TRUE(registry.contains(name)) << name;
  auto made = registry.make("UIViewX", quartz::CGRect{{0, 0}, {10, 10}});
  ASSERT_TRUE(made && made->view);
  EXPECT_EQ(made->view->className(), "UIViewX");

  // The text views' hook: a label tagged as the placeholder hides once typed into.
  auto textView = std::make_shared<uikit::UITextView>(quartz::CGRect{{0, 0}, {200, 80}});
  textView->delegate = textView;
  auto placeholder = std::make_shared<uikit::UILabel>(quartz::CGRect{{0, 0}, {10, 21}});
  placeholder->setTag(100);
  textView->addSubview(placeholder);
  textView->insertText("a");
  EXPECT_TRUE(placeholder->isHidden());
}

}  // namespace
