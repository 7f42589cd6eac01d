// NotificationCenter: named notifications delivered to registered observers.
#pragma once

#include <morvik/platform/dispatch/Dispatch.h>

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace foundation {

// Notification names are plain texts ("reachabilityChanged",
// "UIDeviceOrientationDidChangeNotification", ...).
using NotificationName = std::string;
using NotificationUserInfo = std::map<std::string, std::any>;

// A value type handed to observers. `object` is the sender (may be null); it
// is kept alive while the notification is delivered.
struct Notification {
  NotificationName name;
  std::shared_ptr<void> object;
  NotificationUserInfo userInfo;

  // The sender as a T (a static cast: the observer knows what it asked for).
  template <class T>
  std::shared_ptr<T> objectAs() const {
    return std::static_pointer_cast<T>(object);
  }
};

using NotificationBlock = std::function<void(const Notification&)>;

// Returned by addObserverForName; its address is the observer identity that
// removeObserver takes. Dropping it does not remove the registration.
class NotificationObserverToken {
 public:
  NotificationObserverToken() = default;
  NotificationObserverToken(const NotificationObserverToken&) = delete;
  NotificationObserverToken& operator=(const NotificationObserverToken&) = delete;
};

// Thread-safe: registration, removal and posting may come from any thread.
//
// Observers are identified by address (any pointer the caller chooses,
// usually `this`); one observer may hold many registrations. A registration
// matches a notification when its name is absent or equal, and its object
// filter is absent or the same address as the sender.
//
// post() calls matching direct observers synchronously on the posting
// thread, in registration order, without holding any lock (a block may post,
// add or remove). Observers added with a queue get the notification through
// an asynchronous block on that queue.
//
// Removal: once removeObserver returns, no later post reaches the removed
// registrations, and a post in progress (on this thread or another) skips
// the ones it has not called yet; a queued delivery that has not started is
// dropped. A call already running on another thread may still be finishing:
// blocks that touch their observer should capture a weak_ptr to it.
class NotificationCenter : public std::enable_shared_from_this<NotificationCenter> {
 public:
  NotificationCenter();  // a centre of one's own (tests, or a monitor's own)
  ~NotificationCenter();

  // The process-wide centre, created on first use and kept for the process.
  static std::shared_ptr<NotificationCenter> defaultCenter();
  static std::shared_ptr<NotificationCenter> default_() { return defaultCenter(); }

  // Selector-style registration: `observer` names the registration for
  // removal; `name` absent = every name; `object` null = any sender.
  void addObserver(const void* observer, std::optional<NotificationName> name, const void* object,
                   NotificationBlock block);

  // Block-style registration: delivery on `queue` when given (asynchronous),
  // otherwise on the posting thread. Answers the token that removes it.
  std::shared_ptr<NotificationObserverToken> addObserverForName(std::optional<NotificationName> name,
                                                                const void* object,
                                                                std::optional<dispatch::DispatchQueue> queue,
                                                                NotificationBlock block);

  // Removes every registration of the observer, whatever its name.
  void removeObserver(const void* observer);
  // Removes the observer's registrations for that name (and sender, when given).
  void removeObserver(const void* observer, const NotificationName& name, const void* object = nullptr);

  void post(const Notification& notification);
  void post(NotificationName name, std::shared_ptr<void> object = nullptr,
            NotificationUserInfo userInfo = {});

  // Registrations currently held for the observer (diagnostics and tests).
  std::size_t registrationCount(const void* observer) const;

 private:
  struct Registration;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Registration>> registrations_;
};

}  // namespace foundation
