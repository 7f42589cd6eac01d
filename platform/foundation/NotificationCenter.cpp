#include <morvik/platform/foundation/NotificationCenter.h>

#include <algorithm>
#include <atomic>

namespace foundation {

struct NotificationCenter::Registration {
  const void* observer = nullptr;
  std::optional<NotificationName> name;
  const void* object = nullptr;
  std::optional<dispatch::DispatchQueue> queue;
  NotificationBlock block;
  // Cleared on removal; checked right before each call, so a post that
  // snapshotted this registration skips it once it is removed.
  std::atomic<bool> active{true};
  // Block-style registrations keep their token alive: its address is their
  // identity.
  std::shared_ptr<NotificationObserverToken> token;

  bool matches(const Notification& n) const {
    return (!name || *name == n.name) && (object == nullptr || object == n.object.get());
  }
};

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

std::shared_ptr<NotificationCenter> NotificationCenter::defaultCenter() {
  static const auto instance = std::make_shared<NotificationCenter>();
  return instance;
}

void NotificationCenter::addObserver(const void* observer, std::optional<NotificationName> name,
                                     const void* object, NotificationBlock block) {
  if (!block) return;
  auto reg = std::make_shared<Registration>();
  reg->observer = observer;
  reg->name = std::move(name);
  reg->object = object;
  reg->block = std::move(block);
  std::lock_guard lock(mutex_);
  registrations_.push_back(std::move(reg));
}

std::shared_ptr<NotificationObserverToken> NotificationCenter::addObserverForName(
    std::optional<NotificationName> name, const void* object, std::optional<dispatch::DispatchQueue> queue,
    NotificationBlock block) {
  auto token = std::make_shared<NotificationObserverToken>();
  if (!block) return token;
  auto reg = std::make_shared<Registration>();
  reg->observer = token.get();
  reg->name = std::move(name);
  reg->object = object;
  reg->queue = std::move(queue);
  reg->block = std::move(block);
  reg->token = token;
  std::lock_guard lock(mutex_);
  registrations_.push_back(std::move(reg));
  return token;
}

void NotificationCenter::removeObserver(const void* observer) {
  std::lock_guard lock(mutex_);
  std::erase_if(registrations_, [&](const std::shared_ptr<Registration>& r) {
    if (r->observer != observer) return false;
    r->active.store(false);
    return true;
  });
}

void NotificationCenter::removeObserver(const void* observer, const NotificationName& name,
                                        const void* object) {
  std::lock_guard lock(mutex_);
  std::erase_if(registrations_, [&](const std::shared_ptr<Registration>& r) {
    if (r->observer != observer || !r->name || *r->name != name) return false;
    if (object != nullptr && r->object != object) return false;
    r->active.store(false);
    return true;
  });
}

void NotificationCenter::post(const Notification& notification) {
  std::vector<std::shared_ptr<Registration>> matching;
  {
    std::lock_guard lock(mutex_);
    for (const auto& r : registrations_) {
      if (r->matches(notification)) matching.push_back(r);
    }
  }
  for (const auto& r : matching) {
    if (!r->active.load()) continue;
    if (r->queue) {
      r->queue->async([r, notification] {
        if (r->active.load()) r->block(notification);
      });
    } else {
      r->block(notification);
    }
  }
}

void NotificationCenter::post(NotificationName name, std::shared_ptr<void> object,
                              NotificationUserInfo userInfo) {
  post(Notification{std::move(name), std::move(object), std::move(userInfo)});
}

std::size_t NotificationCenter::registrationCount(const void* observer) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count_if(registrations_.begin(), registrations_.end(),
                                                [&](const auto& r) { return r->observer == observer; }));
}

}  // namespace foundation
