// A window on the desktop (needs a display: run under xvfb-run, e.g.
// `xvfb-run -a -s "-screen 0 1024x1800x24" build/release/bin/window_bench`).
//
// Goals: an idle window wakes nothing (no wake-ups beyond the display's, no
// CPU), and a hint label changing is a partial redraw (only its region is
// drawn and sent to the display).
#include <benchmark/benchmark.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>
#include <morvik/platform/uikit/UIWindowDesktop.h>
#include <time.h>

#include <memory>

namespace {

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A capture-like screen at 390 x 844 points, scale 2: a dark background, a
// title, an outlined frame, a hint label on a rounded dark pill, a button.
struct Screen {
  std::shared_ptr<uikit::UIWindow> window;
  std::shared_ptr<uikit::UILabel> hint;
  bool shown = false;

  Screen() {
    window = std::make_shared<uikit::UIWindow>(uikit::CGRect{{0, 0}, {390, 844}});
    window->setBackgroundColor(uikit::UIColor::black());
    auto title = std::make_shared<uikit::UILabel>(uikit::CGRect{{16, 60}, {358, 30}});
    title->setText("Front of your ID");
    title->setTextColor(uikit::UIColor::white());
    title->setFont(uikit::UIFont::systemFont(22, uikit::UIFont::Weight::semibold));
    window->addSubview(title);
    auto frame = std::make_shared<uikit::UIView>(uikit::CGRect{{24, 250}, {342, 216}});
    frame->layer()->setBorderWidth(3);
    frame->layer()->setBorderColor(uikit::UIColor::white().cgColor());
    frame->layer()->setCornerRadius(12);
    window->addSubview(frame);
    hint = std::make_shared<uikit::UILabel>(uikit::CGRect{{60, 520}, {270, 36}});
    hint->setText("Move closer");
    hint->setTextAlignment(uikit::NSTextAlignment::center);
    hint->setTextColor(uikit::UIColor::white());
    hint->setBackgroundColor(uikit::UIColor(0, 0, 0, 0.6));
    hint->layer()->setCornerRadius(18);
    hint->layer()->setMasksToBounds(true);
    window->addSubview(hint);
    auto button = std::make_shared<uikit::UIButton>(uikit::UIButton::ButtonType::system);
    button->setFrame({{100, 740}, {190, 50}});
    button->setTitle("Cancel", uikit::UIControlState::normal);
    window->addSubview(button);
    window->setHidden(false);
    shown = uikit::showOnDesktop(window, {2, "window_bench"});
    dispatch::MainLoop::runUntil([] { return false; }, 0.5);  // mapped, exposed and drawn
  }
};

Screen& screen() {
  static auto* s = new Screen();
  return *s;
}

// Seconds of an idle window: the main loop runs (blocked), nothing changes.
void BM_IdleWindow(benchmark::State& state) {
  auto& s = screen();
  if (!s.shown) return state.SkipWithError("no display to show a window on");
  const double seconds = static_cast<double>(state.range(0));
  const auto before = uikit::desktopWindowActivity(*s.window);
  const double cpuBefore = cpuSeconds();
  for (auto _ : state) {
    dispatch::DispatchQueue::main().asyncAfter(dispatch::DispatchTime::now() + seconds,
                                               [] { dispatch::MainLoop::stop(); });
    dispatch::MainLoop::run();
  }
  const auto after = uikit::desktopWindowActivity(*s.window);
  state.counters["cpu_ms"] = (cpuSeconds() - cpuBefore) * 1e3;
  state.counters["wake_ups"] = static_cast<double>(after.wakeUps - before.wakeUps);
  state.counters["looks"] = static_cast<double>(after.looks - before.looks);
  state.counters["redraws"] = static_cast<double>(after.redraws - before.redraws);
}
BENCHMARK(BM_IdleWindow)->Arg(5)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// A hint label changing its text, as the capture screen's hint does: looked
// at, the label's region redrawn and sent to the display.
void BM_HintLabelChange(benchmark::State& state) {
  auto& s = screen();
  if (!s.shown) return state.SkipWithError("no display to show a window on");
  const char* texts[] = {"Move closer", "Hold still"};
  int i = 0;
  const auto before = uikit::desktopWindowActivity(*s.window);
  for (auto _ : state) {
    dispatch::DispatchQueue::main().async([&] { s.hint->setText(texts[++i % 2]); });
    dispatch::MainLoop::drain();
  }
  const auto after = uikit::desktopWindowActivity(*s.window);
  const double redraws = static_cast<double>(after.redraws - before.redraws);
  state.counters["redraws_per_change"] = redraws / static_cast<double>(state.iterations());
  state.counters["pixels_per_redraw"] =
      redraws > 0 ? static_cast<double>(after.pixelsRedrawn - before.pixelsRedrawn) / redraws : 0;
  state.counters["window_pixels"] = 780.0 * 1688.0;
  state.counters["looks"] = static_cast<double>(after.looks - before.looks);
}
BENCHMARK(BM_HintLabelChange)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
