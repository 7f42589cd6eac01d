// The demo host: the capture screen takes the three pictures of a driver's
// licence verification (front, back with its PDF417 code, selfie after the
// head turns) from virtual cameras that show generated scenes, so it runs on
// any machine, without a camera or a display. The person in front of the
// selfie camera follows the instructions the screen shows. What the screen
// delivers is saved as JPEG files.
//
//   morvik-demo [output folder]   (default: demo-output)
#include <morvik/MorvikVerify.h>
#include <morvik/platform/avf.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <set>
#include <string>
#include <vector>

#include "fixtures/camera/CameraTestSupport.h"
#include "fixtures/generators/Generators.h"

namespace {

namespace gen = fixtures::generators;
using morvik::IDCaptureVC;
using morvik::IDDocumentType;
using morvik::IDScanStep;

// The texts of the screen's visible labels, depth first.
void visibleTexts(const std::shared_ptr<uikit::UIView>& view, std::vector<std::string>& out) {
  if (!view || view->isHidden() || view->alpha() < 0.01) return;
  if (auto label = std::dynamic_pointer_cast<uikit::UILabel>(view);
      label && label->text() && !label->text()->empty())
    out.push_back(*label->text());
  for (const auto& sub : view->subviews()) visibleTexts(sub, out);
}

struct Capture {
  std::string title;
  int stepIndex = 0;
  bool face = false;
  avf::AVCaptureDevice::Position position = avf::AVCaptureDevice::Position::back;
  avf::FrameGenerator scene;
  // Called with each new text the screen shows (the person reacts to it).
  std::function<void(const std::string&)> onText;
  std::string file;
};

bool run(const Capture& c, const std::filesystem::path& folder) {
  std::printf("\n== %s ==\n", c.title.c_str());
  avf::VirtualCameraOptions options;
  options.name = c.face ? "Demo front camera" : "Demo back camera";
  options.position = c.position;
  options.portraitScene = true;
  options.brightnessNoise = 0.1;
  auto camera = avf::VirtualCamera::registerGenerator(c.scene, options);
  if (!camera) {
    std::printf("no virtual camera\n");
    return false;
  }

  auto screen = IDCaptureVC::make(IDDocumentType::driversLicenseOrIDCard, c.stepIndex, IDScanStep(c.title));
  screen->isFaceOnlyMode = c.face;
  std::shared_ptr<uikit::UIImage> image;
  bool complete = false;
  screen->onCaptured = [&](std::shared_ptr<uikit::UIImage> captured) { image = std::move(captured); };
  screen->onComplete = [&] { complete = true; };
  auto nav = std::make_shared<uikit::UINavigationController>(screen);
  auto scene = uikit::UIApplication::shared().connectWindowScene();
  auto window = scene->makeWindow();
  window->setRootViewController(nav);
  window->makeKeyAndVisible();

  const auto start = std::chrono::steady_clock::now();
  std::set<std::string> shown;
  while (!complete && std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
    dispatch::MainLoop::runUntil([&] { return complete; }, 0.05);
    std::vector<std::string> texts;
    visibleTexts(screen->view(), texts);
    std::set<std::string> now(texts.begin(), texts.end());
    for (const auto& t : texts)
      if (!shown.count(t)) {
        std::printf("  %5.1f s  screen shows \"%s\"\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                    t.c_str());
        if (c.onText) c.onText(t);
      }
    shown = std::move(now);
  }

  screen->viewWillDisappear(false);
  uikit::UIApplication::shared().disconnect(scene);
  window.reset();
  nav.reset();
  screen.reset();
  dispatch::MainLoop::drain();
  camera->unregister();

  if (!complete || !image) {
    std::printf("  no picture within a minute\n");
    return false;
  }
  const auto jpeg = image->jpegData(0.9);
  if (!jpeg) {
    std::printf("  the picture could not be encoded\n");
    return false;
  }
  const auto path = folder / c.file;
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(jpeg->bytes()), static_cast<std::streamsize>(jpeg->count()));
  if (!file) {
    std::printf("  could not write %s\n", path.c_str());
    return false;
  }
  std::printf("  picture %.0f x %.0f saved to %s (%.1f s)\n", image->size().width, image->size().height,
              path.c_str(), std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // progress shows as it happens, also in a log
  const std::filesystem::path folder = argc > 1 ? argv[1] : "demo-output";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    std::fprintf(stderr, "morvik-demo: cannot create %s: %s\n", folder.c_str(), ec.message().c_str());
    return 1;
  }
  std::printf("Morvik Verify demo: a driver's licence verification's three captures, on virtual cameras.\n");

  const cv::Mat front =
      gen::makeSteadyCardScene(gen::CardContent::printed, 11, gen::Background::textured).bgr;
  const cv::Mat back = gen::makeSteadyCardScene(gen::CardContent::pdf417, 12, gen::Background::textured).bgr;
  const cv::Mat photo = gen::loadFacePhoto();
  if (photo.empty()) {
    std::fprintf(stderr, "morvik-demo: the face photograph is missing\n");
    return 1;
  }
  const auto turned = [&](double yaw) {
    gen::FaceTurnOptions o;
    o.yawRadians = yaw;
    o.faceWidthShare = 0.6;
    return gen::makeFaceTurn(photo, o).bgr;
  };
  // Turning to one's own left shows the nose to the camera image's right.
  const cv::Mat centre = turned(0), left = turned(0.5), right = turned(-0.5);
  const cv::Mat* poses[] = {&centre, &left, &right};
  std::atomic<int> pose{0};  // read on the camera's thread

  std::vector<Capture> captures;
  captures.push_back({"Front of Document", 0, false, avf::AVCaptureDevice::Position::back,
                      [&](std::int64_t) { return fixtures::camera::bgrFrame(front); }, nullptr, "front.jpg"});
  captures.push_back({"Back of Document", 1, false, avf::AVCaptureDevice::Position::back,
                      [&](std::int64_t) { return fixtures::camera::bgrFrame(back); }, nullptr, "back.jpg"});
  captures.push_back({"Face", 2, true, avf::AVCaptureDevice::Position::front,
                      [&](std::int64_t) { return fixtures::camera::bgrFrame(*poses[pose.load()]); },
                      [&](const std::string& text) {
                        if (text == "<< turn head left") pose = 1;
                        if (text == "turn head right >>") pose = 2;
                        if (text == "center your face") pose = 0;
                      },
                      "selfie.jpg"});

  int failed = 0;
  for (const auto& c : captures) failed += run(c, folder) ? 0 : 1;
  avf::VirtualCamera::unregisterAll();
  std::printf("\n%s\n", failed ? "Some captures did not finish." : "All three pictures were taken.");
  return failed ? 1 : 0;
}
