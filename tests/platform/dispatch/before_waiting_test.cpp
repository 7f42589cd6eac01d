// The main loop's before-waiting point, where a desktop window redraws: once
// after each burst of main-queue work, never while the loop sleeps.
#include <gtest/gtest.h>
#include <morvik/platform/dispatch.h>

#include "dispatch/MainLoopObserver.h"

namespace {

TEST(MainLoopBeforeWaiting, OncePerBurstOfWorkAndNeverWhileIdle) {
  dispatch::MainLoop::drain();
  int calls = 0, ran = 0;
  dispatch::detail::setBeforeWaitingObserver([&] { ++calls; });

  for (int i = 0; i < 3; ++i) dispatch::DispatchQueue::main().async([&] { ++ran; });
  dispatch::MainLoop::drain();
  EXPECT_EQ(ran, 3);
  EXPECT_EQ(calls, 1) << "one look after the burst, not one per block";

  // Idle: one look for what the caller changed before running the loop, then none.
  calls = 0;
  dispatch::MainLoop::runUntil([] { return false; }, 0.1);
  EXPECT_EQ(calls, 1);

  // A block that arrives while the loop sleeps is followed by a look; work the
  // look queues runs before the loop sleeps again, and is looked at in turn.
  calls = 0;
  bool queuedByLook = false;
  dispatch::detail::setBeforeWaitingObserver([&] {
    if (++calls == 2) dispatch::DispatchQueue::main().async([&] { queuedByLook = true; });
  });
  dispatch::DispatchQueue::main().asyncAfter(dispatch::DispatchTime::now() + 0.02, [&] { ++ran; });
  dispatch::MainLoop::runUntil([] { return false; }, 0.1);
  EXPECT_EQ(ran, 4);
  EXPECT_TRUE(queuedByLook);
  EXPECT_EQ(calls, 3);

  dispatch::detail::setBeforeWaitingObserver(nullptr);
}

}  // namespace
