// ConnectivityMonitor: network reachability of the device, on demand
// (`connection`) and, while its notifier runs, as change callbacks and
// "reachabilityChanged" notifications.
//
// Threads: every member may be called from any thread except code already
// running on the monitor's own serial queue ("ConnectivityMonitor.serialQueue"):
// `connection` (on its first read) and startNotifier() wait for that queue.
// Callbacks and notifications run on the notification queue when one was
// given, otherwise on the thread that saw the change (the monitor's serial
// queue, or the caller of the first `connection`).
#pragma once

#include <morvik/Export.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/foundation/NotificationCenter.h>
#include <morvik/platform/network/SCNetworkReachability.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace morvik {

// Posted on every change, with the monitor as the object.
inline const foundation::NotificationName reachabilityChanged = "reachabilityChanged";
// Offered to hosts; nothing posts it.
inline const foundation::NotificationName ConnectivityChangedNotification = "ConnectivityChangedNotification";

// Thrown by the throwing factories and by startNotifier(). Each case carries
// the reachability layer's status code (network::SCError()) read at the moment
// of failure.
class MORVIK_API ConnectivityError : public std::exception {
 public:
  enum class Kind {
    failedToCreateWithAddress,
    failedToCreateWithHostname,
    unableToSetCallback,
    unableToSetDispatchQueue,
    unableToGetFlags
  };

  static ConnectivityError failedToCreateWithAddress(const sockaddr& address, std::int32_t code);
  static ConnectivityError failedToCreateWithHostname(std::string hostname, std::int32_t code);
  static ConnectivityError unableToSetCallback(std::int32_t code);
  static ConnectivityError unableToSetDispatchQueue(std::int32_t code);
  static ConnectivityError unableToGetFlags(std::int32_t code);

  Kind kind() const { return kind_; }
  std::int32_t code() const { return code_; }
  // Present for failedToCreateWithAddress only.
  const std::optional<sockaddr>& address() const { return address_; }
  // Present for failedToCreateWithHostname only.
  const std::optional<std::string>& hostname() const { return hostname_; }

  const char* what() const noexcept override { return message_.c_str(); }

 private:
  ConnectivityError(Kind kind, std::int32_t code, std::string message)
      : kind_(kind), code_(code), message_(std::move(message)) {}
  Kind kind_;
  std::int32_t code_;
  std::optional<sockaddr> address_;
  std::optional<std::string> hostname_;
  std::string message_;
};

class MORVIK_API ConnectivityMonitor : public std::enable_shared_from_this<ConnectivityMonitor> {
 public:
  using NetworkReachable = std::function<void(const std::shared_ptr<ConnectivityMonitor>&)>;
  using NetworkUnreachable = std::function<void(const std::shared_ptr<ConnectivityMonitor>&)>;

  enum class Connection { unavailable, wifi, cellular, none = unavailable };
  enum class NetworkStatus { notReachable, reachableViaWiFi, reachableViaWWAN };

  // The designated factory: a stopped monitor over the given reachability
  // object. Its serial queue takes `queueQoS` (or the target queue's quality
  // of service when a target queue is given). A null reference gives a monitor
  // whose flags are unreadable: `connection` answers unavailable.
  static std::shared_ptr<ConnectivityMonitor> create(
      network::SCNetworkReachabilityRef reachabilityRef,
      dispatch::DispatchQoS queueQoS = dispatch::DispatchQoS::default_,
      std::optional<dispatch::DispatchQueue> targetQueue = std::nullopt,
      std::optional<dispatch::DispatchQueue> notificationQueue = dispatch::DispatchQueue::main());
  // For a host name; throws ConnectivityError::failedToCreateWithHostname.
  static std::shared_ptr<ConnectivityMonitor> createWithHostname(
      const std::string& hostname, dispatch::DispatchQoS queueQoS = dispatch::DispatchQoS::default_,
      std::optional<dispatch::DispatchQueue> targetQueue = std::nullopt,
      std::optional<dispatch::DispatchQueue> notificationQueue = dispatch::DispatchQueue::main());
  // For the zero IPv4 address (the device's default route); throws
  // ConnectivityError::failedToCreateWithAddress.
  static std::shared_ptr<ConnectivityMonitor> create(
      dispatch::DispatchQoS queueQoS = dispatch::DispatchQoS::default_,
      std::optional<dispatch::DispatchQueue> targetQueue = std::nullopt,
      std::optional<dispatch::DispatchQueue> notificationQueue = dispatch::DispatchQueue::main());

  // Stops the notifier first.
  ~ConnectivityMonitor();
  ConnectivityMonitor(const ConnectivityMonitor&) = delete;
  ConnectivityMonitor& operator=(const ConnectivityMonitor&) = delete;

  // Starts watching: installs the change callback and queue, reads the flags
  // once. Does nothing when already running. Throws unableToSetCallback,
  // unableToSetDispatchQueue or unableToGetFlags, leaving the notifier stopped.
  void startNotifier();
  void stopNotifier();

  NetworkReachable whenReachable() const;
  void setWhenReachable(NetworkReachable callback);
  NetworkUnreachable whenUnreachable() const;
  void setWhenUnreachable(NetworkUnreachable callback);
  bool reachableOnWWAN() const { return true; }
  // Stored only; `connection` does not consult it.
  bool allowsCellularConnection() const { return allowsCellularConnection_.load(); }
  void setAllowsCellularConnection(bool allows) { allowsCellularConnection_.store(allows); }
  std::shared_ptr<foundation::NotificationCenter> notificationCenter() const;
  void setNotificationCenter(std::shared_ptr<foundation::NotificationCenter> center);

  // Reads the flags once when none were read yet; afterwards answers from the
  // last flags read (only the running notifier refreshes them). Reachable
  // flags answer wifi; cellular is never answered. Never fails.
  Connection connection();
  Connection currentReachabilityStatus() { return connection(); }
  std::string currentReachabilityString();
  bool isReachable() { return connection() != Connection::unavailable; }
  bool isReachableViaWiFi() { return connection() == Connection::wifi; }
  bool isReachableViaWWAN() { return connection() == Connection::cellular; }
  // The flags string, or "unavailable flags" before any were read.
  std::string description() const;

  // Internal state, readable for diagnostics and tests.
  bool notifierRunning() const { return notifierRunning_.load(); }
  const network::SCNetworkReachabilityRef& reachabilityRef() const { return reachabilityRef_; }
  const dispatch::DispatchQueue& reachabilitySerialQueue() const { return reachabilitySerialQueue_; }
  const std::optional<dispatch::DispatchQueue>& notificationQueue() const { return notificationQueue_; }
  std::optional<network::SCNetworkReachabilityFlags> flags() const;

 private:
  ConnectivityMonitor(network::SCNetworkReachabilityRef reachabilityRef, dispatch::DispatchQoS queueQoS,
                      std::optional<dispatch::DispatchQueue> targetQueue,
                      std::optional<dispatch::DispatchQueue> notificationQueue);

  void refreshFlags();  // on reachabilitySerialQueue; throws unableToGetFlags
  void storeFlags(network::SCNetworkReachabilityFlags newFlags);
  void postReachabilityChange();

  friend struct ConnectivityCallbacks;

  mutable std::mutex mutex_;  // guards the callbacks, the centre and the flags
  NetworkReachable whenReachable_;
  NetworkUnreachable whenUnreachable_;
  std::atomic<bool> allowsCellularConnection_{true};
  std::shared_ptr<foundation::NotificationCenter> notificationCenter_;
  std::atomic<bool> notifierRunning_{false};
  const network::SCNetworkReachabilityRef reachabilityRef_;
  const dispatch::DispatchQueue reachabilitySerialQueue_;
  const std::optional<dispatch::DispatchQueue> notificationQueue_;
  std::optional<network::SCNetworkReachabilityFlags> flags_;
};

MORVIK_API const char* description(ConnectivityMonitor::Connection connection);
MORVIK_API const char* description(ConnectivityMonitor::NetworkStatus status);

// The ten-character flags string: "W" is-WWAN, "R" reachable, a space, then
// "c" connection required, "t" transient, "i" intervention required,
// "C" connection on traffic, "D" connection on demand, "l" local address,
// "d" direct; "-" for each flag not set.
MORVIK_API std::string flagsDescription(network::SCNetworkReachabilityFlags flags);

}  // namespace morvik
