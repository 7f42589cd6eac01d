#include <arpa/inet.h>
#include <morvik/platform/network/SCNetworkReachability.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "network/ChangeSource.h"

namespace network {

namespace {

thread_local std::int32_t tlsStatus = kSCStatusOK;

bool fail(std::int32_t status) {
  tlsStatus = status;
  return false;
}

bool succeed() {
  tlsStatus = kSCStatusOK;
  return true;
}

// Host names as the resolver accepts them: dotted labels of letters, digits,
// '-' and '_', or an IP literal.
bool isWellFormedHostName(const std::string& name) {
  if (name.empty()) return false;
  in6_addr v6;
  if (::inet_pton(AF_INET6, name.c_str(), &v6) == 1) return true;
  std::string body = name.back() == '.' ? name.substr(0, name.size() - 1) : name;
  if (body.empty() || body.size() > 253) return false;
  std::size_t labelLength = 0;
  for (char c : body) {
    if (c == '.') {
      if (labelLength == 0) return false;
      labelLength = 0;
      continue;
    }
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!ok || ++labelLength > 63) return false;
  }
  return labelLength > 0;
}

struct AddrInfoDeleter {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

SCNetworkReachabilityFlags resolveAndEvaluate(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* raw = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &raw) != 0) return {};
  std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);
  std::optional<SCNetworkReachabilityFlags> first;
  for (auto* a = list.get(); a; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    const auto flags = detail::evaluateAddress(a->ai_addr, a->ai_addrlen);
    if (flags.contains(SCNetworkReachabilityFlags::reachable)) return flags;
    if (!first) first = flags;
  }
  return first.value_or(SCNetworkReachabilityFlags{});
}

}  // namespace

std::int32_t SCError() { return tlsStatus; }

struct SCNetworkReachability::Impl {
  sockaddr_storage address{};
  socklen_t addressLength = 0;
  std::string hostName;
  bool isName = false;

  mutable std::mutex mutex;
  SCNetworkReachabilityCallBack callout;
  SCNetworkReachabilityContext context;
  std::optional<dispatch::DispatchQueue> queue;
  std::optional<SCNetworkReachabilityFlags> injected;
  FailuresForTesting failures;
  // Watching state: set while both a callback and a queue are installed.
  bool watching = false;
  std::uint64_t generation = 0;
  std::optional<SCNetworkReachabilityFlags> lastReported;
  detail::ChangeSource::Token token = 0;
  // Evaluations for change delivery run here, off the caller's thread: a
  // host name's resolution may take seconds.
  dispatch::DispatchQueue worker{"network.reachability", {.qos = dispatch::DispatchQoS::utility}};

  std::optional<SCNetworkReachabilityFlags> overrideLocked() const {
    if (injected) return injected;
    return detail::ChangeSource::shared().flagsOverride();
  }

  SCNetworkReachabilityFlags evaluate() const {
    {
      std::lock_guard lock(mutex);
      if (auto flags = overrideLocked()) return *flags;
    }
    if (isName) return resolveAndEvaluate(hostName);
    return detail::evaluateAddress(reinterpret_cast<const sockaddr*>(&address), addressLength);
  }

  static void scheduleCheck(const std::weak_ptr<SCNetworkReachability>& weak, dispatch::DispatchQueue worker,
                            std::uint64_t generation) {
    worker.async([weak, generation] {
      auto self = weak.lock();
      if (!self) return;
      Impl& impl = *self->impl_;
      const auto flags = impl.evaluate();
      std::lock_guard lock(impl.mutex);
      if (!impl.watching || impl.generation != generation || impl.lastReported == flags) return;
      impl.lastReported = flags;
      impl.queue->async([weak, generation, flags] { deliver(weak, generation, flags); });
    });
  }

  static void deliver(const std::weak_ptr<SCNetworkReachability>& weak, std::uint64_t generation,
                      SCNetworkReachabilityFlags flags) {
    auto self = weak.lock();
    if (!self) return;
    SCNetworkReachabilityCallBack callout;
    std::shared_ptr<void> info;
    {
      std::lock_guard lock(self->impl_->mutex);
      if (!self->impl_->watching || self->impl_->generation != generation) return;
      callout = self->impl_->callout;
      info = self->impl_->context.info;
    }
    if (callout) callout(self, flags, info.get());
  }
};

SCNetworkReachability::SCNetworkReachability(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SCNetworkReachability::~SCNetworkReachability() {
  if (impl_->watching) detail::ChangeSource::shared().unsubscribe(impl_->token);
}

SCNetworkReachabilityRef SCNetworkReachability::createWithAddress(const sockaddr* address) {
  if (!address || (address->sa_family != AF_INET && address->sa_family != AF_INET6)) {
    fail(kSCStatusInvalidArgument);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->addressLength = address->sa_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
  std::memcpy(&impl->address, address, impl->addressLength);
  succeed();
  return SCNetworkReachabilityRef(new SCNetworkReachability(std::move(impl)));
}

SCNetworkReachabilityRef SCNetworkReachability::createWithName(const char* nodename) {
  if (!nodename || !isWellFormedHostName(nodename)) {
    fail(kSCStatusInvalidArgument);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->hostName = nodename;
  impl->isName = true;
  succeed();
  return SCNetworkReachabilityRef(new SCNetworkReachability(std::move(impl)));
}

bool SCNetworkReachability::getFlags(SCNetworkReachabilityFlags& flags) {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->failures.getFlags) return fail(kSCStatusFailed);
  }
  flags = impl_->evaluate();
  return succeed();
}

bool SCNetworkReachability::setCallback(SCNetworkReachabilityCallBack callout,
                                        const SCNetworkReachabilityContext* context) {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->failures.setCallback) return fail(kSCStatusFailed);
    impl_->callout = std::move(callout);
    impl_->context = impl_->callout && context ? *context : SCNetworkReachabilityContext{};
  }
  restartWatching();
  return succeed();
}

bool SCNetworkReachability::setDispatchQueue(std::optional<dispatch::DispatchQueue> queue) {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->failures.setDispatchQueue) return fail(kSCStatusFailed);
    impl_->queue = std::move(queue);
  }
  restartWatching();
  return succeed();
}

// Restarts watching after any change of callback or queue; the flags at that
// moment become the baseline that later changes are compared with.
void SCNetworkReachability::restartWatching() {
  Impl& impl = *impl_;
  detail::ChangeSource::Token stale = 0;
  bool watch = false;
  std::uint64_t generation = 0;
  bool evaluateNow = false;
  {
    std::lock_guard lock(impl.mutex);
    if (impl.watching) stale = impl.token;
    impl.watching = impl.callout && impl.queue;
    generation = ++impl.generation;
    impl.lastReported.reset();
    impl.token = 0;
    watch = impl.watching;
    evaluateNow = watch && (!impl.isName || impl.overrideLocked());
  }
  if (stale) detail::ChangeSource::shared().unsubscribe(stale);
  if (!watch) return;
  // An address is cheap to evaluate: take the baseline now so the first
  // change after this call is reported. A name's first resolution happens on
  // the worker and is itself reported.
  std::optional<SCNetworkReachabilityFlags> baseline;
  if (evaluateNow) baseline = impl.evaluate();
  std::weak_ptr<SCNetworkReachability> weak = weak_from_this();
  auto worker = impl.worker;
  const auto token = detail::ChangeSource::shared().subscribe(
      [weak, worker, generation] { Impl::scheduleCheck(weak, worker, generation); });
  bool keep = false;
  {
    std::lock_guard lock(impl.mutex);
    if (impl.generation == generation) {
      impl.token = token;
      impl.lastReported = baseline;
      keep = true;
    }
  }
  if (!keep) {
    detail::ChangeSource::shared().unsubscribe(token);
    return;
  }
  if (!baseline) Impl::scheduleCheck(weak, worker, generation);
}

std::string SCNetworkReachability::description() const {
  std::function<std::string(const void*)> describe;
  std::shared_ptr<void> info;
  std::string target;
  {
    std::lock_guard lock(impl_->mutex);
    describe = impl_->context.copyDescription;
    info = impl_->context.info;
  }
  if (impl_->isName) {
    target = "name = " + impl_->hostName;
  } else {
    char text[INET6_ADDRSTRLEN] = "?";
    const auto* a = reinterpret_cast<const sockaddr*>(&impl_->address);
    const void* bytes = a->sa_family == AF_INET
                            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(a)->sin_addr)
                            : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr);
    ::inet_ntop(a->sa_family, bytes, text, sizeof(text));
    target = std::string("address = ") + text;
  }
  if (describe) target += ", context = " + describe(info.get());
  return "<SCNetworkReachability> {" + target + "}";
}

bool SCNetworkReachability::isHostName() const { return impl_->isName; }

void SCNetworkReachability::injectFlagsForTesting(std::optional<SCNetworkReachabilityFlags> flags) {
  std::uint64_t generation = 0;
  bool watching = false;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->injected = flags;
    watching = impl_->watching;
    generation = impl_->generation;
  }
  if (watching) Impl::scheduleCheck(weak_from_this(), impl_->worker, generation);
}

void SCNetworkReachability::injectFailuresForTesting(FailuresForTesting failures) {
  std::lock_guard lock(impl_->mutex);
  impl_->failures = failures;
}

SCNetworkReachabilityRef SCNetworkReachabilityCreateWithAddress(const sockaddr* address) {
  return SCNetworkReachability::createWithAddress(address);
}

SCNetworkReachabilityRef SCNetworkReachabilityCreateWithName(const char* nodename) {
  return SCNetworkReachability::createWithName(nodename);
}

bool SCNetworkReachabilityGetFlags(const SCNetworkReachabilityRef& target,
                                   SCNetworkReachabilityFlags* flags) {
  if (!target || !flags) return fail(kSCStatusInvalidArgument);
  return target->getFlags(*flags);
}

bool SCNetworkReachabilitySetCallback(const SCNetworkReachabilityRef& target,
                                      SCNetworkReachabilityCallBack callout,
                                      const SCNetworkReachabilityContext* context) {
  if (!target) return fail(kSCStatusInvalidArgument);
  return target->setCallback(std::move(callout), context);
}

bool SCNetworkReachabilitySetDispatchQueue(const SCNetworkReachabilityRef& target,
                                           std::optional<dispatch::DispatchQueue> queue) {
  if (!target) return fail(kSCStatusInvalidArgument);
  return target->setDispatchQueue(std::move(queue));
}

}  // namespace network
