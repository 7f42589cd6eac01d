// Progress: a unit count of work done, readable from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace foundation {

// Thread-safe: counts are atomics, so one queue may update while another reads.
class Progress : public std::enable_shared_from_this<Progress> {
 public:
  explicit Progress(std::int64_t totalUnitCount = -1) : total_(totalUnitCount) {}

  std::int64_t totalUnitCount() const { return total_.load(); }
  void setTotalUnitCount(std::int64_t n) { total_.store(n); }
  std::int64_t completedUnitCount() const { return completed_.load(); }
  void setCompletedUnitCount(std::int64_t n) { completed_.store(n); }

  // completed / total; 0 while the total is not positive (indeterminate).
  // Not clamped: more completed units than the total read above 1.
  double fractionCompleted() const {
    const auto total = total_.load();
    return total > 0 ? static_cast<double>(completed_.load()) / static_cast<double>(total) : 0.0;
  }
  bool isIndeterminate() const { return total_.load() < 0 || completed_.load() < 0; }
  bool isFinished() const {
    const auto total = total_.load();
    return total > 0 && completed_.load() >= total;
  }

 private:
  std::atomic<std::int64_t> total_;
  std::atomic<std::int64_t> completed_{0};
};

}  // namespace foundation
