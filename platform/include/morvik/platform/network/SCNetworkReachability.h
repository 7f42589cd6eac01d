// Reachability of an address or a host name, in place of the phone
// platform's SystemConfiguration reachability API.
//
// Flags are computed from the kernel's view: the zero address is reachable
// when a default route leaves through a non-loopback interface that is up;
// another address is reachable when the kernel has a route to it (a local
// address, or one on a directly attached subnet, also carries isLocalAddress
// or isDirect); a host name is resolved with the system resolver and is
// reachable when one of its addresses is. Interfaces named "wwan*" count as
// cellular (isWWAN). The connection-on-demand family of flags is never set.
#pragma once

#include <morvik/platform/dispatch/Dispatch.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace network {

// A bit set with the platform's bit values.
struct SCNetworkReachabilityFlags {
  std::uint32_t rawValue = 0;

  static const SCNetworkReachabilityFlags transientConnection;   // 1 << 0
  static const SCNetworkReachabilityFlags reachable;             // 1 << 1
  static const SCNetworkReachabilityFlags connectionRequired;    // 1 << 2
  static const SCNetworkReachabilityFlags connectionOnTraffic;   // 1 << 3
  static const SCNetworkReachabilityFlags interventionRequired;  // 1 << 4
  static const SCNetworkReachabilityFlags connectionOnDemand;    // 1 << 5
  static const SCNetworkReachabilityFlags isLocalAddress;        // 1 << 16
  static const SCNetworkReachabilityFlags isDirect;              // 1 << 17
  static const SCNetworkReachabilityFlags isWWAN;                // 1 << 18

  constexpr bool contains(SCNetworkReachabilityFlags other) const {
    return (rawValue & other.rawValue) == other.rawValue;
  }
  constexpr bool isEmpty() const { return rawValue == 0; }
  constexpr SCNetworkReachabilityFlags operator|(SCNetworkReachabilityFlags o) const {
    return {rawValue | o.rawValue};
  }
  constexpr SCNetworkReachabilityFlags operator&(SCNetworkReachabilityFlags o) const {
    return {rawValue & o.rawValue};
  }
  constexpr SCNetworkReachabilityFlags& operator|=(SCNetworkReachabilityFlags o) {
    rawValue |= o.rawValue;
    return *this;
  }
  friend constexpr bool operator==(SCNetworkReachabilityFlags, SCNetworkReachabilityFlags) = default;
};

inline constexpr SCNetworkReachabilityFlags SCNetworkReachabilityFlags::transientConnection{1u << 0};
inline constexpr SCNetworkReachabilityFlags SCNetworkReachabilityFlags::reachable{1u << 1};
inline constexpr SCNetworkReachabilityFlags SCNetworkReachabilityFlags::connectionRequired{1u << 2};
inline constexpr SCNetworkReachabilityFlags SCNetworkReachabilityFlags::connectionOnTraffic{1u << 3};
inline constexpr SCNetworkReachabilityFlags SCNetworkReachabilityFlags::interventionRequired{1u << 4};
inline constexpr SCNetworkReachabilityFlags SCNetworkReachabilityFlags::connectionOnDemand{1u << 5};
inline constexpr SCNetworkReachabilityFlags SCNetworkReachabilityFlags::isLocalAddress{1u << 16};
inline constexpr SCNetworkReachabilityFlags SCNetworkReachabilityFlags::isDirect{1u << 17};
inline constexpr SCNetworkReachabilityFlags SCNetworkReachabilityFlags::isWWAN{1u << 18};

// Status codes reported through SCError().
inline constexpr std::int32_t kSCStatusOK = 0;
inline constexpr std::int32_t kSCStatusFailed = 1001;
inline constexpr std::int32_t kSCStatusInvalidArgument = 1002;

// The status of the calling thread's last failed reachability call
// (kSCStatusOK when none failed).
std::int32_t SCError();

class SCNetworkReachability;
using SCNetworkReachabilityRef = std::shared_ptr<SCNetworkReachability>;

// Called on the queue given to setDispatchQueue with the new flags.
using SCNetworkReachabilityCallBack =
    std::function<void(const SCNetworkReachabilityRef& target, SCNetworkReachabilityFlags flags, void* info)>;

struct SCNetworkReachabilityContext {
  long version = 0;
  // Kept alive (retained) while the callback is installed; handed to the
  // callback as `info`.
  std::shared_ptr<void> info;
  // Describes `info` for SCNetworkReachability::description(); optional.
  std::function<std::string(const void* info)> copyDescription;
};

// One reachability target. Every member may be called from any thread.
// Changes are watched only while both a callback and a dispatch queue are
// installed; then every change of the flags (compared with the flags when
// watching began; for a host name, its first resolution counts as a change)
// is delivered on the queue, in order. Removing the callback or the queue
// drops deliveries that are queued but not yet run.
class SCNetworkReachability : public std::enable_shared_from_this<SCNetworkReachability> {
 public:
  // Null (SCError() says why) for a null or non-IP address.
  static SCNetworkReachabilityRef createWithAddress(const sockaddr* address);
  // Null for an empty or malformed host name. The name is not resolved here.
  static SCNetworkReachabilityRef createWithName(const char* nodename);

  ~SCNetworkReachability();

  // Reads the flags now (a host name is resolved on the calling thread).
  // False, with SCError() set, when they cannot be read.
  bool getFlags(SCNetworkReachabilityFlags& flags);
  // An empty callout removes the callback and releases the context.
  bool setCallback(SCNetworkReachabilityCallBack callout, const SCNetworkReachabilityContext* context);
  // nullopt stops delivery.
  bool setDispatchQueue(std::optional<dispatch::DispatchQueue> queue);

  std::string description() const;
  bool isHostName() const;

  // Test hooks. Injected flags replace what the kernel says, for getFlags
  // and for change delivery (an injection that changes the flags is
  // delivered like a real change). The failure switches make the next calls
  // fail with kSCStatusFailed until cleared.
  void injectFlagsForTesting(std::optional<SCNetworkReachabilityFlags> flags);
  struct FailuresForTesting {
    bool getFlags = false;
    bool setCallback = false;
    bool setDispatchQueue = false;
  };
  void injectFailuresForTesting(FailuresForTesting failures);

  struct Impl;

 private:
  explicit SCNetworkReachability(std::unique_ptr<Impl> impl);
  void restartWatching();
  std::unique_ptr<Impl> impl_;
};

// The platform's call names, for code that reads like the platform's.
SCNetworkReachabilityRef SCNetworkReachabilityCreateWithAddress(const sockaddr* address);
SCNetworkReachabilityRef SCNetworkReachabilityCreateWithName(const char* nodename);
bool SCNetworkReachabilityGetFlags(const SCNetworkReachabilityRef& target, SCNetworkReachabilityFlags* flags);
bool SCNetworkReachabilitySetCallback(const SCNetworkReachabilityRef& target,
                                      SCNetworkReachabilityCallBack callout,
                                      const SCNetworkReachabilityContext* context);
bool SCNetworkReachabilitySetDispatchQueue(const SCNetworkReachabilityRef& target,
                                           std::optional<dispatch::DispatchQueue> queue);

}  // namespace network
