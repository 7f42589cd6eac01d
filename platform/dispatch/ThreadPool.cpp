#include "dispatch/ThreadPool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

namespace dispatch::detail {

namespace {
std::size_t priorityIndex(DispatchQoS qos) {
  switch (qos) {
    case DispatchQoS::userInteractive:
      return 0;
    case DispatchQoS::userInitiated:
      return 1;
    case DispatchQoS::default_:
    case DispatchQoS::unspecified:
      return 2;
    case DispatchQoS::utility:
      return 3;
    case DispatchQoS::background:
      return 4;
  }
  return 2;
}
}  // namespace

void fatal(const std::string& message) {
  std::fprintf(stderr, "dispatch: %s\n", message.c_str());
  std::fflush(stderr);
  std::abort();
}

ThreadPool& ThreadPool::shared() {
  static ThreadPool* pool = [] {
    auto* p = new ThreadPool();
    p->eagerThreads_ = std::max(4, static_cast<int>(std::thread::hardware_concurrency()));
    return p;
  }();
  return *pool;
}

void ThreadPool::submit(DispatchQoS qos, std::function<void()> job) {
  std::lock_guard lock(mutex_);
  jobs_[priorityIndex(qos)].push_back(std::move(job));
  ++pending_;
  if (pending_ > static_cast<std::size_t>(idle_) && threads_ < eagerThreads_) spawnLocked();
  if (!monitorStarted_) {
    monitorStarted_ = true;
    std::thread([this] { monitorLoop(); }).detach();
  }
  wake_.notify_one();
  if (pending_ == 1) monitorWake_.notify_one();
}

int ThreadPool::threadCount() {
  std::lock_guard lock(mutex_);
  return threads_;
}

void ThreadPool::spawnLocked() {
  ++threads_;
  try {
    std::thread([this] { workerLoop(); }).detach();
  } catch (const std::system_error& e) {
    --threads_;
    // With at least one worker the job still runs, only later.
    if (threads_ == 0) fatal(std::string("cannot start a worker thread: ") + e.what());
  }
}

void ThreadPool::monitorLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    monitorWake_.wait(lock, [this] { return pending_ > 0; });
    const auto before = taken_;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStallMillis);
    while (std::chrono::steady_clock::now() < until) monitorWake_.wait_until(lock, until);
    if (pending_ > static_cast<std::size_t>(idle_) && taken_ == before && threads_ < kMaxThreads) {
      spawnLocked();
      wake_.notify_one();
    }
  }
}

void ThreadPool::workerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    while (pending_ == 0) {
      ++idle_;
      const auto status = wake_.wait_for(lock, std::chrono::seconds(kIdleSeconds));
      --idle_;
      if (status == std::cv_status::timeout && pending_ == 0) {
        --threads_;
        return;
      }
    }
    std::function<void()> job;
    for (auto& level : jobs_) {
      if (!level.empty()) {
        job = std::move(level.front());
        level.pop_front();
        break;
      }
    }
    --pending_;
    ++taken_;
    lock.unlock();
    job();
    job = nullptr;  // release captures before signalling
    notifyMainLoopWaiters();
    lock.lock();
  }
}

}  // namespace dispatch::detail
