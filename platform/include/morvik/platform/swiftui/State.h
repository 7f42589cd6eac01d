// State, Binding and ObservedObject: the properties through which a view's
// body reads and writes data that outlives one evaluation of it.
//
// `$name` of a property wrapper is `name.projectedValue()`: a Binding for a
// State, a Binding factory for an ObservedObject (binding(&Type::member)).
//
// Identity: a State keeps its storage for as long as the view that holds it
// keeps its place in the hosted tree (same position, same type); the hosting
// controller hands the storage from one evaluation's copy of the view to
// the next. A State that is not in a hosted tree keeps its own storage.
//
// Threads: main thread only (views, their state and bindings are UI).
#pragma once

#include <morvik/platform/combine/Combine.h>

#include <functional>
#include <memory>
#include <vector>

namespace swiftui {

namespace detail {

// What a hosted node gives its properties: how to ask for a new evaluation,
// and where to keep subscriptions until the next one.
struct PropertyHost {
  std::function<void()> invalidate;
  std::vector<combine::AnyCancellable> subscriptions;
};

// A property of a view that the hosting controller connects to the view's
// place in the tree. Its constructors record it while a view is being
// copied for hosting, so the hosting controller finds every property of a
// view without the view listing them.
class DynamicProperty {
 public:
  virtual ~DynamicProperty() = default;
  // Takes over the storage of the same property of the view's previous copy.
  virtual void adopt(DynamicProperty& previous) = 0;
  virtual void install(PropertyHost& host) = 0;

 protected:
  DynamicProperty();
  DynamicProperty(const DynamicProperty&);
  DynamicProperty& operator=(const DynamicProperty&) { return *this; }
};

// Collects the properties constructed inside [begin, end) while alive.
class PropertyCollector {
 public:
  PropertyCollector(const void* begin, std::size_t size);
  ~PropertyCollector();
  PropertyCollector(const PropertyCollector&) = delete;
  PropertyCollector& operator=(const PropertyCollector&) = delete;
  std::vector<DynamicProperty*> take() { return std::move(found_); }

 private:
  friend class DynamicProperty;
  const char* begin_;
  const char* end_;
  std::vector<DynamicProperty*> found_;
  PropertyCollector* previous_;
};

}  // namespace detail

// A read-write reference to a value owned elsewhere.
template <class T>
class Binding {
 public:
  Binding(std::function<T()> get, std::function<void(T)> set) : get_(std::move(get)), set_(std::move(set)) {}
  // A binding that reads `value` and ignores writes.
  static Binding constant(T value) {
    return Binding([value] { return value; }, [](T) {});
  }
  T wrappedValue() const { return get_(); }
  void setWrappedValue(T value) const { set_(std::move(value)); }
  T get() const { return get_(); }
  void set(T value) const { set_(std::move(value)); }
  Binding projectedValue() const { return *this; }

 private:
  std::function<T()> get_;
  std::function<void(T)> set_;
};

// A value owned by a view; writing it evaluates the view's body again.
template <class T>
class State : public detail::DynamicProperty {
 public:
  State(T initialValue = T{})
      : box_(std::make_shared<Box>(std::move(initialValue))) {}  // NOLINT: like the wrapper
  State(const State&) = default;
  State& operator=(const State&) = default;

  const T& wrappedValue() const { return box_->value; }
  const T& get() const { return box_->value; }
  void setWrappedValue(T value) const { box_->set(std::move(value)); }
  void set(T value) const { box_->set(std::move(value)); }
  // $name: a binding that writes through to this state's storage (and keeps
  // it alive, so a binding outliving its view writes harmlessly).
  Binding<T> projectedValue() const {
    auto box = box_;
    return Binding<T>([box] { return box->value; }, [box](T v) { box->set(std::move(v)); });
  }

  void adopt(detail::DynamicProperty& previous) override {
    if (auto* p = dynamic_cast<State*>(&previous)) box_ = p->box_;
  }
  void install(detail::PropertyHost& host) override { box_->onChange = host.invalidate; }

 private:
  struct Box {
    explicit Box(T v) : value(std::move(v)) {}
    void set(T v) {
      value = std::move(v);
      if (onChange) {
        auto notify = onChange;  // may be replaced while it runs
        notify();
      }
    }
    T value;
    std::function<void()> onChange;
  };
  std::shared_ptr<Box> box_;
};

// An ObservableObject that a view watches: every objectWillChange of the
// object evaluates the view's body again (after the change). Holds the
// object strongly, as the view does.
template <class T>
class ObservedObject : public detail::DynamicProperty {
 public:
  explicit ObservedObject(std::shared_ptr<T> object) : object_(std::move(object)) {}
  ObservedObject(const ObservedObject&) = default;
  ObservedObject& operator=(const ObservedObject&) = default;

  T& wrappedValue() const { return *object_; }
  T* operator->() const { return object_.get(); }
  T& operator*() const { return *object_; }
  const std::shared_ptr<T>& object() const { return object_; }

  // $object.member: a binding to one of the object's published properties.
  template <class V>
  Binding<V> binding(combine::Published<V> T::*member) const {
    auto object = object_;
    return Binding<V>([object, member] { return ((*object).*member).get(); },
                      [object, member](V v) { ((*object).*member).set(std::move(v)); });
  }

  void adopt(detail::DynamicProperty&) override {}
  void install(detail::PropertyHost& host) override {
    if (object_) host.subscriptions.push_back(object_->objectWillChange().sink(host.invalidate));
  }

 private:
  std::shared_ptr<T> object_;
};

}  // namespace swiftui
