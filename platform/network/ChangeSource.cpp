#include "network/ChangeSource.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace network::detail {

namespace {

struct IfAddrsDeleter {
  void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};
using IfAddrsPtr = std::unique_ptr<ifaddrs, IfAddrsDeleter>;

IfAddrsPtr interfaceAddresses() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return nullptr;
  return IfAddrsPtr(list);
}

// Non-loopback interfaces that are up and running.
std::set<std::string> activeInterfaces() {
  std::set<std::string> names;
  auto list = interfaceAddresses();
  for (auto* a = list.get(); a; a = a->ifa_next) {
    const unsigned flags = a->ifa_flags;
    if ((flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK)) names.insert(a->ifa_name);
  }
  return names;
}

struct Route {
  std::string interface;
  bool isDefault = false;
};

// Usable routes from procfs: up, not a reject route, and for IPv6 neither
// link-local nor multicast (every up interface has those, connected or not).
std::vector<Route> kernelRoutes() {
  std::vector<Route> routes;
  std::ifstream v4("/proc/net/route");
  std::string line;
  std::getline(v4, line);  // header
  while (std::getline(v4, line)) {
    std::istringstream in(line);
    std::string iface, destination, gateway, flagsText, refcnt, use, metric, mask;
    if (!(in >> iface >> destination >> gateway >> flagsText >> refcnt >> use >> metric >> mask)) continue;
    const unsigned long flags = std::stoul(flagsText, nullptr, 16);
    if (!(flags & RTF_UP) || (flags & RTF_REJECT)) continue;
    routes.push_back({iface, destination == "00000000" && mask == "00000000"});
  }
  std::ifstream v6("/proc/net/ipv6_route");
  while (std::getline(v6, line)) {
    std::istringstream in(line);
    std::string destination, prefixLength, source, sourceLength, nextHop, metric, refcnt, use, flagsText,
        iface;
    if (!(in >> destination >> prefixLength >> source >> sourceLength >> nextHop >> metric >> refcnt >> use >>
          flagsText >> iface)) {
      continue;
    }
    const unsigned long flags = std::stoul(flagsText, nullptr, 16);
    if (!(flags & RTF_UP) || (flags & RTF_REJECT)) continue;
    if (destination.rfind("fe8", 0) == 0 || destination.rfind("ff", 0) == 0) continue;
    routes.push_back({iface, prefixLength == "00" && destination == std::string(32, '0')});
  }
  return routes;
}

bool isCellular(const std::string& interface) { return interface.rfind("wwan", 0) == 0; }

bool sameAddress(const sockaddr* a, const sockaddr* b) {
  if (!a || !b || a->sa_family != b->sa_family) return false;
  if (a->sa_family == AF_INET) {
    return reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr ==
           reinterpret_cast<const sockaddr_in*>(b)->sin_addr.s_addr;
  }
  if (a->sa_family == AF_INET6) {
    return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr,
                       &reinterpret_cast<const sockaddr_in6*>(b)->sin6_addr, sizeof(in6_addr)) == 0;
  }
  return false;
}

// The raw address bytes of an IPv4 or IPv6 socket address.
std::pair<const unsigned char*, std::size_t> addressBytes(const sockaddr* a) {
  if (a->sa_family == AF_INET) {
    return {reinterpret_cast<const unsigned char*>(&reinterpret_cast<const sockaddr_in*>(a)->sin_addr), 4};
  }
  return {reinterpret_cast<const unsigned char*>(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr), 16};
}

bool sameSubnet(const sockaddr* a, const sockaddr* b, const sockaddr* mask) {
  if (!mask || a->sa_family != b->sa_family || mask->sa_family != a->sa_family) return false;
  auto [x, n] = addressBytes(a);
  auto [y, m] = addressBytes(b);
  auto [z, k] = addressBytes(mask);
  if (n != m || n != k) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if ((x[i] & z[i]) != (y[i] & z[i])) return false;
  }
  return true;
}

bool isZeroAddress(const sockaddr* a) {
  auto [bytes, n] = addressBytes(a);
  return std::all_of(bytes, bytes + n, [](unsigned char c) { return c == 0; });
}

}  // namespace

NWPath evaluateKernelPath() {
  const auto active = activeInterfaces();
  for (const auto& route : kernelRoutes()) {
    if (active.count(route.interface)) return NWPath{NWPath::Status::satisfied};
  }
  return NWPath{NWPath::Status::unsatisfied};
}

SCNetworkReachabilityFlags evaluateAddress(const sockaddr* address, socklen_t length) {
  using Flags = SCNetworkReachabilityFlags;
  if (isZeroAddress(address)) {
    const auto active = activeInterfaces();
    for (const auto& route : kernelRoutes()) {
      if (route.isDefault && active.count(route.interface)) {
        return isCellular(route.interface) ? Flags::reachable | Flags::isWWAN : Flags::reachable;
      }
    }
    return {};
  }
  // Asking the kernel to route a UDP socket sends nothing and tells which
  // local address (hence interface) traffic would leave from.
  const int fd = ::socket(address->sa_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  sockaddr_storage target{};
  std::memcpy(&target, address, std::min<std::size_t>(length, sizeof(target)));
  auto* port = target.ss_family == AF_INET ? &reinterpret_cast<sockaddr_in*>(&target)->sin_port
                                           : &reinterpret_cast<sockaddr_in6*>(&target)->sin6_port;
  if (*port == 0) *port = htons(9);
  sockaddr_storage local{};
  socklen_t localLength = sizeof(local);
  const bool routed = ::connect(fd, reinterpret_cast<const sockaddr*>(&target), length) == 0 &&
                      ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) == 0;
  ::close(fd);
  if (!routed) return {};

  Flags flags = Flags::reachable;
  auto list = interfaceAddresses();
  for (auto* a = list.get(); a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != address->sa_family) continue;
    if (sameAddress(a->ifa_addr, address) ||
        ((a->ifa_flags & IFF_LOOPBACK) &&
         sameAddress(a->ifa_addr, reinterpret_cast<const sockaddr*>(&local)))) {
      return Flags::reachable | Flags::isLocalAddress | Flags::isDirect;
    }
  }
  for (auto* a = list.get(); a; a = a->ifa_next) {
    if (!a->ifa_addr || !sameAddress(a->ifa_addr, reinterpret_cast<const sockaddr*>(&local))) continue;
    if (!(a->ifa_flags & IFF_UP)) return {};
    if (sameSubnet(address, a->ifa_addr, a->ifa_netmask)) flags |= Flags::isDirect;
    if (isCellular(a->ifa_name)) flags |= Flags::isWWAN;
    break;
  }
  return flags;
}

// ---------------------------------------------------------------------------

ChangeSource& ChangeSource::shared() {
  static auto* source = new ChangeSource();  // never destroyed: its thread outlives statics
  return *source;
}

ChangeSource::Token ChangeSource::subscribe(std::function<void()> onChange) {
  std::lock_guard lock(mutex_);
  const Token token = nextToken_++;
  subscribers_.emplace(token, std::move(onChange));
  if (!watcherStarted_) startWatcherLocked();
  return token;
}

void ChangeSource::unsubscribe(Token token) {
  std::lock_guard lock(mutex_);
  subscribers_.erase(token);
}

NWPath ChangeSource::currentPath() {
  {
    std::lock_guard lock(mutex_);
    if (pathOverride_) return *pathOverride_;
  }
  return evaluateKernelPath();
}

std::optional<SCNetworkReachabilityFlags> ChangeSource::flagsOverride() {
  std::lock_guard lock(mutex_);
  return flagsOverride_;
}

void ChangeSource::setPathOverride(std::optional<NWPath> path) {
  {
    std::lock_guard lock(mutex_);
    pathOverride_ = path;
  }
  notifyAll();
}

void ChangeSource::setFlagsOverride(std::optional<SCNetworkReachabilityFlags> flags) {
  {
    std::lock_guard lock(mutex_);
    flagsOverride_ = flags;
  }
  notifyAll();
}

void ChangeSource::notifyAll() {
  std::vector<std::function<void()>> callbacks;
  {
    std::lock_guard lock(mutex_);
    for (auto& [token, callback] : subscribers_) callbacks.push_back(callback);
  }
  for (auto& callback : callbacks) callback();
}

void ChangeSource::startWatcherLocked() {
  watcherStarted_ = true;
  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return;  // no change events; paths and flags are still read on demand
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups =
      RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
    ::close(fd);
    return;
  }
  try {
    std::thread([this, fd] { watch(fd); }).detach();
  } catch (const std::system_error&) {
    ::close(fd);
  }
}

void ChangeSource::watch(int fd) {
  std::vector<char> buffer(32 * 1024);
  for (;;) {
    const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != ENOBUFS) break;  // ENOBUFS: events were lost, which is still a change
    // A burst of events (an interface going down drops its addresses and
    // routes) is read in full and reported once.
    while (::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT) > 0) {
    }
    notifyAll();
  }
  ::close(fd);
}

}  // namespace network::detail
