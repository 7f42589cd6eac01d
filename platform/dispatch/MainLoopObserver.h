// Internal: the point where the main loop has run work and is about to wait,
// where the platform's display commits what the work changed. A desktop
// window (the rendering plugins) redraws there, so it draws once per burst of
// main-queue work and never while the loop sleeps. Main thread only.
#pragma once

#include <functional>

namespace dispatch::detail {

// Called on the main thread when run(), runUntil() or drain() finds the main
// queue empty after it started or ran at least one block since the last call.
// One observer at a time; null removes it.
void setBeforeWaitingObserver(std::function<void()> observer);

}  // namespace dispatch::detail
