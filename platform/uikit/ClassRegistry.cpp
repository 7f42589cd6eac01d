#include "morvik/platform/uikit/ClassRegistry.h"

#include <cmath>

#include "morvik/platform/uikit/UILabel.h"
#include "morvik/platform/uikit/UITextView.h"
#include "morvik/platform/uikit/UIView.h"

namespace uikit {
namespace {
int wholeNumber(CGFloat n) {
  if (!(n > -2e9)) return -2000000000;
  if (!(n < 2e9)) return 2000000000;
  return static_cast<int>(std::lround(n));
}
}  // namespace

std::string describe(InterfaceValueType type) {
  switch (type) {
    case InterfaceValueType::boolean:
      return "a Boolean";
    case InterfaceValueType::number:
      return "a number";
    case InterfaceValueType::string:
      return "a string";
    case InterfaceValueType::color:
      return "a colour";
    case InterfaceValueType::size:
      return "a size";
    case InterfaceValueType::point:
      return "a point";
    case InterfaceValueType::rect:
      return "a rectangle";
  }
  return "a value";
}

ClassRegistry& ClassRegistry::shared() {
  static ClassRegistry* registry = new ClassRegistry();  // never destroyed: libraries register while loading
  return *registry;
}

ClassRegistry::ClassRegistry() { registerBuiltIns(); }

bool ClassRegistry::add(const std::string& name, ClassInfo info) {
  std::lock_guard lock(mutex_);
  if (name.empty() || classes_.count(name)) return false;
  if (!info.superclass.empty() && !classes_.count(info.superclass)) return false;
  classes_.emplace(name, std::move(info));
  return true;
}

bool ClassRegistry::registerViewClass(const std::string& name, const std::string& superclass,
                                      ViewFactory factory, std::shared_ptr<foundation::Bundle> bundle) {
  if (!factory || !isViewClass(superclass)) return false;
  return add(name, {superclass, std::move(factory), {}, std::move(bundle), {}});
}

bool ClassRegistry::registerObjectClass(const std::string& name, const std::string& superclass,
                                        ObjectFactory factory, std::shared_ptr<foundation::Bundle> bundle) {
  if (!factory || !contains(superclass) || isViewClass(superclass)) return false;
  return add(name, {superclass, {}, std::move(factory), std::move(bundle), {}});
}

bool ClassRegistry::registerProperty(const std::string& className, const std::string& property,
                                     InterfaceValueType type, Setter setter) {
  std::lock_guard lock(mutex_);
  auto it = classes_.find(className);
  if (it == classes_.end() || property.empty() || !setter) return false;
  it->second.properties[property] = Property{type, std::move(setter)};
  return true;
}

bool ClassRegistry::contains(const std::string& className) const {
  std::lock_guard lock(mutex_);
  return classes_.count(className) != 0;
}

bool ClassRegistry::isViewClass(const std::string& className) const {
  std::lock_guard lock(mutex_);
  auto it = classes_.find(className);
  return it != classes_.end() && it->second.viewFactory != nullptr;
}

std::vector<std::string> ClassRegistry::lineage(const std::string& className) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (auto it = classes_.find(className); it != classes_.end(); it = classes_.find(it->second.superclass)) {
    out.push_back(it->first);
  }
  return out;
}

std::optional<ClassRegistry::Property> ClassRegistry::property(const std::string& className,
                                                               const std::string& name) const {
  std::lock_guard lock(mutex_);
  for (auto it = classes_.find(className); it != classes_.end(); it = classes_.find(it->second.superclass)) {
    auto p = it->second.properties.find(name);
    if (p != it->second.properties.end()) return p->second;
  }
  return std::nullopt;
}

std::shared_ptr<foundation::Bundle> ClassRegistry::bundle(const std::string& className) const {
  std::lock_guard lock(mutex_);
  auto it = classes_.find(className);
  return it == classes_.end() ? nullptr : it->second.bundle;
}

std::optional<RuntimeObject> ClassRegistry::make(const std::string& className, const CGRect& frame) const {
  ViewFactory viewFactory;
  ObjectFactory objectFactory;
  {
    std::lock_guard lock(mutex_);
    auto it = classes_.find(className);
    if (it == classes_.end()) return std::nullopt;
    viewFactory = it->second.viewFactory;
    objectFactory = it->second.objectFactory;
  }
  // Factories run unlocked: a view's initialiser may itself look classes up.
  if (viewFactory) {
    auto view = viewFactory(frame);
    if (!view) return std::nullopt;
    return RuntimeObject{className, view, view};
  }
  auto object = objectFactory();
  if (!object) return std::nullopt;
  return RuntimeObject{className, std::move(object), nullptr};
}

void ClassRegistry::registerBuiltIns() {
  using T = InterfaceValueType;
  add("NSObject", {"", {}, [] { return std::make_shared<int>(0); }, {}, {}});
  add("UIView", {"NSObject", [](const CGRect& f) { return std::make_shared<UIView>(f); }, {}, {}, {}});
  add("UILabel", {"UIView", [](const CGRect& f) { return std::make_shared<UILabel>(f); }, {}, {}, {}});
  add("UITextView", {"UIView", [](const CGRect& f) { return std::make_shared<UITextView>(f); }, {}, {}, {}});

  registerViewProperty<UIView, UIColor>("UIView", "backgroundColor", T::color,
                                        [](UIView& v, const UIColor& c) { v.setBackgroundColor(c); });
  registerViewProperty<UIView, UIColor>("UIView", "tintColor", T::color,
                                        [](UIView& v, const UIColor& c) { v.setTintColor(c); });
  registerViewProperty<UIView, CGFloat>("UIView", "alpha", T::number,
                                        [](UIView& v, CGFloat a) { v.setAlpha(a); });
  registerViewProperty<UIView, bool>("UIView", "hidden", T::boolean,
                                     [](UIView& v, bool h) { v.setHidden(h); });
  registerViewProperty<UIView, bool>("UIView", "clipsToBounds", T::boolean,
                                     [](UIView& v, bool c) { v.setClipsToBounds(c); });
  registerViewProperty<UIView, bool>("UIView", "userInteractionEnabled", T::boolean,
                                     [](UIView& v, bool e) { v.setUserInteractionEnabled(e); });
  registerViewProperty<UIView, CGFloat>("UIView", "tag", T::number,
                                        [](UIView& v, CGFloat t) { v.setTag(wholeNumber(t)); });

  registerViewProperty<UILabel, std::string>("UILabel", "text", T::string,
                                             [](UILabel& l, const std::string& t) { l.setText(t); });
  registerViewProperty<UILabel, UIColor>("UILabel", "textColor", T::color,
                                         [](UILabel& l, const UIColor& c) { l.setTextColor(c); });
  registerViewProperty<UILabel, CGFloat>("UILabel", "fontSize", T::number,
                                         [](UILabel& l, CGFloat s) { l.setFont(UIFont::systemFont(s)); });
  registerViewProperty<UILabel, CGFloat>("UILabel", "numberOfLines", T::number,
                                         [](UILabel& l, CGFloat n) { l.setNumberOfLines(wholeNumber(n)); });

  registerViewProperty<UITextView, std::string>("UITextView", "text", T::string,
                                                [](UITextView& t, const std::string& s) { t.setText(s); });
  registerViewProperty<UITextView, bool>("UITextView", "editable", T::boolean,
                                         [](UITextView& t, bool e) { t.setEditable(e); });
}

}  // namespace uikit
