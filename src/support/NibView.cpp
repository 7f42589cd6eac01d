#include "morvik/support/NibView.h"

#include <morvik/platform/foundation/Console.h>
#include <morvik/platform/uikit/ClassRegistry.h>
#include <morvik/platform/uikit/UINib.h>

#include <typeinfo>

namespace morvik {

NibView::NibView(const uikit::CGRect& frame) : UIView(frame) {}

std::string NibView::nibName(const std::string& className) {
  const auto dot = className.rfind('.');
  return dot == std::string::npos ? className : className.substr(dot + 1);
}

void NibView::setUp() {
  setBackgroundColor(uikit::UIColor::clear());

  const std::string cls = className();
  auto bundle = uikit::ClassRegistry::shared().bundle(cls);
  // The type's own code: in the host for a host's subclass, in the SDK for ours.
  if (!bundle) bundle = foundation::Bundle::containing(&typeid(*this));
  const auto name = nibName(cls);
  auto nib = uikit::UINib::make(name, bundle);
  auto loaded = nib->instantiate(this);
  if (!loaded.ok()) {
    foundation::print("NibView: " + *loaded.error);
    return;
  }
  if (loaded.topLevelObjects.empty() || !loaded.topLevelObjects.front().view) {
    const std::string first = loaded.topLevelObjects.empty()
                                  ? std::string("nothing")
                                  : "a \"" + loaded.topLevelObjects.front().className + "\"";
    foundation::print("NibView: the first top-level object of interface file \"" + name + "\" is " + first +
                      ", not a view");
    return;
  }
  auto content = loaded.topLevelObjects.front().view;
  setView(content);
  content->setFrame(bounds());
  addSubview(content);
  content->setTranslatesAutoresizingMaskIntoConstraints(false);
  // "H:|[childView]|" then "V:|[childView]|".
  addConstraints({content->leadingAnchor().constraintEqualTo(leadingAnchor()),
                  trailingAnchor().constraintEqualTo(content->trailingAnchor())});
  addConstraints({content->topAnchor().constraintEqualTo(topAnchor()),
                  bottomAnchor().constraintEqualTo(content->bottomAnchor())});
}

}  // namespace morvik
