// ClassRegistry: the classes that interface files may name, with the
// properties a file may set on them. It stands in for the platform's object
// runtime: a class registers its name, its superclass, how to make an
// instance and its settable properties once; UINib then builds objects by
// class name and sets their properties by name.
//
// Built in: "NSObject" (the root, no properties); "UIView" with
// backgroundColor, tintColor (colours), alpha, tag (numbers), hidden,
// clipsToBounds, userInteractionEnabled (Booleans); "UILabel" with text,
// textColor, fontSize (the system font) and numberOfLines; "UITextView" with
// text and editable. Properties are inherited: a class answers its
// superclasses' properties too, and its own registration of a name
// overrides theirs.
//
// Threads: registration and lookup may come from any thread (a library
// registers its classes while it loads); making views and setting their
// properties is main-thread work like any other view mutation.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <morvik/platform/foundation/Bundle.h>
#include <morvik/platform/uikit/UIColor.h>
#include <morvik/platform/uikit/UIKitTypes.h>

namespace uikit {

class UIView;

// The kinds of value an interface file can give a property (see UINib.h for
// how each is written).
enum class InterfaceValueType { boolean, number, string, color, size, point, rect };
// "a Boolean", "a number", ...: for messages.
std::string describe(InterfaceValueType type);

using InterfaceValue = std::variant<bool, CGFloat, std::string, UIColor, CGSize, CGPoint, CGRect>;

// An object made from a registered class: a view (view is set and object
// holds the same pointer) or any other object (view is null).
struct RuntimeObject {
  std::string className;
  std::shared_ptr<void> object;
  std::shared_ptr<UIView> view;
};

class ClassRegistry {
 public:
  // init(coder:) of a view class: the view with its decoded frame, before
  // any of its properties are set.
  using ViewFactory = std::function<std::shared_ptr<UIView>(const CGRect& frame)>;
  // init() of a class that is not a view.
  using ObjectFactory = std::function<std::shared_ptr<void>()>;
  // Receives a value of the property's declared type (never another).
  using Setter = std::function<void(RuntimeObject& object, const InterfaceValue& value)>;

  struct Property {
    InterfaceValueType type;
    Setter setter;
  };

  // The process's registry, created on first use and kept for the process.
  static ClassRegistry& shared();
  // An empty registry with the built-in classes (tests).
  ClassRegistry();

  // Registers a class once. Refused (false) when the name is taken or empty,
  // or the superclass is not registered. `bundle` is the bundle that holds
  // the class's code and resources (null: the main bundle).
  bool registerViewClass(const std::string& name, const std::string& superclass, ViewFactory factory,
                         std::shared_ptr<foundation::Bundle> bundle = {});
  bool registerObjectClass(const std::string& name, const std::string& superclass, ObjectFactory factory,
                           std::shared_ptr<foundation::Bundle> bundle = {});
  // Adds a settable property to a registered class; false when the class is
  // unknown.
  bool registerProperty(const std::string& className, const std::string& property, InterfaceValueType type,
                        Setter setter);

  // A typed setter of a view class, e.g.
  //   registry.registerViewProperty<MyView, std::string>("MyView", "title", InterfaceValueType::string,
  //       [](MyView& v, const std::string& t) { v.setTitle(t); });
  template <class View, class Value, class F>
  bool registerViewProperty(const std::string& className, const std::string& property,
                            InterfaceValueType type, F set) {
    return registerProperty(className, property, type,
                            [set](RuntimeObject& object, const InterfaceValue& value) {
                              if (auto* view = dynamic_cast<View*>(object.view.get()))
                                set(*view, std::get<Value>(value));
                            });
  }

  bool contains(const std::string& className) const;
  bool isViewClass(const std::string& className) const;
  // The class and its superclasses, nearest first; empty when unknown.
  std::vector<std::string> lineage(const std::string& className) const;
  // The property as the class or its nearest superclass registered it.
  std::optional<Property> property(const std::string& className, const std::string& name) const;
  // The bundle the class was registered with (null: none given).
  std::shared_ptr<foundation::Bundle> bundle(const std::string& className) const;

  // Makes an instance: a view class with the frame, another class with
  // init(). Nothing when the class is unknown or its factory answers null.
  std::optional<RuntimeObject> make(const std::string& className, const CGRect& frame = {}) const;

 private:
  struct ClassInfo {
    std::string superclass;
    ViewFactory viewFactory;
    ObjectFactory objectFactory;
    std::shared_ptr<foundation::Bundle> bundle;
    std::map<std::string, Property> properties;
  };
  bool add(const std::string& name, ClassInfo info);
  void registerBuiltIns();

  mutable std::mutex mutex_;
  std::map<std::string, ClassInfo> classes_;
};

}  // namespace uikit
