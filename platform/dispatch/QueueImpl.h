// Internal: the state behind a DispatchQueue handle.
#pragma once

#include <morvik/platform/dispatch/Dispatch.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace dispatch {

namespace detail {
// A thread waiting in sync(). On the main queue its block runs on the main
// thread, which takes over the caller's queue stack so a sync chain that
// comes back to one of its queues is still reported. On other queues the
// caller waits for its turn (`turn`) and runs the block itself, as the
// platform does.
struct SyncContext {
  std::vector<const DispatchQueue::Impl*> stack;
  bool fromMainThread = false;
  std::mutex mutex;
  std::condition_variable done;
  bool turn = false;
  bool finished = false;
};

// A queued block; an item with a SyncContext and no block is a sync caller's
// place in line.
struct Item {
  Block block;
  bool barrier = false;
  SyncContext* sync = nullptr;  // owned by the waiting caller
};
}  // namespace detail

struct DispatchQueue::Impl : std::enable_shared_from_this<DispatchQueue::Impl> {
  Impl(std::string l, DispatchQoS q, bool c, bool m, bool g)
      : label(std::move(l)), qos(q), concurrent(c), main(m), global(g) {}

  const std::string label;
  const DispatchQoS qos;
  const bool concurrent;
  const bool main;
  const bool global;  // global queues ignore the barrier flag, as the platform's do

  std::mutex mutex;
  std::deque<detail::Item> items;
  // Serial queues: a drain job is queued on the pool or running.
  bool scheduled = false;
  // Concurrent queues.
  int running = 0;
  bool barrierRunning = false;
  // Main queue only: the main loop waits here.
  std::condition_variable mainWake;

  void enqueue(detail::Item item);
  void runItem(detail::Item& item);
  // sync() on a queue other than the main one: wait for the caller's turn,
  // then give the queue back after the caller ran its block.
  void acquireForSync(bool barrier);
  void releaseAfterSync(bool barrier);

 private:
  void drainSerial();
  void pumpConcurrentLocked(std::vector<detail::Item>& launch);
  void launchConcurrent(std::vector<detail::Item>& launch);
  void finishConcurrent(bool barrier);
};

namespace detail {
// Hands a due timer's block to its queue; used by the timer facility.
void enqueueOn(const std::shared_ptr<DispatchQueue::Impl>& queue, Block block);
}  // namespace detail

}  // namespace dispatch
