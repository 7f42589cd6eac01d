// combine: observable objects, published properties and cancellable
// subscriptions.
//
// Threads: a publisher may be sent to and subscribed to from any thread; its
// subscribers are called on the sending thread, synchronously, in the order
// they subscribed, and never while a lock of this layer is held (a
// subscriber may subscribe, cancel or send again). Once cancel() has
// returned on a subscription, no new call reaches its closure (a call that
// had already started on another thread may still be running).
//
// Ownership: a publisher holds its subscribers' closures; an AnyCancellable
// holds its publisher weakly, so a subscription never keeps the object that
// publishes alive. A closure that captures its owner must capture it weakly
// (a weak_ptr), or the owner, its publisher and the closure form a cycle.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace combine {

// Cancels its subscription when cancelled or destroyed. Move-only.
class AnyCancellable {
 public:
  AnyCancellable() = default;
  explicit AnyCancellable(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  AnyCancellable(AnyCancellable&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
  AnyCancellable& operator=(AnyCancellable&& other) noexcept {
    if (this != &other) {
      cancel();
      cancel_ = std::exchange(other.cancel_, nullptr);
    }
    return *this;
  }
  AnyCancellable(const AnyCancellable&) = delete;
  AnyCancellable& operator=(const AnyCancellable&) = delete;
  ~AnyCancellable() { cancel(); }

  // Idempotent.
  void cancel() {
    if (auto c = std::exchange(cancel_, nullptr)) c();
  }
  // Keeps the subscription alive as long as `in` holds it.
  void store(std::vector<AnyCancellable>& in) { in.push_back(std::move(*this)); }

 private:
  std::function<void()> cancel_;
};

namespace detail {

// The subscriber list behind every publisher of this layer.
template <class... Args>
class SubscriberList : public std::enable_shared_from_this<SubscriberList<Args...>> {
 public:
  using Closure = std::function<void(const Args&...)>;

  AnyCancellable subscribe(Closure closure) {
    auto entry = std::make_shared<Entry>(std::move(closure));
    {
      std::lock_guard lock(mutex_);
      entries_.push_back(entry);
    }
    std::weak_ptr<SubscriberList> weakList = this->shared_from_this();
    std::weak_ptr<Entry> weakEntry = entry;
    return AnyCancellable([weakList, weakEntry] {
      auto e = weakEntry.lock();
      if (!e) return;
      {
        std::lock_guard entryLock(e->mutex);
        e->active = false;
      }
      if (auto list = weakList.lock()) list->remove(e);
    });
  }

  void send(const Args&... values) {
    std::vector<std::shared_ptr<Entry>> snapshot;
    {
      std::lock_guard lock(mutex_);
      snapshot = entries_;
    }
    for (auto& e : snapshot) {
      Closure closure;
      {
        std::lock_guard entryLock(e->mutex);
        if (!e->active) continue;
        closure = e->closure;
      }
      closure(values...);
    }
  }

  std::size_t count() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
  }

 private:
  struct Entry {
    explicit Entry(Closure c) : closure(std::move(c)) {}
    std::mutex mutex;
    bool active = true;
    Closure closure;
  };
  void remove(const std::shared_ptr<Entry>& entry) {
    std::shared_ptr<Entry> released;  // destroyed outside the lock
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (*it == entry) {
        released = std::move(*it);
        entries_.erase(it);
        break;
      }
    }
  }
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace detail

// A publisher of values of T that never fails.
template <class T>
class PassthroughSubject {
 public:
  PassthroughSubject() : list_(std::make_shared<detail::SubscriberList<T>>()) {}
  PassthroughSubject(const PassthroughSubject&) = delete;
  PassthroughSubject& operator=(const PassthroughSubject&) = delete;

  void send(const T& value) { list_->send(value); }
  // The closure is called with every value sent until the returned
  // subscription is cancelled or destroyed.
  [[nodiscard]] AnyCancellable sink(std::function<void(const T&)> receiveValue) {
    return list_->subscribe(std::move(receiveValue));
  }
  std::size_t subscriberCount() const { return list_->count(); }

 private:
  std::shared_ptr<detail::SubscriberList<T>> list_;
};

// An observable object's objectWillChange: a value-less signal.
class ObservableObjectPublisher {
 public:
  ObservableObjectPublisher() : list_(std::make_shared<detail::SubscriberList<>>()) {}
  ObservableObjectPublisher(const ObservableObjectPublisher&) = delete;
  ObservableObjectPublisher& operator=(const ObservableObjectPublisher&) = delete;

  void send() { list_->send(); }
  [[nodiscard]] AnyCancellable sink(std::function<void()> receiveValue) {
    return list_->subscribe(std::move(receiveValue));
  }
  std::size_t subscriberCount() const { return list_->count(); }

 private:
  std::shared_ptr<detail::SubscriberList<>> list_;
};

// Base of objects whose Published properties announce changes:
// objectWillChange fires before any of them takes a new value.
class ObservableObject {
 public:
  ObservableObject() = default;
  ObservableObject(const ObservableObject&) = delete;
  ObservableObject& operator=(const ObservableObject&) = delete;
  virtual ~ObservableObject() = default;

  ObservableObjectPublisher& objectWillChange() { return objectWillChange_; }

 private:
  ObservableObjectPublisher objectWillChange_;
};

// A property of an ObservableObject that announces every assignment (also
// of an equal value): first the owner's objectWillChange, then its own
// publisher with the new value, then the value is stored. Reading during
// those calls still gives the old value. The property is declared as a
// member and told its owner:  Published<bool> isPresented{*this, false};
template <class T>
class Published {
  // The value and its subject, shared with the projected publishers so that
  // one kept after its object is gone still has something to read.
  struct Storage {
    explicit Storage(T initialValue) : value(std::move(initialValue)) {}
    mutable std::mutex mutex;
    T value;
    PassthroughSubject<T> subject;
    T get() const {
      std::lock_guard lock(mutex);
      return value;
    }
  };

 public:
  // The projected value ($property): a publisher that gives the current
  // value on subscription and then every value assigned, before it is stored.
  // It may outlive its object: it then gives the last value and nothing more.
  class Publisher {
   public:
    [[nodiscard]] AnyCancellable sink(std::function<void(const T&)> receiveValue) const {
      receiveValue(storage_->get());
      return storage_->subject.sink(std::move(receiveValue));
    }

   private:
    friend class Published;
    explicit Publisher(std::shared_ptr<Storage> storage) : storage_(std::move(storage)) {}
    std::shared_ptr<Storage> storage_;
  };

  Published(ObservableObject& owner, T initialValue)
      : owner_(&owner), storage_(std::make_shared<Storage>(std::move(initialValue))) {}
  Published(const Published&) = delete;
  Published& operator=(const Published&) = delete;

  T get() const { return storage_->get(); }
  operator T() const { return get(); }  // NOLINT(google-explicit-constructor): reads like the property

  void set(T newValue) {
    owner_->objectWillChange().send();
    storage_->subject.send(newValue);
    std::lock_guard lock(storage_->mutex);
    storage_->value = std::move(newValue);
  }
  Published& operator=(T newValue) {
    set(std::move(newValue));
    return *this;
  }

  Publisher projectedValue() { return Publisher(storage_); }

 private:
  ObservableObject* owner_;
  std::shared_ptr<Storage> storage_;
};

}  // namespace combine
