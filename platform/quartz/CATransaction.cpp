#include <morvik/platform/dispatch/Dispatch.h>
#include <morvik/platform/quartz/CATransaction.h>

#include <utility>
#include <vector>

namespace quartz {

namespace {

struct Frame {
  double duration = 0.25;
  bool disableActions = false;
  std::function<void()> completion;
  bool implicit = false;
};

struct Pending {
  double delay;
  std::function<void()> block;
};

// Per thread, so a queue other than the main one cannot race the main thread.
struct ThreadState {
  std::vector<Frame> stack;
  std::vector<Pending> pending;  // completions of committed inner transactions
};

thread_local ThreadState state;

void schedule(std::vector<Pending> blocks) {
  const dispatch::DispatchTime now = dispatch::DispatchTime::now();
  for (Pending& p : blocks) {
    if (!p.block) continue;
    dispatch::DispatchQueue::main().asyncAfter(now + p.delay, std::move(p.block));
  }
}

void commitTop() {
  Frame top = std::move(state.stack.back());
  state.stack.pop_back();
  if (top.completion) state.pending.push_back({top.duration, std::move(top.completion)});
  if (state.stack.empty()) schedule(std::exchange(state.pending, {}));
}

// The frame that setters act on: the innermost open one, or a new implicit
// transaction committed on the main queue's next turn (off the main thread:
// committed at once after the setter, so nothing lingers on a worker's stack).
Frame& writableTop(bool* commitNow) {
  *commitNow = false;
  if (!state.stack.empty()) return state.stack.back();
  Frame f;
  f.implicit = true;
  state.stack.push_back(std::move(f));
  if (dispatch::isMainThread()) {
    dispatch::DispatchQueue::main().async([] {
      if (!state.stack.empty() && state.stack.front().implicit) {
        while (state.stack.size() > 1) commitTop();
        commitTop();
      }
    });
  } else {
    *commitNow = true;
  }
  return state.stack.back();
}

int explicitDepth() {
  int n = 0;
  for (const Frame& f : state.stack) n += f.implicit ? 0 : 1;
  return n;
}

}  // namespace

void CATransaction::begin() {
  Frame f;
  if (!state.stack.empty()) {
    f.duration = state.stack.back().duration;
    f.disableActions = state.stack.back().disableActions;
  }
  state.stack.push_back(std::move(f));
}

void CATransaction::commit() {
  if (explicitDepth() == 0) return;
  commitTop();
}

void CATransaction::flush() {
  while (explicitDepth() > 0) commitTop();
}

double CATransaction::animationDuration() { return state.stack.empty() ? 0.25 : state.stack.back().duration; }

void CATransaction::setAnimationDuration(double seconds) {
  bool now = false;
  writableTop(&now).duration = seconds > 0 ? seconds : 0;
  if (now) commitTop();
}

bool CATransaction::disableActions() { return !state.stack.empty() && state.stack.back().disableActions; }

void CATransaction::setDisableActions(bool disable) {
  bool now = false;
  writableTop(&now).disableActions = disable;
  if (now) commitTop();
}

std::function<void()> CATransaction::completionBlock() {
  return state.stack.empty() ? std::function<void()>() : state.stack.back().completion;
}

void CATransaction::setCompletionBlock(std::function<void()> block) {
  bool now = false;
  writableTop(&now).completion = std::move(block);
  if (now) commitTop();
}

int CATransaction::depth() { return explicitDepth(); }

}  // namespace quartz
