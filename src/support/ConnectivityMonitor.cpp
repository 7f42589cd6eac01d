#include <morvik/support/ConnectivityMonitor.h>
#include <netinet/in.h>

#include <cstring>
#include <utility>

namespace morvik {

using network::SCNetworkReachabilityFlags;

// ---------------------------------------------------------------------------
// ConnectivityError

namespace {
std::string codeText(std::int32_t code) { return std::to_string(code); }
}  // namespace

ConnectivityError ConnectivityError::failedToCreateWithAddress(const sockaddr& address, std::int32_t code) {
  ConnectivityError error(
      Kind::failedToCreateWithAddress, code,
      "failedToCreateWithAddress(family " + std::to_string(address.sa_family) + ", " + codeText(code) + ")");
  error.address_ = address;
  return error;
}

ConnectivityError ConnectivityError::failedToCreateWithHostname(std::string hostname, std::int32_t code) {
  ConnectivityError error(Kind::failedToCreateWithHostname, code,
                          "failedToCreateWithHostname(\"" + hostname + "\", " + codeText(code) + ")");
  error.hostname_ = std::move(hostname);
  return error;
}

ConnectivityError ConnectivityError::unableToSetCallback(std::int32_t code) {
  return ConnectivityError(Kind::unableToSetCallback, code, "unableToSetCallback(" + codeText(code) + ")");
}

ConnectivityError ConnectivityError::unableToSetDispatchQueue(std::int32_t code) {
  return ConnectivityError(Kind::unableToSetDispatchQueue, code,
                           "unableToSetDispatchQueue(" + codeText(code) + ")");
}

ConnectivityError ConnectivityError::unableToGetFlags(std::int32_t code) {
  return ConnectivityError(Kind::unableToGetFlags, code, "unableToGetFlags(" + codeText(code) + ")");
}

// ---------------------------------------------------------------------------
// Texts

const char* description(ConnectivityMonitor::Connection connection) {
  switch (connection) {
    case ConnectivityMonitor::Connection::unavailable:
      return "No Connection";
    case ConnectivityMonitor::Connection::wifi:
      return "WiFi";
    case ConnectivityMonitor::Connection::cellular:
      return "Cellular";
  }
  return "No Connection";
}

const char* description(ConnectivityMonitor::NetworkStatus status) {
  switch (status) {
    case ConnectivityMonitor::NetworkStatus::notReachable:
      return "No Connection";
    case ConnectivityMonitor::NetworkStatus::reachableViaWiFi:
      return "WiFi";
    case ConnectivityMonitor::NetworkStatus::reachableViaWWAN:
      return "Cellular";
  }
  return "No Connection";
}

std::string flagsDescription(SCNetworkReachabilityFlags flags) {
  using F = SCNetworkReachabilityFlags;
  auto letter = [&](F flag, char c) { return flags.contains(flag) ? c : '-'; };
  std::string text;
  text += letter(F::isWWAN, 'W');
  text += letter(F::reachable, 'R');
  text += ' ';
  text += letter(F::connectionRequired, 'c');
  text += letter(F::transientConnection, 't');
  text += letter(F::interventionRequired, 'i');
  text += letter(F::connectionOnTraffic, 'C');
  text += letter(F::connectionOnDemand, 'D');
  text += letter(F::isLocalAddress, 'l');
  text += letter(F::isDirect, 'd');
  return text;
}

// ---------------------------------------------------------------------------
// The change callback's info object: it holds the monitor weakly, so an
// installed callback never keeps the monitor alive.

struct ConnectivityWeakifier {
  std::weak_ptr<ConnectivityMonitor> monitor;
};

struct ConnectivityCallbacks {
  static void changed(const network::SCNetworkReachabilityRef&, SCNetworkReachabilityFlags flags,
                      void* info) {
    auto* holder = static_cast<ConnectivityWeakifier*>(info);
    auto monitor = holder ? holder->monitor.lock() : nullptr;
    if (!monitor) return;
    monitor->storeFlags(flags);
  }

  static std::string describe(const void* info) {
    auto* holder = static_cast<const ConnectivityWeakifier*>(info);
    auto monitor = holder ? holder->monitor.lock() : nullptr;
    return monitor ? monitor->description() : "nil";
  }
};

// ---------------------------------------------------------------------------
// ConnectivityMonitor

ConnectivityMonitor::ConnectivityMonitor(network::SCNetworkReachabilityRef reachabilityRef,
                                         dispatch::DispatchQoS queueQoS,
                                         std::optional<dispatch::DispatchQueue> targetQueue,
                                         std::optional<dispatch::DispatchQueue> notificationQueue)
    : notificationCenter_(foundation::NotificationCenter::defaultCenter()),
      reachabilityRef_(std::move(reachabilityRef)),
      // Our queues have no targets: the serial queue takes the target's
      // quality of service, which is what targeting would have given it.
      reachabilitySerialQueue_("ConnectivityMonitor.serialQueue",
                               {.concurrent = false, .qos = targetQueue ? targetQueue->qos() : queueQoS}),
      notificationQueue_(std::move(notificationQueue)) {}

std::shared_ptr<ConnectivityMonitor> ConnectivityMonitor::create(
    network::SCNetworkReachabilityRef reachabilityRef, dispatch::DispatchQoS queueQoS,
    std::optional<dispatch::DispatchQueue> targetQueue,
    std::optional<dispatch::DispatchQueue> notificationQueue) {
  return std::shared_ptr<ConnectivityMonitor>(new ConnectivityMonitor(
      std::move(reachabilityRef), queueQoS, std::move(targetQueue), std::move(notificationQueue)));
}

std::shared_ptr<ConnectivityMonitor> ConnectivityMonitor::createWithHostname(
    const std::string& hostname, dispatch::DispatchQoS queueQoS,
    std::optional<dispatch::DispatchQueue> targetQueue,
    std::optional<dispatch::DispatchQueue> notificationQueue) {
  auto ref = network::SCNetworkReachabilityCreateWithName(hostname.c_str());
  if (!ref) throw ConnectivityError::failedToCreateWithHostname(hostname, network::SCError());
  return create(std::move(ref), queueQoS, std::move(targetQueue), std::move(notificationQueue));
}

std::shared_ptr<ConnectivityMonitor> ConnectivityMonitor::create(
    dispatch::DispatchQoS queueQoS, std::optional<dispatch::DispatchQueue> targetQueue,
    std::optional<dispatch::DispatchQueue> notificationQueue) {
  // The zero IPv4 address: family AF_INET, every other byte 0.
  sockaddr address{};
  sockaddr_in zero{};
  zero.sin_family = AF_INET;
  std::memcpy(&address, &zero, sizeof(address));
  auto ref = network::SCNetworkReachabilityCreateWithAddress(&address);
  if (!ref) throw ConnectivityError::failedToCreateWithAddress(address, network::SCError());
  return create(std::move(ref), queueQoS, std::move(targetQueue), std::move(notificationQueue));
}

ConnectivityMonitor::~ConnectivityMonitor() { stopNotifier(); }

void ConnectivityMonitor::startNotifier() {
  if (notifierRunning_.load()) return;

  auto holder = std::make_shared<ConnectivityWeakifier>();
  holder->monitor = weak_from_this();
  network::SCNetworkReachabilityContext context;
  context.version = 0;
  context.info = holder;
  context.copyDescription = &ConnectivityCallbacks::describe;

  if (!network::SCNetworkReachabilitySetCallback(reachabilityRef_, &ConnectivityCallbacks::changed,
                                                 &context)) {
    const auto code = network::SCError();
    stopNotifier();
    throw ConnectivityError::unableToSetCallback(code);
  }
  if (!network::SCNetworkReachabilitySetDispatchQueue(reachabilityRef_, reachabilitySerialQueue_)) {
    const auto code = network::SCError();
    stopNotifier();
    throw ConnectivityError::unableToSetDispatchQueue(code);
  }
  // An exception must not leave the queue's thread: carry it back to ours.
  std::exception_ptr failure;
  reachabilitySerialQueue_.sync([&] {
    try {
      refreshFlags();
    } catch (...) {
      failure = std::current_exception();
    }
  });
  if (failure) std::rethrow_exception(failure);  // refreshFlags has stopped the notifier
  notifierRunning_.store(true);
}

void ConnectivityMonitor::stopNotifier() {
  if (reachabilityRef_) {
    reachabilityRef_->setCallback(nullptr, nullptr);
    reachabilityRef_->setDispatchQueue(std::nullopt);
  }
  notifierRunning_.store(false);
}

void ConnectivityMonitor::refreshFlags() {
  SCNetworkReachabilityFlags newFlags;
  if (!network::SCNetworkReachabilityGetFlags(reachabilityRef_, &newFlags)) {
    const auto code = network::SCError();
    stopNotifier();
    throw ConnectivityError::unableToGetFlags(code);
  }
  storeFlags(newFlags);
}

void ConnectivityMonitor::storeFlags(SCNetworkReachabilityFlags newFlags) {
  bool changed = false;
  {
    std::lock_guard lock(mutex_);
    changed = !flags_ || *flags_ != newFlags;
    flags_ = newFlags;
  }
  if (changed) postReachabilityChange();
}

void ConnectivityMonitor::postReachabilityChange() {
  auto work = [weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    if (self->connection() != Connection::unavailable) {
      if (auto callback = self->whenReachable()) callback(self);
    } else {
      if (auto callback = self->whenUnreachable()) callback(self);
    }
    if (auto center = self->notificationCenter()) center->post(reachabilityChanged, self);
  };
  if (notificationQueue_) {
    notificationQueue_->async(std::move(work));
  } else {
    work();
  }
}

ConnectivityMonitor::Connection ConnectivityMonitor::connection() {
  if (!flags()) {
    reachabilitySerialQueue_.sync([&] {
      try {
        refreshFlags();
      } catch (const ConnectivityError&) {
        // An unreadable flag set answers unavailable below.
      }
    });
  }
  const auto current = flags();
  if (!current) return Connection::unavailable;
  return current->contains(SCNetworkReachabilityFlags::reachable) ? Connection::wifi
                                                                  : Connection::unavailable;
}

std::string ConnectivityMonitor::currentReachabilityString() { return morvik::description(connection()); }

std::string ConnectivityMonitor::description() const {
  const auto current = flags();
  return current ? flagsDescription(*current) : "unavailable flags";
}

std::optional<SCNetworkReachabilityFlags> ConnectivityMonitor::flags() const {
  std::lock_guard lock(mutex_);
  return flags_;
}

ConnectivityMonitor::NetworkReachable ConnectivityMonitor::whenReachable() const {
  std::lock_guard lock(mutex_);
  return whenReachable_;
}

void ConnectivityMonitor::setWhenReachable(NetworkReachable callback) {
  std::lock_guard lock(mutex_);
  whenReachable_ = std::move(callback);
}

ConnectivityMonitor::NetworkUnreachable ConnectivityMonitor::whenUnreachable() const {
  std::lock_guard lock(mutex_);
  return whenUnreachable_;
}

void ConnectivityMonitor::setWhenUnreachable(NetworkUnreachable callback) {
  std::lock_guard lock(mutex_);
  whenUnreachable_ = std::move(callback);
}

std::shared_ptr<foundation::NotificationCenter> ConnectivityMonitor::notificationCenter() const {
  std::lock_guard lock(mutex_);
  return notificationCenter_;
}

void ConnectivityMonitor::setNotificationCenter(std::shared_ptr<foundation::NotificationCenter> center) {
  std::lock_guard lock(mutex_);
  notificationCenter_ = std::move(center);
}

}  // namespace morvik
