// Golden images of every screen a person sees, at 390 x 844 and 375 x 667
// points, scale 2: each screen is brought to its state as the flow does and
// drawn offscreen, then compared with tests/render/goldens/<screen>_<size>.png.
//
// Tolerance (anti-aliasing only): a pixel differs when one of its channels
// is more than 40 levels away from the golden's; at most 0.3 % of the pixels
// may differ. A real change (a moved view, another colour, a missing text)
// exceeds that by far: a one-line label alone covers about 0.5 %.
//
// MORVIK_UPDATE_GOLDENS=1 rewrites the goldens instead (scripts/update-goldens).
// A failing screen leaves its drawing and a picture of the differences in
// <build>/tests/render-diff/.
#include <gtest/gtest.h>
#include <morvik/flow/IDCaptureVC.h>
#include <morvik/flow/IDScanStepsVC.h>
#include <morvik/platform/avf.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/swiftui.h>
#include <morvik/platform/uikit.h>
#include <morvik/platform/uikit/UIRendering.h>
#include <morvik/support/LoadingOverlay.h>
#include <morvik/swiftui/MorvikVerifyExampleView.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "api/models/FullVerdictReply.h"
#include "fixtures/camera/CameraTestSupport.h"
#include "flow/capture/CaptureScreenTestSupport.h"
#include "flow/steps/StepListTestSupport.h"
#include "morvik/api/models/JSONCoding.h"
#include "morvik/api/models/Response.h"

namespace {

namespace fs = std::filesystem;
namespace gen = fixtures::generators;
using steptest::Access;

constexpr double kScale = 2;
constexpr int kChannelTolerance = 40;
constexpr double kDifferingShare = 0.003;

const fs::path kGoldens = fs::path(MORVIK_SOURCE_DIR) / "tests/render/goldens";
const fs::path kDiffs = fs::path(MORVIK_TEST_BINARY_DIR) / "render-diff";

struct ScreenSize {
  const char* name;
  quartz::CGSize size;
  uikit::UIEdgeInsets safeArea;
};
const ScreenSize kSizes[] = {{"390x844", {390, 844}, {47, 0, 34, 0}}, {"375x667", {375, 667}, {20, 0, 0, 0}}};

void settle() {
  dispatch::MainLoop::drain();
  dispatch::clock::advance(2.0);
  dispatch::MainLoop::drain();
}

class ScreensGolden : public ::testing::Test {
 protected:
  void SetUp() override {
    avf::VirtualCamera::unregisterAll();
    dispatch::clock::useManualClock();
  }
  void TearDown() override {
    close();
    uikit::UIScreen::main().setBounds({{0, 0}, {390, 844}});
    dispatch::clock::useRealClock();
  }

  void open(const ScreenSize& size, std::shared_ptr<uikit::UIViewController> root, bool settled = true) {
    uikit::UIScreen::main().setBounds({{0, 0}, size.size});
    scene = uikit::UIApplication::shared().connectWindowScene();
    window = scene->makeWindow();
    window->setSafeAreaInsets(size.safeArea);
    window->setRootViewController(std::move(root));
    window->makeKeyAndVisible();
    if (settled) {
      settle();
    } else {
      dispatch::MainLoop::drain();
    }
  }
  void close() {
    morvik::LoadingOverlay::hide();
    if (capture) capture->viewWillDisappear(false);
    if (scene) uikit::UIApplication::shared().disconnect(scene);
    capture.reset();
    list.reset();
    nav.reset();
    window.reset();
    scene.reset();
    settle();
    if (camera) camera->unregister();
    camera.reset();
    avf::VirtualCamera::unregisterAll();
  }

  void showList(const ScreenSize& size) {
    list = morvik::IDScanStepsVC::make(morvik::IDDocumentType::driversLicenseOrIDCard);
    nav = std::make_shared<uikit::UINavigationController>(list);
    open(size, nav);
  }
  void tap(const std::string& title) {
    Access::button(*list, title)->sendActions(uikit::UIControlEvents::touchUpInside);
    settle();
  }
  void deliverTop(std::uint32_t seed) {
    auto top = std::dynamic_pointer_cast<morvik::IDCaptureVC>(nav->topViewController());
    ASSERT_TRUE(top);
    top->onCaptured(steptest::cardImage(seed, 600));
    top->onComplete();
    settle();
  }

  // Draws the window and compares it with the golden (or rewrites it).
  void check(const std::string& screen, const ScreenSize& size) {
    const std::string name = screen + "_" + size.name;
    SCOPED_TRACE(name);
    ASSERT_TRUE(window);
    auto png = uikit::snapshotPNG(*window, kScale);
    ASSERT_TRUE(png) << "the rendering plugin did not draw";
    const std::vector<std::uint8_t> bytes(png->bytes(), png->bytes() + png->count());
    const cv::Mat drawn = cv::imdecode(bytes, cv::IMREAD_COLOR);
    ASSERT_EQ(drawn.cols, static_cast<int>(size.size.width * kScale));
    ASSERT_EQ(drawn.rows, static_cast<int>(size.size.height * kScale));
    const fs::path golden = kGoldens / (name + ".png");
    if (std::getenv("MORVIK_UPDATE_GOLDENS")) {
      fs::create_directories(kGoldens);
      // Smaller files: the goldens are kept in the repository.
      cv::imwrite(golden.string(), drawn, {cv::IMWRITE_PNG_COMPRESSION, 9});
      return;
    }
    const cv::Mat expected = cv::imread(golden.string(), cv::IMREAD_COLOR);
    ASSERT_FALSE(expected.empty()) << "no golden " << golden << " (scripts/update-goldens makes it)";
    ASSERT_EQ(expected.size(), drawn.size());
    cv::Mat diff;
    cv::absdiff(expected, drawn, diff);
    std::vector<cv::Mat> channels;
    cv::split(diff, channels);
    cv::Mat worst = cv::max(cv::max(channels[0], channels[1]), channels[2]);
    const cv::Mat differing = worst > kChannelTolerance;
    const double share = cv::countNonZero(differing) / static_cast<double>(worst.total());
    if (share > kDifferingShare) {
      fs::create_directories(kDiffs);
      cv::imwrite((kDiffs / (name + ".png")).string(), drawn);
      cv::Mat shown = expected / 3;
      shown.setTo(cv::Scalar(0, 0, 255), differing);
      cv::imwrite((kDiffs / (name + "_diff.png")).string(), shown);
    }
    EXPECT_LE(share, kDifferingShare) << share * 100 << " % of the pixels differ; see " << kDiffs;
  }

  std::shared_ptr<uikit::UIWindowScene> scene;
  std::shared_ptr<uikit::UIWindow> window;
  std::shared_ptr<morvik::IDScanStepsVC> list;
  std::shared_ptr<uikit::UINavigationController> nav;
  std::shared_ptr<morvik::IDCaptureVC> capture;
  std::shared_ptr<avf::VirtualCamera> camera;
};

TEST_F(ScreensGolden, DemoScreen) {
  for (const auto& size : kSizes) {
    open(size, std::make_shared<swiftui::UIHostingController<morvik::MorvikVerifyExampleView>>(
                   morvik::MorvikVerifyExampleView()));
    check("demo", size);
    close();
  }
}

// The step list as it first shows, with one step done, with all done, and
// the preview of a done step.
TEST_F(ScreensGolden, StepListInEachStateAndPreview) {
  for (const auto& size : kSizes) {
    showList(size);
    check("steps_start", size);

    tap("Start");
    deliverTop(0);
    nav->popToViewController(list, false);
    settle();
    check("steps_partial", size);

    tap("Continue");
    deliverTop(1);
    deliverTop(2);
    ASSERT_EQ(nav->topViewController(), list);
    check("steps_done", size);

    Access::cards(*list).at(0)->sendActions(uikit::UIControlEvents::touchUpInside);
    settle();
    check("preview", size);
    close();
  }
}

// With the drawing's own metrics, a card's title takes the room its text
// needs (up to what the card leaves free) and wraps between words, on the
// smallest screen too, whatever the card showed before (every state).
TEST_F(ScreensGolden, StepTitlesGetTheRoomTheirTextNeeds) {
  const ScreenSize sizes[] = {kSizes[1], {"320x568", {320, 568}, {20, 0, 0, 0}}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(size.name);
    showList(size);
    auto expectWhole = [&](const char* state) {
      SCOPED_TRACE(state);
      uikit::snapshotPNG(*window, 1);  // lays the tree out with the plugin's metrics
      for (const auto& card : Access::cards(*list)) {
        const auto& title = *card->titleLabel;
        const std::string text = title.text().value_or("");
        const auto lines = title.renderedLines();
        std::string joined;
        for (const auto& line : lines) joined += (joined.empty() ? "" : " ") + line;
        EXPECT_EQ(joined, text) << "broken inside a word or cut";
        // Room: from the label's start to the status icon's (or, hidden, the
        // chevron's) leading edge, less the gap.
        const auto labelFrame = title.convert(title.bounds(), card.get());
        const auto& icon = card->statusIcon->image() ? *card->statusIcon : *card->chevron;
        const double room = icon.convert(icon.bounds(), card.get()).minX() - 8 - labelFrame.minX();
        const double needed = uikit::textWidth(text, title.font());
        EXPECT_GE(title.bounds().width() + 0.5, std::min(needed, room)) << text;
      }
    };
    expectWhole("start");
    tap("Start");
    deliverTop(0);
    nav->popToViewController(list, false);
    settle();
    expectWhole("one done");
    close();
  }
}

TEST_F(ScreensGolden, OverlayAndAlertOverTheStepList) {
  for (const auto& size : kSizes) {
    showList(size);
    morvik::LoadingOverlay::show(false);
    settle();
    check("overlay", size);
    morvik::LoadingOverlay::hide();
    settle();

    auto alert = std::make_shared<uikit::UIAlertController>("MorvikVerify", "The upload failed: HTTP 500",
                                                            uikit::UIAlertController::Style::alert);
    alert->addAction({"Ok", uikit::UIAlertAction::Style::default_, nullptr});
    list->present(alert, false);
    settle();
    check("alert", size);
    close();
  }
}

TEST_F(ScreensGolden, ResultScreen) {
  const auto verdict =
      morvik::decodeJSON<morvik::Response>(morvik::samples::kFullVerdictReply).documentVerificationData;
  for (const auto& size : kSizes) {
    showList(size);
    auto result = std::make_shared<morvik::VerifiedScreen>();
    result->verificationData = verdict;
    nav->pushViewController(result, false);
    settle();
    check("result", size);
    close();
  }
}

// The capture screen on a camera that shows a card: the hint it plays as it
// appears, then its preview (the camera's picture) with the outline found
// around the card.
TEST_F(ScreensGolden, CaptureScreen) {
  const auto card = gen::makeSteadyCardScene(gen::CardContent::printed, 7);
  for (const auto& size : kSizes) {
    camera = avf::VirtualCamera::registerGenerator(
        [&](std::int64_t) -> avf::VirtualFrame { return fixtures::camera::bgrFrame(card.bgr); },
        fixtures::camera::stepCameraOptions(avf::AVCaptureDevice::Position::back));
    ASSERT_TRUE(camera);
    capture = morvik::IDCaptureVC::make(morvik::IDDocumentType::driversLicenseOrIDCard, 0,
                                        morvik::IDScanStep("Document Front"));
    nav = std::make_shared<uikit::UINavigationController>(capture);
    open(size, nav, false);
    auto& state = morvik::IDCaptureVCTestAccess::state(*capture);
    // The hint that plays as the screen appears: the card's picture with the
    // scan line halfway down.
    dispatch::clock::advance(0.7);
    dispatch::MainLoop::drain();
    check("capture_hint", size);
    ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return state.captureSession->isRunning(); }, 10));
    settle();
    // A few frames: enough for the outline, too few for the photo.
    for (int i = 0; i < 3; ++i) {
      const int before = state.framesHandled.load();
      ASSERT_TRUE(camera->deliverNextFrame());
      dispatch::MainLoop::runUntil([&] { return state.framesHandled.load() > before; }, 20);
      dispatch::MainLoop::drain();
    }
    // What the camera shows, as the preview layer would.
    state.previewLayer->setContents(gen::toCGImage(card.bgr));
    state.previewLayer->setContentsGravity(quartz::CALayer::ContentsGravity::resizeAspectFill);
    check("capture", size);
    close();
  }
}

}  // namespace
