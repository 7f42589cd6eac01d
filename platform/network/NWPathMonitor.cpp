#include <morvik/platform/network/NWPathMonitor.h>

#include <mutex>

#include "network/ChangeSource.h"

namespace network {

const char* description(NWPath::Status status) {
  switch (status) {
    case NWPath::Status::satisfied:
      return "satisfied";
    case NWPath::Status::unsatisfied:
      return "unsatisfied";
    case NWPath::Status::requiresConnection:
      return "requiresConnection";
  }
  return "unsatisfied";
}

struct NWPathMonitor::State : std::enable_shared_from_this<NWPathMonitor::State> {
  mutable std::mutex mutex;
  PathUpdateHandler handler;
  std::optional<dispatch::DispatchQueue> queue;
  bool started = false;
  bool cancelled = false;
  std::optional<NWPath> lastQueued;
  detail::ChangeSource::Token token = 0;

  // Reads the path and queues it when it differs from the last one queued.
  // Reading and queueing under one lock keeps updates in order when the
  // watcher thread and a test injection race.
  void check() {
    std::lock_guard lock(mutex);
    if (cancelled || !queue) return;
    const NWPath path = detail::ChangeSource::shared().currentPath();
    if (lastQueued == path) return;
    lastQueued = path;
    queue->async([weak = weak_from_this(), path] {
      auto self = weak.lock();
      if (!self) return;
      PathUpdateHandler handler;
      {
        std::lock_guard lock(self->mutex);
        if (self->cancelled) return;
        handler = self->handler;
      }
      if (handler) handler(path);
    });
  }
};

NWPathMonitor::NWPathMonitor() : state_(std::make_shared<State>()) {}

NWPathMonitor::~NWPathMonitor() { cancel(); }

void NWPathMonitor::setPathUpdateHandler(PathUpdateHandler handler) {
  std::lock_guard lock(state_->mutex);
  state_->handler = std::move(handler);
}

NWPathMonitor::PathUpdateHandler NWPathMonitor::pathUpdateHandler() const {
  std::lock_guard lock(state_->mutex);
  return state_->handler;
}

void NWPathMonitor::start(const dispatch::DispatchQueue& queue) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->started || state_->cancelled) return;
    state_->started = true;
    state_->queue = queue;
    state_->token = detail::ChangeSource::shared().subscribe([weak = std::weak_ptr<State>(state_)] {
      if (auto state = weak.lock()) state->check();
    });
  }
  state_->check();
}

void NWPathMonitor::cancel() {
  detail::ChangeSource::Token token = 0;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->cancelled) return;
    state_->cancelled = true;
    token = state_->token;
  }
  if (token) detail::ChangeSource::shared().unsubscribe(token);
}

NWPath NWPathMonitor::currentPath() const { return detail::ChangeSource::shared().currentPath(); }

std::optional<dispatch::DispatchQueue> NWPathMonitor::queue() const {
  std::lock_guard lock(state_->mutex);
  return state_->queue;
}

namespace testhooks {
void injectPath(std::optional<NWPath> path) { detail::ChangeSource::shared().setPathOverride(path); }
void injectReachabilityFlags(std::optional<SCNetworkReachabilityFlags> flags) {
  detail::ChangeSource::shared().setFlagsOverride(flags);
}
}  // namespace testhooks

}  // namespace network
