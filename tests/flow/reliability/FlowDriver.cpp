#include "FlowDriver.h"

#include <malloc.h>
#include <morvik/api/APIManager.h>
#include <morvik/flow/IDCaptureVC.h>
#include <morvik/flow/IDScanStepsVC.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "fixtures/camera/CameraTestSupport.h"
#include "fixtures/generators/Generators.h"
#include "fixtures/host/ConfigureSDK.h"
#include "fixtures/ui/ViewSearch.h"
#include "flow/capture/CaptureRules.h"
#include "flow/capture/IDCaptureVCState.h"

namespace morvik {
struct IDCaptureVCTestAccess {
  static IDCaptureVC::State& state(IDCaptureVC& vc) { return *vc.state_; }
};
}  // namespace morvik

namespace flowdriver {

namespace gen = fixtures::generators;
using morvik::IDCaptureVC;
using morvik::MorvikVerificationResult;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

bool shown(const std::shared_ptr<uikit::UIView>& view) {
  return view && !view->isHidden() && view->alpha() >= 0.01;
}

bool tap(const std::shared_ptr<uikit::UIViewController>& screen, const std::string& title) {
  auto button = screen ? fixtures::ui::findButton(screen->view(), title, shown) : nullptr;
  if (!button || !button->isEnabled()) return false;
  button->sendActions(uikit::UIControlEvents::touchUpInside);
  return true;
}

}  // namespace

bool FlowDriver::fail(std::string why) {
  failure_ = std::move(why);
  return false;
}

bool Footprint::allReleased() const { return alive() == 0; }

std::size_t Footprint::alive() const {
  std::size_t n = 0;
  for (const auto& object : objects) n += object.expired() ? 0 : 1;
  return n;
}

const Scenes::Cards& Scenes::cards() {
  static const Cards cards{gen::makeSteadyCardScene(gen::CardContent::printed, 21).bgr,
                           gen::makeSteadyCardScene(gen::CardContent::pdf417, 22).bgr};
  return cards;
}

const Scenes::Faces& Scenes::faces() {
  static const Faces faces = [] {
    const cv::Mat photo = gen::loadFacePhoto();
    const auto turn = [&](double yaw) {
      gen::FaceTurnOptions options;
      options.yawRadians = yaw;
      options.frameSize = {540, 960};
      return gen::makeFaceTurn(photo, options).bgr;
    };
    // Turning to one's own left shows the nose to the camera image's right.
    return Faces{turn(0), turn(0.5), turn(-0.5)};
  }();
  return faces;
}

void Scenes::renderAll() {
  cards();
  faces();
}

struct FlowDriver::Delegate : morvik::MorvikVerifyDelegate {
  FlowDriver* driver = nullptr;
  void morvikVerifyDidComplete(const MorvikVerificationResult&) override {
    driver->events_.emplace_back("delegate:complete");
  }
  void morvikVerifyDidCancel() override { driver->events_.emplace_back("delegate:cancel"); }
};

// The person: which card the back camera sees and where the face looks.
// Read on the cameras' threads.
namespace {
std::atomic<int> gCard{0};  // 0 front, 1 back
std::atomic<int> gPose{0};  // 0 centre, 1 left, 2 right
}  // namespace

FlowDriver::FlowDriver(fixtures::LoopbackServer& server) : server_(server) {
  const auto& cards = Scenes::cards();
  avf::VirtualCameraOptions options;
  options.stepMode = true;
  options.settleFrames = 2;
  options.portraitScene = true;
  options.brightnessNoise = 0.1;  // enough for the face readiness rule's deviation
  options.position = avf::AVCaptureDevice::Position::back;
  backCamera_ = avf::VirtualCamera::registerGenerator(
      [&cards](std::int64_t) { return fixtures::camera::bgrFrame(gCard.load() ? cards.back : cards.front); },
      options);
  options.position = avf::AVCaptureDevice::Position::front;
  frontCamera_ = avf::VirtualCamera::registerGenerator(
      [](std::int64_t) {
        const auto& faces = Scenes::faces();
        const int pose = gPose.load();
        return fixtures::camera::bgrFrame(pose == 1 ? faces.left : pose == 2 ? faces.right : faces.centre);
      },
      options);

  scene_ = uikit::UIApplication::shared().connectWindowScene();
  window_ = scene_->makeWindow();
  host_ = std::make_shared<uikit::UIViewController>();
  window_->setRootViewController(host_);
  window_->makeKeyAndVisible();
  settle();
  window_->layoutIfNeeded();

  fixtures::host::configureSDK(server_, "reliability-key");
  delegate_ = std::make_shared<Delegate>();
  delegate_->driver = this;
  morvik::MorvikVerify::shared().setDelegate(delegate_);
}

FlowDriver::~FlowDriver() {
  settle();
  uikit::UIApplication::shared().disconnect(scene_);
  host_.reset();
  window_.reset();
  scene_.reset();
  settle();
  if (backCamera_) backCamera_->unregister();
  if (frontCamera_) frontCamera_->unregister();
  morvik::APIManager::shared().setTrustedCertificateForTesting("");
}

void FlowDriver::settle() {
  for (int i = 0; i < 6; ++i) {
    dispatch::MainLoop::drain();
    dispatch::clock::advance(0.5);
  }
  dispatch::MainLoop::drain();
}

std::shared_ptr<uikit::UINavigationController> FlowDriver::flow() const {
  return std::dynamic_pointer_cast<uikit::UINavigationController>(host_->presentedViewController());
}

std::shared_ptr<uikit::UIViewController> FlowDriver::top() const {
  auto navigation = flow();
  return navigation ? navigation->topViewController() : nullptr;
}

bool FlowDriver::startDocumentScan() {
  stages.clear();
  failure_.clear();
  const auto start = Clock::now();
  morvik::MorvikVerify::startDocumentScan("soak@example.com", [this](const MorvikVerificationResult& result) {
    events_.emplace_back("completion");
    outcomes_.push_back(result);
  });
  settle();
  auto navigation = flow();
  if (!navigation) return fail("no flow presented");
  footprint_.objects.push_back(navigation);
  footprint_.objects.push_back(navigation->viewControllers().front());
  closeItem_ = navigation->viewControllers().front()->navigationItem().leftBarButtonItem;
  footprint_.objects.push_back(closeItem_.lock());
  stages.push_back({"start to step list", since(start)});
  return true;
}

bool FlowDriver::deliverFrame(const std::shared_ptr<avf::VirtualCamera>& camera,
                              const std::function<int()>& handled,
                              const std::function<std::uint64_t()>& dropped) {
  // A frame that arrives a moment before the output has seen the delegate
  // return from the previous one is dropped, as on a device; deliver again.
  const int before = handled();
  // Until the previous screen's session has stopped, the camera still feeds
  // that one: deliver again once it has let go.
  for (int attempt = 0; attempt < 500; ++attempt) {
    const auto drops = dropped();
    if (!camera->deliverNextFrame()) {
      // The camera is not attached to this screen's session yet.
      dispatch::MainLoop::runUntil([] { return false; }, 0.02);
      continue;
    }
    dispatch::MainLoop::runUntil([&] { return handled() > before || dropped() > drops; }, 0.2);
    if (handled() > before) break;
  }
  dispatch::MainLoop::drain();
  return handled() > before;
}

bool FlowDriver::runCapture(bool stopWhenPhotoInFlight) {
  auto screen = std::dynamic_pointer_cast<IDCaptureVC>(top());
  if (!screen) return fail("no capture screen on top");
  const auto start = Clock::now();
  const std::string title = screen->step().title();
  auto& state = morvik::IDCaptureVCTestAccess::state(*screen);
  footprint_.objects.push_back(screen);
  footprint_.objects.push_back(state.captureSession);
  const auto kinds = screen->step().kinds();
  gCard = kinds.back ? 1 : 0;
  gPose = 0;
  if (kinds.face) Scenes::faces();  // rendered here, not on the camera's thread mid-frame
  auto camera = kinds.face ? frontCamera_ : backCamera_;
  auto session = state.captureSession;
  if (!dispatch::MainLoop::runUntil([&] { return session->isRunning(); }, 10))
    return fail(title + ": camera never ran");
  settle();  // the hint plays, then scanning starts

  for (int frame = 0; frame < 240; ++frame) {
    if (top() != screen) {
      stages.push_back({title, since(start)});
      return true;
    }
    if (state.isCapturing) {
      if (stopWhenPhotoInFlight) return true;
      dispatch::MainLoop::runUntil([&] { return !state.isCapturing; }, 20);
      settle();
      continue;
    }
    if (kinds.face) {
      // The person follows the instruction on the screen.
      const auto text = state.livenessLabel->text().value_or("");
      gPose = text == morvik::capture::kTextLeft ? 1 : text == morvik::capture::kTextRight ? 2 : 0;
    }
    if (!deliverFrame(
            camera, [&] { return state.framesHandled.load(); },
            [&] { return state.videoOutput->droppedFrameCount(); }))
      return fail(title + ": frame not handled");
  }
  return fail(title + ": no photo after 240 frames (progress " + std::to_string(state.goodProgress) + ")");
}

std::shared_ptr<uikit::UIViewController> FlowDriver::tapStart() {
  auto navigation = flow();
  if (!navigation) return fail("no flow"), nullptr;
  auto list = navigation->viewControllers().front();
  if (!tap(list, "Start")) return fail("no Start button"), nullptr;
  settle();
  return list;
}

bool FlowDriver::captureAllSteps() {
  auto list = tapStart();
  if (!list) return false;
  while (top() != list) {
    if (!runCapture(false)) return false;
    settle();
  }
  return true;
}

bool FlowDriver::captureAllStepsByCallback() {
  auto list = tapStart();
  if (!list) return false;
  static const auto image =
      uikit::UIImage::make(gen::toCGImage(Scenes::cards().front), 1, uikit::UIImage::Orientation::up);
  while (top() != list) {
    auto screen = std::dynamic_pointer_cast<IDCaptureVC>(top());
    if (!screen) return fail("no capture screen on top");
    footprint_.objects.push_back(screen);
    screen->onCaptured(image);
    screen->onComplete();
    settle();
  }
  return true;
}

bool FlowDriver::runUntilPhotoInFlight() { return tapStart() && runCapture(true); }

bool FlowDriver::tapSubmit() {
  auto navigation = flow();
  if (!navigation) return fail("no flow");
  submitted_ = Clock::now();
  if (!tap(navigation->viewControllers().front(), "Submit")) return fail("no Submit button");
  return true;
}

bool FlowDriver::submitAndWaitForResult() {
  if (!tapSubmit()) return false;
  const auto start = submitted_;
  for (int i = 0; i < 800; ++i) {
    auto shown = top();
    if (shown && shown->className() == "VerifiedScreen") {
      footprint_.objects.push_back(shown);
      stages.push_back({"upload to result screen", since(start)});
      return true;
    }
    dispatch::MainLoop::runUntil([] { return false; }, 0.0125);
    dispatch::clock::advance(0.1);
  }
  return fail("no result screen");
}

bool FlowDriver::tapDone() {
  const auto start = Clock::now();
  if (!tap(top(), "Done")) return fail("no Done button");
  stages.push_back({"Done tapped", since(start)});
  return true;
}

bool FlowDriver::tapClose() {
  auto item = closeItem_.lock();
  if (!item || !item->sendAction()) return fail("no Close item");
  return true;
}

bool FlowDriver::awaitOutcomes(std::size_t count) {
  const auto start = Clock::now();
  for (int i = 0; i < 800 && outcomes_.size() < count; ++i) {
    dispatch::MainLoop::runUntil([&] { return outcomes_.size() >= count; }, 0.0125);
    dispatch::clock::advance(0.1);
  }
  settle();
  if (outcomes_.size() >= count) stages.push_back({"result delivered", since(start)});
  return outcomes_.size() >= count;
}

std::size_t residentBytes() {
  // Memory the allocator keeps cached for reuse is not growth.
  malloc_trim(0);
  std::ifstream statm("/proc/self/statm");
  std::size_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

int threadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return -1;
}

}  // namespace flowdriver
