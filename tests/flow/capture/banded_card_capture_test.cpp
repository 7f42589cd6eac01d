// The capture screen on a card as real ones are printed: a dark title band over a light body, on a
// real photograph. The delivered crop must hold the whole card, band included.
#include <gtest/gtest.h>
#include <morvik/flow/IDCaptureVC.h>
#include <morvik/platform/avf.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "fixtures/camera/CameraTestSupport.h"
#include "fixtures/generators/Generators.h"
#include "flow/capture/CaptureScreenTestSupport.h"

namespace {

using morvik::IDCaptureVC;
using morvik::IDDocumentType;
using morvik::IDScanStep;
namespace gen = fixtures::generators;

// The first seed whose card has a dark header band at least 15 % of its height over a light body.
gen::CardFrame bandedScene() {
  for (std::uint32_t seed = 1; seed < 200; ++seed) {
    const cv::Mat card = gen::makeCardImage(seed, gen::CardContent::bandedFront, 1000, nullptr, nullptr);
    cv::Mat grey;
    cv::cvtColor(card, grey, cv::COLOR_BGR2GRAY);
    const double band = cv::mean(grey.rowRange(2, grey.rows * 14 / 100))[0];
    const double body = cv::mean(grey.rowRange(grey.rows * 40 / 100, grey.rows * 60 / 100))[0];
    if (band < 90 && body > 150)
      return gen::makeSteadyCardScene(gen::CardContent::bandedFront, seed, gen::Background::photograph);
  }
  return {};
}

using BandedCardCaptureTest = capturetest::CaptureScreenTestBase;

TEST_F(BandedCardCaptureTest, CropHoldsTheWholeCardWithItsTitleBand) {
  ASSERT_FALSE(gen::backgroundPhotographs().empty())
      << "the opencv-doc package's sample photographs are missing";
  const gen::CardFrame card = bandedScene();
  ASSERT_FALSE(card.bgr.empty()) << "no seed gives a dark title band";

  const auto options = fixtures::camera::stepCameraOptions(avf::AVCaptureDevice::Position::back);
  camera = avf::VirtualCamera::registerGenerator(
      [&card](std::int64_t) -> avf::VirtualFrame { return fixtures::camera::bgrFrame(card.bgr); }, options);
  ASSERT_TRUE(camera);

  vc = IDCaptureVC::make(IDDocumentType::driversLicenseOrIDCard, 0, IDScanStep("Document Front"));
  vc->onCaptured = [this](std::shared_ptr<uikit::UIImage> image) { images.push_back(image); };
  present();
  if (HasFatalFailure()) return;
  dispatch::clock::advance(2.0);  // past the hint
  dispatch::MainLoop::drain();
  ASSERT_TRUE(state().flags.isReadyToScan.load());

  for (int i = 0; i < 40 && images.empty(); ++i) {
    step();
    if (state().isCapturing) break;
  }
  ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return !images.empty(); }, 30))
      << "progress " << state().goodProgress;
  ASSERT_TRUE(images[0]);

  // The crop is the detected card's box grown by 10 % of its size on each side: with the band left
  // out it would be a fifth shorter or more.
  float x0 = 1e9f, y0 = 1e9f, x1 = -1e9f, y1 = -1e9f;
  for (const auto& p : card.corners)
    x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
  const double w = x1 - x0, h = y1 - y0;
  const double expectedW = std::min(1080.0, x1 + 0.1 * w) - std::max(0.0, x0 - 0.1 * w);
  const double expectedH = std::min(1440.0, y1 + 0.1 * h) - std::max(0.0, y0 - 0.1 * h);
  EXPECT_NEAR(images[0]->size().width, expectedW, 0.02 * 1080);
  EXPECT_NEAR(images[0]->size().height, expectedH, 0.02 * 1080);
}

}  // namespace
