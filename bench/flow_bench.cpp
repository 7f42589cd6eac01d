// A whole scripted document verification through the SDK entry, from the
// start call to the delivered result, on step-paced virtual cameras with the
// manual dispatch clock (hint delays and transitions cost no waiting) against
// the loopback HTTPS server; reported per stage. Also the time from
// startDocumentScan to the step list's first layout.
//
// Each camera frame is analysed as it arrives, so a capture's time is the
// analysis and photo work of the frames it needs, not camera pacing.
#include <benchmark/benchmark.h>
#include <morvik/MorvikVerify.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>

#include <chrono>
#include <map>
#include <string>

#include "api/models/FullVerdictReply.h"
#include "fixtures/server/LoopbackServer.h"
#include "flow/reliability/FlowDriver.h"

namespace {

using Clock = std::chrono::steady_clock;
using fixtures::LoopbackServer;
using fixtures::ScriptedReply;
using flowdriver::FlowDriver;

struct Harness {
  LoopbackServer server{LoopbackServer::Scheme::https};
  std::unique_ptr<FlowDriver> driver;
  Harness() {
    dispatch::clock::useManualClock();
    server.setRecordBodies(false);
    server.setDefaultReply(ScriptedReply::json(200, std::string(morvik::samples::kFullVerdictReply)));
    driver = std::make_unique<FlowDriver>(server);
  }
  ~Harness() {
    driver.reset();
    avf::VirtualCamera::unregisterAll();
    dispatch::clock::useRealClock();
  }
};

void BM_DocumentVerification(benchmark::State& state) {
  Harness h;
  flowdriver::Scenes::renderAll();  // scenes rendered before timing
  std::map<std::string, double> totals;
  for (auto _ : state) {
    const auto start = Clock::now();
    const auto before = h.driver->outcomes().size();
    if (!h.driver->startDocumentScan() || !h.driver->captureAllSteps() ||
        !h.driver->submitAndWaitForResult() || !h.driver->tapDone() || !h.driver->awaitOutcomes(before + 1)) {
      state.SkipWithError(h.driver->failure().c_str());
      break;
    }
    totals["total_s"] += std::chrono::duration<double>(Clock::now() - start).count();
    for (const auto& stage : h.driver->stages) totals[stage.name] += stage.seconds;
    h.driver->footprint().objects.clear();
  }
  for (const auto& [name, seconds] : totals) {
    std::string key = name;
    for (auto& c : key)
      if (c == ' ') c = '_';
    state.counters[key] = benchmark::Counter(seconds, benchmark::Counter::kAvgIterations);
  }
}
BENCHMARK(BM_DocumentVerification)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

// From the start call to the step list laid out in the window (its Start
// button has a frame), then Close. Between main-queue turns the window is laid
// out as the display's next frame would.
std::shared_ptr<uikit::UIButton> laidOutButton(const std::shared_ptr<uikit::UIView>& view,
                                               const std::string& title) {
  if (auto button = std::dynamic_pointer_cast<uikit::UIButton>(view);
      button && button->title(uikit::UIControlState::normal) == title && button->frame().size.width > 0)
    return button;
  for (const auto& sub : view->subviews())
    if (auto found = laidOutButton(sub, title)) return found;
  return nullptr;
}

void BM_StartToStepListLayout(benchmark::State& state) {
  Harness h;
  for (auto _ : state) {
    const auto start = Clock::now();
    morvik::MorvikVerify::startDocumentScan("bench@example.com",
                                            [](const morvik::MorvikVerificationResult&) {});
    std::shared_ptr<uikit::UIButton> startButton;
    for (int turn = 0; !startButton; ++turn) {
      if (turn == 1000) {
        state.SkipWithError("the step list was never laid out");
        return;
      }
      dispatch::MainLoop::drain();
      h.driver->window()->layoutIfNeeded();
      auto flow = h.driver->flow();
      if (flow && !flow->viewControllers().empty() && flow->viewControllers().front()->isViewLoaded())
        startButton = laidOutButton(flow->viewControllers().front()->view(), "Start");
      if (!startButton) dispatch::clock::advance(0.016);
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    FlowDriver::settle();
    h.driver->flow()->viewControllers().front()->navigationItem().leftBarButtonItem->sendAction();
    FlowDriver::settle();
  }
}
BENCHMARK(BM_StartToStepListLayout)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(50);

}  // namespace

BENCHMARK_MAIN();
