// Groups layer changes. Transactions nest per thread; the outermost commit
// schedules the completion block, if any, on the main queue once the
// transaction's animation duration has passed on the dispatch clock (so a
// test with the manual clock advances time instead of sleeping).
//
// Calls made outside begin()/commit() act on an implicit transaction that is
// committed on the main queue's next turn, as the platform's run loop does.
// Layers are main-thread objects; other threads may still use transactions,
// each thread having its own stack.
#pragma once

#include <functional>

namespace quartz {

class CATransaction {
 public:
  static void begin();
  // Ends the innermost transaction. An unmatched commit is ignored.
  static void commit();
  // Commits every explicit transaction still open on this thread.
  static void flush();

  // Defaults: 0.25 s, actions enabled. Nested transactions inherit the
  // values of the enclosing one when they begin.
  static double animationDuration();
  static void setAnimationDuration(double seconds);
  static bool disableActions();
  static void setDisableActions(bool disable);
  // Runs on the main queue after the outermost transaction commits and its
  // animation duration passes. Setting it again replaces the earlier block
  // of the same transaction.
  static std::function<void()> completionBlock();
  static void setCompletionBlock(std::function<void()> block);

  // Depth of open explicit transactions on the calling thread.
  static int depth();
};

}  // namespace quartz
