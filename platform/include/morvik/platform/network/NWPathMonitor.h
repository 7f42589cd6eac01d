// Network path monitoring, in place of the phone platform's Network framework.
//
// The path is read from the kernel: it is satisfied when a non-loopback
// interface is up and running and has a usable route; otherwise it is
// unsatisfied. Changes are noticed through an rtnetlink socket (links,
// addresses, routes) watched by one shared background thread.
#pragma once

#include <morvik/platform/dispatch/Dispatch.h>

#include <functional>
#include <memory>
#include <optional>

namespace network {

struct NWPath {
  enum class Status { satisfied, unsatisfied, requiresConnection };
  Status status = Status::unsatisfied;

  friend bool operator==(const NWPath&, const NWPath&) = default;
};

const char* description(NWPath::Status status);

// Watches the device's network path and reports it to a handler.
// - start(queue) delivers the current path once, then every change of it, on
//   that queue, in order. A second start, or a start after cancel, does nothing.
// - cancel() stops delivery: updates already queued but not yet run are
//   dropped (one that is running may finish). A cancelled monitor stays
//   cancelled. Destroying the monitor cancels it.
// - Every member may be called from any thread.
class NWPathMonitor {
 public:
  using PathUpdateHandler = std::function<void(const NWPath&)>;

  NWPathMonitor();
  ~NWPathMonitor();
  NWPathMonitor(const NWPathMonitor&) = delete;
  NWPathMonitor& operator=(const NWPathMonitor&) = delete;

  // Set it before start(); a handler set later is used from the next update.
  void setPathUpdateHandler(PathUpdateHandler handler);
  PathUpdateHandler pathUpdateHandler() const;

  void start(const dispatch::DispatchQueue& queue);
  void cancel();

  // The path as last computed (read now when the monitor never started).
  NWPath currentPath() const;
  std::optional<dispatch::DispatchQueue> queue() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace network
