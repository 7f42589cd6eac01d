// Internal: the kernel's view of the network, and one thread that watches
// rtnetlink for changes to it.
#pragma once

#include <morvik/platform/network/NWPathMonitor.h>
#include <morvik/platform/network/SCNetworkReachability.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace network::detail {

class ChangeSource {
 public:
  using Token = std::uint64_t;

  static ChangeSource& shared();

  // onChange runs on the watcher thread (or on the thread injecting a test
  // value) after links, addresses or routes changed; it must be quick. It may
  // still run once after unsubscribe returns.
  Token subscribe(std::function<void()> onChange);
  void unsubscribe(Token token);

  NWPath currentPath();
  std::optional<SCNetworkReachabilityFlags> flagsOverride();

  void setPathOverride(std::optional<NWPath> path);
  void setFlagsOverride(std::optional<SCNetworkReachabilityFlags> flags);

 private:
  ChangeSource() = default;
  void notifyAll();
  void startWatcherLocked();
  void watch(int fd);

  std::mutex mutex_;
  std::map<Token, std::function<void()>> subscribers_;
  Token nextToken_ = 1;
  bool watcherStarted_ = false;
  std::optional<NWPath> pathOverride_;
  std::optional<SCNetworkReachabilityFlags> flagsOverride_;
};

// The path as the kernel sees it now.
NWPath evaluateKernelPath();
// Flags for an IPv4 or IPv6 socket address as the kernel sees it now.
SCNetworkReachabilityFlags evaluateAddress(const sockaddr* address, socklen_t length);

}  // namespace network::detail
