// Shared set-up for the uikit tests: the manual dispatch clock and helpers to
// let transitions and animations finish without sleeping.
#pragma once

#include <gtest/gtest.h>

#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>

namespace uikit::testing {

class UIKitTest : public ::testing::Test {
 protected:
  void SetUp() override { dispatch::clock::useManualClock(); }
  void TearDown() override {
    settle();
    for (auto& scene : std::vector(UIApplication::shared().connectedScenes())) {
      UIApplication::shared().disconnect(scene);
    }
    dispatch::MainLoop::drain();
    dispatch::clock::useRealClock();
  }
  // Runs what is ready on the main queue.
  static void drain() { dispatch::MainLoop::drain(); }
  // Lets every transition and animation of up to `seconds` finish.
  static void settle(double seconds = 2.0) {
    drain();
    dispatch::clock::advance(seconds);
    drain();
  }
};

inline void expectFrame(const std::shared_ptr<UIView>& view, CGFloat x, CGFloat y, CGFloat w, CGFloat h) {
  CGRect f = view->frame();
  EXPECT_NEAR(f.minX(), x, 1e-6) << view->recursiveDescription();
  EXPECT_NEAR(f.minY(), y, 1e-6) << view->recursiveDescription();
  EXPECT_NEAR(f.width(), w, 1e-6) << view->recursiveDescription();
  EXPECT_NEAR(f.height(), h, 1e-6) << view->recursiveDescription();
}

template <class V = UIView>
std::shared_ptr<V> constrained() {
  auto v = std::make_shared<V>();
  v->setTranslatesAutoresizingMaskIntoConstraints(false);
  return v;
}

}  // namespace uikit::testing
