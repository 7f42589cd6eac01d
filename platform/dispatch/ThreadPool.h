// Internal: the elastic worker pool behind every queue except the main one.
#pragma once

#include <morvik/platform/dispatch/Dispatch.h>

#include <array>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace dispatch::detail {

// Jobs run on detached worker threads. Up to one worker per core (at least
// four) starts as soon as a job waits with no idle worker. Beyond that a
// monitor adds one worker whenever jobs wait and none was taken for
// kStallMillis: blocks may block (a semaphore wait, a sync onto the main
// queue) and must not starve other queues, while a burst of short blocks
// must not start hundreds of threads. At most kMaxThreads. Workers idle for
// kIdleSeconds exit. Jobs of a higher quality of service are taken first;
// within one level they start in submission order.
class ThreadPool {
 public:
  static constexpr int kMaxThreads = 512;
  static constexpr int kIdleSeconds = 5;
  static constexpr int kStallMillis = 15;

  // Never destroyed: workers may still be finishing when static destructors run.
  static ThreadPool& shared();

  void submit(DispatchQoS qos, std::function<void()> job);

  // Observability for tests and benchmarks.
  int threadCount();

 private:
  ThreadPool() = default;
  void workerLoop();
  void spawnLocked();
  void monitorLoop();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::array<std::deque<std::function<void()>>, 5> jobs_;
  std::size_t pending_ = 0;
  int threads_ = 0;
  int idle_ = 0;
  int eagerThreads_ = 4;
  unsigned long long taken_ = 0;
  bool monitorStarted_ = false;
  std::condition_variable monitorWake_;
};

// Called after every pool job so a main loop waiting in runUntil can
// re-check its predicate without polling quickly.
void notifyMainLoopWaiters();

[[noreturn]] void fatal(const std::string& message);

}  // namespace dispatch::detail
