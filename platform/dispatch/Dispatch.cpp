#include <morvik/platform/dispatch/Dispatch.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <map>
#include <thread>

#include "dispatch/MainLoopObserver.h"
#include "dispatch/QueueImpl.h"
#include "dispatch/ThreadPool.h"

namespace dispatch {

using detail::fatal;
using detail::Item;
using detail::SyncContext;
using detail::ThreadPool;

namespace {

constexpr std::int64_t kDistantFuture = std::numeric_limits<std::int64_t>::max();

std::int64_t realNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
  if (a == kDistantFuture) return a;
  if (b > 0 && a > kDistantFuture - b) return kDistantFuture;
  if (b < 0 && a < std::numeric_limits<std::int64_t>::min() - b)
    return std::numeric_limits<std::int64_t>::min();
  return a + b;
}

std::atomic<bool> gManual{false};
std::atomic<std::int64_t> gManualNs{0};

// ---------------------------------------------------------------------------
// The thread's current queues: the blocks it is running, innermost last, plus
// the queues of every sync() caller waiting on it.
struct ThreadContext {
  std::vector<const DispatchQueue::Impl*> stack;
  bool fromMainThread = false;
};
thread_local ThreadContext tls;

bool isCurrent(const DispatchQueue::Impl* queue) {
  if (queue->main && (isMainThread() || tls.fromMainThread)) return true;
  return std::find(tls.stack.begin(), tls.stack.end(), queue) != tls.stack.end();
}

// ---------------------------------------------------------------------------
// The one timer facility. Deadlines are on the dispatch clock; due timers are
// handed to their queues in deadline order (ties in submission order) while
// the facility's lock is held, so two threads releasing timers at once cannot
// reorder them. With the real clock a thread sleeps until the earliest
// deadline; with the manual clock only advance() (and the main loop's turns)
// release them.
class Timers {
 public:
  static Timers& shared() {
    static Timers* timers = new Timers();  // never destroyed: its thread outlives statics
    return *timers;
  }

  void add(std::int64_t deadline, std::shared_ptr<DispatchQueue::Impl> queue, Block block) {
    std::lock_guard lock(mutex_);
    entries_.emplace(std::make_pair(deadline, seq_++), Entry{std::move(queue), std::move(block)});
    fireDueLocked();
    if (!threadStarted_) {
      threadStarted_ = true;
      std::thread([this] { threadLoop(); }).detach();
    }
    wake_.notify_all();
  }

  void fireDue() {
    std::lock_guard lock(mutex_);
    fireDueLocked();
  }

  void clockChanged() {
    std::lock_guard lock(mutex_);
    fireDueLocked();
    wake_.notify_all();
  }

 private:
  struct Entry {
    std::shared_ptr<DispatchQueue::Impl> queue;
    Block block;
  };

  void fireDueLocked() {
    const std::int64_t now = DispatchTime::now().uptimeNanoseconds();
    while (!entries_.empty() && entries_.begin()->first.first <= now &&
           entries_.begin()->first.first != kDistantFuture) {
      auto node = entries_.extract(entries_.begin());
      detail::enqueueOn(node.mapped().queue, std::move(node.mapped().block));
    }
  }

  void threadLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      fireDueLocked();
      if (gManual.load() || entries_.empty() || entries_.begin()->first.first == kDistantFuture) {
        wake_.wait(lock);
      } else {
        const auto deadline =
            std::chrono::steady_clock::time_point(std::chrono::nanoseconds(entries_.begin()->first.first));
        wake_.wait_until(lock, deadline);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::pair<std::int64_t, std::uint64_t>, Entry> entries_;
  std::uint64_t seq_ = 0;
  bool threadStarted_ = false;
};

// ---------------------------------------------------------------------------
std::shared_ptr<DispatchQueue::Impl>& mainImpl() {
  static auto* impl = new std::shared_ptr<DispatchQueue::Impl>(
      std::make_shared<DispatchQueue::Impl>("main-thread", DispatchQoS::userInteractive, false, true, false));
  return *impl;
}

std::atomic<bool> gStopRequested{false};
std::atomic<int> gMainWaiters{0};

bool popMain(Item& out) {
  auto& impl = *mainImpl();
  std::lock_guard lock(impl.mutex);
  if (impl.items.empty()) return false;
  out = std::move(impl.items.front());
  impl.items.pop_front();
  return true;
}

bool hasMainWork() {
  auto& impl = *mainImpl();
  std::lock_guard lock(impl.mutex);
  return !impl.items.empty();
}

const char* qosName(DispatchQoS qos) {
  switch (qos) {
    case DispatchQoS::background:
      return "background";
    case DispatchQoS::utility:
      return "utility";
    case DispatchQoS::default_:
      return "default";
    case DispatchQoS::userInitiated:
      return "user-initiated";
    case DispatchQoS::userInteractive:
      return "user-interactive";
    case DispatchQoS::unspecified:
      return "unspecified";
  }
  return "default";
}

void signalTurn(SyncContext& context) {
  std::lock_guard lock(context.mutex);
  context.turn = true;
  context.done.notify_all();
}

}  // namespace

namespace detail {

void notifyMainLoopWaiters() {
  if (gMainWaiters.load() == 0) return;
  auto& impl = *mainImpl();
  std::lock_guard lock(impl.mutex);
  impl.mainWake.notify_all();
}

void enqueueOn(const std::shared_ptr<DispatchQueue::Impl>& queue, Block block) {
  queue->enqueue(Item{std::move(block), false, nullptr});
}

}  // namespace detail

// ---------------------------------------------------------------------------
// DispatchTime and the clock

DispatchTime DispatchTime::now() { return DispatchTime(gManual.load() ? gManualNs.load() : realNowNs()); }

DispatchTime DispatchTime::distantFuture() { return DispatchTime(kDistantFuture); }

DispatchTime DispatchTime::fromUptimeNanoseconds(std::int64_t ns) { return DispatchTime(ns); }

DispatchTime operator+(DispatchTime t, double seconds) {
  if (!std::isfinite(seconds) || seconds * 1e9 >= 9.2e18) {
    return seconds < 0 ? DispatchTime(0) : DispatchTime::distantFuture();
  }
  return DispatchTime(saturatingAdd(t.ns_, std::llround(seconds * 1e9)));
}

DispatchTime operator+(DispatchTime t, std::chrono::nanoseconds d) {
  return DispatchTime(saturatingAdd(t.ns_, d.count()));
}

namespace clock {

void useManualClock() {
  if (!gManual.load()) {
    gManualNs.store(realNowNs());
    gManual.store(true);
  }
  Timers::shared().clockChanged();
}

void useRealClock() {
  gManual.store(false);
  Timers::shared().clockChanged();
}

bool isManual() { return gManual.load(); }

void advance(std::chrono::nanoseconds d) {
  if (!gManual.load()) {
    std::fprintf(stderr, "dispatch: clock::advance ignored: the real clock is in use\n");
    return;
  }
  if (d.count() > 0) {
    std::int64_t current = gManualNs.load();
    while (!gManualNs.compare_exchange_weak(current, saturatingAdd(current, d.count()))) {
    }
  }
  Timers::shared().fireDue();
}

void advance(double seconds) {
  if (!(seconds > 0)) return advance(std::chrono::nanoseconds(0));
  advance(std::chrono::nanoseconds(seconds * 1e9 >= 9.2e18 ? std::numeric_limits<std::int64_t>::max()
                                                           : std::llround(seconds * 1e9)));
}

}  // namespace clock

// ---------------------------------------------------------------------------
// Queue mechanics

void DispatchQueue::Impl::enqueue(Item item) {
  if (main) {
    std::lock_guard lock(mutex);
    items.push_back(std::move(item));
    mainWake.notify_all();
    return;
  }
  if (!concurrent) {
    bool submit = false;
    {
      std::lock_guard lock(mutex);
      items.push_back(std::move(item));
      submit = !scheduled;
      scheduled = true;
    }
    if (submit) ThreadPool::shared().submit(qos, [self = shared_from_this()] { self->drainSerial(); });
    return;
  }
  if (global) item.barrier = false;
  std::vector<Item> launch;
  {
    std::lock_guard lock(mutex);
    items.push_back(std::move(item));
    pumpConcurrentLocked(launch);
  }
  launchConcurrent(launch);
}

void DispatchQueue::Impl::runItem(Item& item) {
  ThreadContext saved;
  SyncContext* const sync = item.sync;
  if (sync) {
    saved = std::move(tls);
    tls.stack = sync->stack;
    tls.fromMainThread = sync->fromMainThread;
  }
  tls.stack.push_back(this);
  try {
    item.block();
  } catch (const std::exception& e) {
    fatal("uncaught exception in a block on queue '" + label + "': " + e.what());
  } catch (...) {
    fatal("uncaught exception in a block on queue '" + label + "'");
  }
  if (sync) {
    tls = std::move(saved);
  } else {
    tls.stack.pop_back();
  }
  item.block = nullptr;
  if (sync) {
    std::lock_guard lock(sync->mutex);
    sync->finished = true;
    sync->done.notify_all();
  }
}

void DispatchQueue::Impl::drainSerial() {
  // A bounded batch, then back to the end of the pool's line, so one busy
  // queue cannot hold a worker forever while others wait.
  constexpr int kBatch = 64;
  for (int n = 0; n < kBatch; ++n) {
    Item item;
    {
      std::lock_guard lock(mutex);
      if (items.empty()) {
        scheduled = false;
        return;
      }
      item = std::move(items.front());
      items.pop_front();
    }
    if (!item.block && item.sync) {
      // A sync caller's turn: the queue stays scheduled, now owned by that
      // caller until releaseAfterSync.
      signalTurn(*item.sync);
      return;
    }
    runItem(item);
  }
  {
    std::lock_guard lock(mutex);
    if (items.empty()) {
      scheduled = false;
      return;
    }
  }
  ThreadPool::shared().submit(qos, [self = shared_from_this()] { self->drainSerial(); });
}

void DispatchQueue::Impl::pumpConcurrentLocked(std::vector<Item>& launch) {
  while (!items.empty() && !barrierRunning) {
    if (items.front().barrier) {
      if (running > 0) break;
      barrierRunning = true;
      launch.push_back(std::move(items.front()));
      items.pop_front();
      break;
    }
    ++running;
    launch.push_back(std::move(items.front()));
    items.pop_front();
  }
}

void DispatchQueue::Impl::launchConcurrent(std::vector<Item>& launch) {
  for (auto& item : launch) {
    if (!item.block && item.sync) {
      signalTurn(*item.sync);  // counted as running; the caller finishes it
      continue;
    }
    ThreadPool::shared().submit(qos, [self = shared_from_this(), item = std::move(item)]() mutable {
      const bool barrier = item.barrier;
      self->runItem(item);
      self->finishConcurrent(barrier);
    });
  }
}

void DispatchQueue::Impl::finishConcurrent(bool barrier) {
  std::vector<Item> next;
  {
    std::lock_guard lock(mutex);
    if (barrier) {
      barrierRunning = false;
    } else {
      --running;
    }
    pumpConcurrentLocked(next);
  }
  launchConcurrent(next);
}

void DispatchQueue::Impl::acquireForSync(bool barrier) {
  SyncContext context;
  std::vector<Item> launch;
  {
    std::lock_guard lock(mutex);
    if (!concurrent) {
      if (!scheduled) {
        scheduled = true;
        return;
      }
      items.push_back(Item{nullptr, false, &context});
    } else {
      if (items.empty() && !barrierRunning && (!barrier || running == 0)) {
        if (barrier) {
          barrierRunning = true;
        } else {
          ++running;
        }
        return;
      }
      items.push_back(Item{nullptr, barrier, &context});
      pumpConcurrentLocked(launch);
    }
  }
  launchConcurrent(launch);
  std::unique_lock lock(context.mutex);
  context.done.wait(lock, [&] { return context.turn; });
}

void DispatchQueue::Impl::releaseAfterSync(bool barrier) {
  if (concurrent) {
    finishConcurrent(barrier);
    return;
  }
  {
    std::lock_guard lock(mutex);
    if (items.empty()) {
      scheduled = false;
      return;
    }
  }
  ThreadPool::shared().submit(qos, [self = shared_from_this()] { self->drainSerial(); });
}

// ---------------------------------------------------------------------------
// DispatchQueue

DispatchQueue::DispatchQueue(std::string label, DispatchQueueAttributes attributes)
    : impl_(std::make_shared<Impl>(std::move(label), attributes.qos, attributes.concurrent, false, false)) {}

DispatchQueue& DispatchQueue::main() {
  static auto* queue = new DispatchQueue(mainImpl());
  return *queue;
}

DispatchQueue DispatchQueue::global(DispatchQoS qos) {
  static auto* queues = [] {
    auto* all = new std::vector<DispatchQueue>();
    for (auto q : {DispatchQoS::background, DispatchQoS::utility, DispatchQoS::default_,
                   DispatchQoS::userInitiated, DispatchQoS::userInteractive, DispatchQoS::unspecified}) {
      all->push_back(DispatchQueue(
          std::make_shared<Impl>(std::string("global.") + qosName(q) + "-qos", q, true, false, true)));
    }
    return all;
  }();
  return (*queues)[static_cast<std::size_t>(qos)];
}

const std::string& DispatchQueue::label() const { return impl_->label; }
DispatchQoS DispatchQueue::qos() const { return impl_->qos; }
bool DispatchQueue::isConcurrent() const { return impl_->concurrent; }
bool DispatchQueue::isMain() const { return impl_->main; }

void DispatchQueue::async(Block block, DispatchWorkItemFlags flags) const {
  if (!block) return;
  impl_->enqueue(Item{std::move(block), flags == DispatchWorkItemFlags::barrier, nullptr});
}

void DispatchQueue::asyncAfter(DispatchTime deadline, Block block) const {
  if (!block) return;
  Timers::shared().add(deadline.uptimeNanoseconds(), impl_, std::move(block));
}

void DispatchQueue::sync(const Block& block, DispatchWorkItemFlags flags) const {
  if (!block) return;
  const bool barrier = flags == DispatchWorkItemFlags::barrier && !impl_->global;
  if ((!impl_->concurrent || barrier) && isCurrent(impl_.get())) {
    if (impl_->main) {
      fatal("sync onto the main queue '" + impl_->label +
            "' from the main thread (or from a sync chain it is waiting on) would deadlock");
    }
    fatal("sync onto queue '" + impl_->label + "' from a block already running on it would deadlock");
  }
  if (impl_->main) {
    SyncContext context;
    context.stack = tls.stack;
    context.fromMainThread = tls.fromMainThread || isMainThread();
    impl_->enqueue(Item{Block([&block] { block(); }), false, &context});
    std::unique_lock lock(context.mutex);
    context.done.wait(lock, [&] { return context.finished; });
    return;
  }
  impl_->acquireForSync(barrier);
  tls.stack.push_back(impl_.get());
  try {
    block();
  } catch (const std::exception& e) {
    fatal("uncaught exception in a block on queue '" + impl_->label + "': " + e.what());
  } catch (...) {
    fatal("uncaught exception in a block on queue '" + impl_->label + "'");
  }
  tls.stack.pop_back();
  impl_->releaseAfterSync(barrier);
}

std::optional<std::string> DispatchQueue::currentLabel() {
  if (tls.stack.empty()) return std::nullopt;
  return tls.stack.back()->label;
}

// ---------------------------------------------------------------------------
// MainLoop

namespace {
void requireMainThread(const char* what) {
  if (!isMainThread()) fatal(std::string(what) + " called off the main thread");
}

// Main thread only: the observer, and whether work ran since it was last called.
std::function<void()>& beforeWaitingObserver() {
  static auto* observer = new std::function<void()>();
  return *observer;
}
bool gRanSinceWaiting = false;

void runMainItem(Item& item) {
  mainImpl()->runItem(item);
  gRanSinceWaiting = true;
}

// True when the observer ran (it may have queued work: look again before waiting).
bool notifyBeforeWaiting() {
  if (!gRanSinceWaiting) return false;
  gRanSinceWaiting = false;
  if (auto& observer = beforeWaitingObserver(); observer) {
    auto keep = observer;  // the observer may replace itself
    keep();
    return true;
  }
  return false;
}
}  // namespace

namespace detail {
void setBeforeWaitingObserver(std::function<void()> observer) {
  requireMainThread("setBeforeWaitingObserver");
  beforeWaitingObserver() = std::move(observer);
}
}  // namespace detail

void MainLoop::run() {
  requireMainThread("MainLoop::run");
  // What the caller changed before running the loop is committed at its first wait.
  gRanSinceWaiting = true;
  auto& impl = *mainImpl();
  while (!gStopRequested.load()) {
    Timers::shared().fireDue();
    if (gRanSinceWaiting && !hasMainWork() && notifyBeforeWaiting()) continue;
    Item item;
    {
      std::unique_lock lock(impl.mutex);
      if (impl.items.empty()) {
        ++gMainWaiters;
        impl.mainWake.wait(lock, [&] { return !impl.items.empty() || gStopRequested.load(); });
        --gMainWaiters;
      }
      if (impl.items.empty()) continue;
      item = std::move(impl.items.front());
      impl.items.pop_front();
    }
    runMainItem(item);
  }
  // The request is consumed so a later run() is not cut short by it.
  gStopRequested.store(false);
}

void MainLoop::stop() {
  gStopRequested.store(true);
  auto& impl = *mainImpl();
  std::lock_guard lock(impl.mutex);
  impl.mainWake.notify_all();
}

bool MainLoop::runUntil(const std::function<bool()>& predicate, double timeoutSeconds) {
  requireMainThread("MainLoop::runUntil");
  gRanSinceWaiting = true;
  const auto deadline =
      std::chrono::steady_clock::now() +
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(
          std::isfinite(timeoutSeconds) ? std::clamp(timeoutSeconds, 0.0, 1e9) : 1e9));
  // Work on other queues wakes the wait (notifyMainLoopWaiters); the slice
  // only bounds how late a predicate fed by plain threads is noticed.
  constexpr auto kSlice = std::chrono::milliseconds(10);
  auto& impl = *mainImpl();
  for (;;) {
    if (predicate && predicate()) return true;
    Timers::shared().fireDue();
    if (gRanSinceWaiting && !hasMainWork() && notifyBeforeWaiting()) continue;
    Item item;
    {
      std::unique_lock lock(impl.mutex);
      if (impl.items.empty()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        ++gMainWaiters;
        impl.mainWake.wait_until(lock, std::min(deadline, now + kSlice));
        --gMainWaiters;
        continue;
      }
      item = std::move(impl.items.front());
      impl.items.pop_front();
    }
    runMainItem(item);
    if (std::chrono::steady_clock::now() >= deadline) break;
  }
  return predicate ? predicate() : false;
}

void MainLoop::drain() {
  requireMainThread("MainLoop::drain");
  gRanSinceWaiting = true;
  for (;;) {
    Timers::shared().fireDue();
    Item item;
    if (!popMain(item)) {
      if (notifyBeforeWaiting()) continue;
      return;
    }
    runMainItem(item);
  }
}

// ---------------------------------------------------------------------------
// DispatchGroup

struct DispatchGroup::Impl {
  std::mutex mutex;
  std::condition_variable zero;
  long count = 0;
  std::vector<std::pair<DispatchQueue, Block>> notifications;
};

DispatchGroup::DispatchGroup() : impl_(std::make_shared<Impl>()) {}

void DispatchGroup::enter() const {
  std::lock_guard lock(impl_->mutex);
  ++impl_->count;
}

void DispatchGroup::leave() const {
  std::vector<std::pair<DispatchQueue, Block>> ready;
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->count == 0) fatal("DispatchGroup::leave without a matching enter");
    if (--impl_->count > 0) return;
    ready.swap(impl_->notifications);
    impl_->zero.notify_all();
  }
  for (auto& [queue, block] : ready) queue.async(std::move(block));
}

bool DispatchGroup::wait(std::optional<double> timeoutSeconds) const {
  std::unique_lock lock(impl_->mutex);
  auto done = [&] { return impl_->count == 0; };
  if (!timeoutSeconds) {
    impl_->zero.wait(lock, done);
    return true;
  }
  return impl_->zero.wait_for(lock, std::chrono::duration<double>(std::max(0.0, *timeoutSeconds)), done);
}

void DispatchGroup::notify(const DispatchQueue& queue, Block block) const {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->count > 0) {
      impl_->notifications.emplace_back(queue, std::move(block));
      return;
    }
  }
  queue.async(std::move(block));
}

void DispatchGroup::async(const DispatchQueue& queue, Block block) const {
  enter();
  queue.async([group = *this, block = std::move(block)] {
    if (block) block();
    group.leave();
  });
}

// ---------------------------------------------------------------------------
// DispatchSemaphore

struct DispatchSemaphore::Impl {
  std::mutex mutex;
  std::condition_variable available;
  long value = 0;
};

DispatchSemaphore::DispatchSemaphore(long value) : impl_(std::make_shared<Impl>()) { impl_->value = value; }

void DispatchSemaphore::signal() const {
  std::lock_guard lock(impl_->mutex);
  ++impl_->value;
  impl_->available.notify_one();
}

bool DispatchSemaphore::wait(std::optional<double> timeoutSeconds) const {
  std::unique_lock lock(impl_->mutex);
  auto ready = [&] { return impl_->value > 0; };
  if (!timeoutSeconds) {
    impl_->available.wait(lock, ready);
  } else if (!impl_->available.wait_for(lock, std::chrono::duration<double>(std::max(0.0, *timeoutSeconds)),
                                        ready)) {
    return false;
  }
  --impl_->value;
  return true;
}

// ---------------------------------------------------------------------------

bool isMainThread() {
  // Not cached: a forked child (death tests) has a new pid and a new tid.
  return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid();
}

void assertMainThread(const char* what) {
  if (!isMainThread())
    fatal(std::string(what ? what : "a main-thread-only call") + " called off the main thread");
}

}  // namespace dispatch
