// dispatch: queues, the main loop and timers, in place of the phone platform's
// Dispatch library.
//
// Contract summary
// - A DispatchQueue is a cheap, copyable handle; copies name the same queue.
// - Serial queues run one block at a time in FIFO order. Concurrent queues run
//   blocks side by side; a block submitted with the barrier flag waits for the
//   blocks before it, runs alone, then lets the ones after it go.
// - The main queue is serial and runs only on the main thread (the process's
//   initial thread) while that thread pumps MainLoop (run, runUntil, drain).
// - sync() onto the serial queue the caller is already running on (including
//   the main queue from the main thread when the main loop would have to run
//   it) is a caller bug: it prints a message naming the queue to stderr and
//   aborts the process instead of deadlocking silently.
// - Deadlines (asyncAfter) are read from the dispatch clock: monotonic real
//   time by default; tests may switch it to a manual clock and advance it by
//   hand, so nothing sleeps for an animation or a delay.
// - Blocks must not throw; an exception escaping a block terminates the
//   process with a message naming the queue.
// - Dropping the last handle of a queue never loses work: blocks already
//   submitted (and timers aimed at it) still run, in order; the queue's state
//   goes with the last of them.
// - sync() on a queue other than the main one runs the block on the calling
//   thread once the queue's turn comes (as the platform does); sync() onto
//   the main queue runs the block on the main thread.
// - Global queues ignore the barrier flag (as the platform's do).
// - Workers come from one elastic pool: about one per core at once, more
//   when every worker is blocked (a semaphore wait, a sync onto the main
//   queue), idle ones exit. An idle serial queue holds no thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace dispatch {

using Block = std::function<void()>;

// Quality of service: recorded on queues and passed to the thread pool as a
// scheduling hint; it never changes ordering guarantees.
enum class DispatchQoS { background, utility, default_, userInitiated, userInteractive, unspecified };

enum class DispatchWorkItemFlags { none, barrier };

// A point on the dispatch clock (nanoseconds since an arbitrary origin).
class DispatchTime {
 public:
  DispatchTime() = default;
  static DispatchTime now();
  static DispatchTime distantFuture();
  static DispatchTime fromUptimeNanoseconds(std::int64_t ns);
  std::int64_t uptimeNanoseconds() const { return ns_; }
  friend DispatchTime operator+(DispatchTime t, double seconds);
  friend DispatchTime operator+(DispatchTime t, std::chrono::nanoseconds d);
  friend auto operator<=>(const DispatchTime&, const DispatchTime&) = default;

 private:
  explicit DispatchTime(std::int64_t ns) : ns_(ns) {}
  std::int64_t ns_ = 0;
};

// The clock behind DispatchTime::now() and every asyncAfter deadline.
namespace clock {
// Switches to a manual clock that starts at the current reading and moves
// only through advance(). Timers already scheduled keep their deadlines.
void useManualClock();
// Back to monotonic real time (continuing from the manual reading is not
// attempted: real time resumes).
void useRealClock();
bool isManual();
// Manual clock only: moves time forward and releases every timer whose
// deadline has passed, in deadline order (ties in submission order). Timers
// aimed at the main queue run on the next MainLoop turn; others are submitted
// to their queues at once.
void advance(double seconds);
void advance(std::chrono::nanoseconds d);
}  // namespace clock

struct DispatchQueueAttributes {
  bool concurrent = false;
  DispatchQoS qos = DispatchQoS::default_;
};

class DispatchQueue {
 public:
  // A new serial queue (or concurrent, per the attributes) with a label.
  explicit DispatchQueue(std::string label, DispatchQueueAttributes attributes = {});

  static DispatchQueue& main();
  // The shared concurrent queue for a quality of service.
  static DispatchQueue global(DispatchQoS qos = DispatchQoS::default_);

  const std::string& label() const;
  DispatchQoS qos() const;
  bool isConcurrent() const;
  bool isMain() const;

  void async(Block block, DispatchWorkItemFlags flags = DispatchWorkItemFlags::none) const;
  // A deadline already passed releases the block at once (also with the
  // manual clock); distantFuture never does.
  void asyncAfter(DispatchTime deadline, Block block) const;

  // Runs the block on this queue and waits for it. On a concurrent queue
  // without the barrier flag it may run beside other blocks.
  void sync(const Block& block, DispatchWorkItemFlags flags = DispatchWorkItemFlags::none) const;

  template <class F>
    requires(!std::is_void_v<std::invoke_result_t<F&>>)
  auto sync(F&& f, DispatchWorkItemFlags flags = DispatchWorkItemFlags::none) const
      -> std::invoke_result_t<F&> {
    std::optional<std::invoke_result_t<F&>> result;
    sync(Block([&] { result.emplace(f()); }), flags);
    return std::move(*result);
  }

  // The label of the queue whose block the calling thread is running, if any.
  static std::optional<std::string> currentLabel();

  friend bool operator==(const DispatchQueue& a, const DispatchQueue& b) { return a.impl_ == b.impl_; }

  struct Impl;

 private:
  explicit DispatchQueue(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<Impl> impl_;
};

// Counts work in flight; notify runs a block on a queue when the count is 0.
class DispatchGroup {
 public:
  DispatchGroup();
  void enter() const;
  void leave() const;
  // Waits until the count reaches zero; false when the timeout (seconds of
  // real time) passed first.
  bool wait(std::optional<double> timeoutSeconds = std::nullopt) const;
  void notify(const DispatchQueue& queue, Block block) const;
  void async(const DispatchQueue& queue, Block block) const;

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

class DispatchSemaphore {
 public:
  explicit DispatchSemaphore(long value = 0);
  void signal() const;
  // False when the timeout (seconds of real time) passed first.
  bool wait(std::optional<double> timeoutSeconds = std::nullopt) const;

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

// The main thread's loop. Only the main thread may call these.
class MainLoop {
 public:
  // Runs main-queue blocks and due main-queue timers until stop() is called.
  static void run();
  // Asks run() to return after the block it is running; callable from any
  // thread. A stop() before run() makes the next run() return at once; each
  // run() consumes the request.
  static void stop();
  // Pumps the main queue until the predicate (checked on the main thread
  // between blocks) holds or the timeout in seconds of real time passes.
  // Returns the predicate's last answer.
  static bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds);
  // Runs every main-queue block that is ready now, and those they queue in
  // turn, until none is ready. Timers that are not yet due are left alone.
  static void drain();
};

// True on the process's initial thread.
bool isMainThread();

// Fails loudly (message to stderr, abort) when not on the main thread. UI
// mutators call this in debug builds.
void assertMainThread(const char* what);

}  // namespace dispatch
