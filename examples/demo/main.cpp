// The demo host: two whole verifications as a user would run them, on any
// machine, without a camera, a display or a network.
//
// It starts a loopback verification server (HTTPS, with a throwaway
// certificate authority that the SDK's client is told to trust), configures
// the SDK for it, and registers virtual cameras that show generated scenes: a
// driver's licence front, its back with a PDF417 code, and a face that turns
// when the screen asks. Then it runs the document scan (step list, three
// captures, Submit, the result screen's Done) and the face detection (a
// selfie after the head turns, uploaded for re-verification), printing each
// screen as the user sees it and the outcome the host receives. The images
// the server received and its view of each upload are written to the output
// folder. The exit status is 0 only when both verifications end verified.
//
//   morvik-demo [output folder]   (default: demo-output)
#include <morvik/MorvikVerify.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "DemoSupport.h"

namespace {

using morvik::IDCaptureVC;
using morvik::MorvikVerificationResult;
using morvik::MorvikVerify;
using Clock = std::chrono::steady_clock;

constexpr const char* kApiKey = "demo-secret-key";
constexpr const char* kEmail = "alex.sample@example.com";

// Tells the user what the host hears.
struct HostDelegate : morvik::MorvikVerifyDelegate {
  void morvikVerifyDidComplete(const MorvikVerificationResult& result) override {
    std::printf("  host's delegate: morvikVerifyDidComplete, %s\n", demo::describe(result).c_str());
  }
  void morvikVerifyDidCancel() override { std::printf("  host's delegate: morvikVerifyDidCancel\n"); }
};

// The host application's own window and first screen.
struct Host {
  std::shared_ptr<uikit::UIWindowScene> scene;
  std::shared_ptr<uikit::UIWindow> window;
  std::shared_ptr<uikit::UIViewController> root;

  Host() {
    scene = uikit::UIApplication::shared().connectWindowScene();
    window = scene->makeWindow();
    root = std::make_shared<uikit::UIViewController>();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
  }
  ~Host() { uikit::UIApplication::shared().disconnect(scene); }

  std::shared_ptr<uikit::UINavigationController> flow() const {
    return std::dynamic_pointer_cast<uikit::UINavigationController>(root->presentedViewController());
  }
};

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Runs the main loop until `done` (real time, bounded); false on time-out.
bool waitFor(const std::function<bool()>& done, double seconds) {
  return dispatch::MainLoop::runUntil(done, seconds);
}

// One capture screen at work: the person shows what its step asks for and
// follows its instructions, until `finished`. Prints what the screen shows.
bool runCapture(const std::shared_ptr<IDCaptureVC>& screen, demo::ScriptedPerson& person,
                const std::function<bool()>& finished) {
  std::printf("\n== Camera: %s ==\n", screen->step().title().c_str());
  const auto kind = screen->step().kind();
  if (kind == morvik::IDScanStepKind::front) person.hold(demo::ScriptedPerson::Card::front);
  if (kind == morvik::IDScanStepKind::back) person.hold(demo::ScriptedPerson::Card::back);
  const auto start = Clock::now();
  std::set<std::string> before;
  while (!finished()) {
    if (since(start) > 60) {
      std::printf("  no picture within a minute\n");
      return false;
    }
    dispatch::MainLoop::runUntil(finished, 0.05);
    const auto texts = demo::visibleTexts(screen->view());
    std::set<std::string> now(texts.begin(), texts.end());
    for (const auto& text : texts) {
      if (before.count(text)) continue;
      std::printf("  %5.1f s  screen shows \"%s\"\n", since(start), text.c_str());
      person.reactTo(text);
    }
    before = std::move(now);
  }
  std::printf("  %5.1f s  picture taken\n", since(start));
  return true;
}

bool tap(const std::shared_ptr<uikit::UIViewController>& screen, const std::string& title) {
  auto button = demo::findButton(screen->view(), title);
  if (!button || !button->isEnabled()) {
    std::printf("  no \"%s\" button to tap\n", title.c_str());
    return false;
  }
  std::printf("  user taps [%s]\n", title.c_str());
  button->sendActions(uikit::UIControlEvents::touchUpInside);
  return true;
}

// The document scan: step list, three captures, Submit, result, Done.
std::optional<MorvikVerificationResult> runDocumentScan(Host& host, demo::ScriptedPerson& person) {
  std::printf("\n######## Document scan ########\n");
  std::optional<MorvikVerificationResult> outcome;
  MorvikVerify::startDocumentScan(kEmail, [&](const MorvikVerificationResult& result) {
    std::printf("  host's completion: %s\n", demo::describe(result).c_str());
    outcome = result;
  });
  if (outcome) return outcome;  // refused at once
  demo::pump(0.5);
  auto navigation = host.flow();
  if (!navigation) return std::nullopt;
  auto list = navigation->viewControllers().front();
  demo::printScreen(list);
  if (!tap(list, "Start")) return std::nullopt;

  // Each step pushes its capture screen; the face step returns to the list.
  for (int captures = 0; navigation->topViewController() != list || captures == 0;) {
    demo::pump(0.4);
    auto capture = std::dynamic_pointer_cast<IDCaptureVC>(navigation->topViewController());
    if (!capture) break;
    if (!runCapture(capture, person, [&] { return navigation->topViewController() != capture; }))
      return std::nullopt;
    ++captures;
  }
  demo::pump(0.5);
  std::printf("\n");
  demo::printScreen(list);
  if (!tap(list, "Submit")) return std::nullopt;
  if (!waitFor([&] { return navigation->topViewController()->className() == "VerifiedScreen" || outcome; },
               30)) {
    std::printf("  no result screen within 30 s\n");
    return std::nullopt;
  }
  demo::pump(0.5);
  auto result = navigation->topViewController();
  std::printf("\n");
  demo::printScreen(result);
  if (!tap(result, "Done")) return std::nullopt;
  waitFor([&] { return outcome.has_value() && !host.root->presentedViewController(); }, 10);
  return outcome;
}

// The face detection: the face-only capture screen, then the re-verification.
std::optional<MorvikVerificationResult> runFaceDetection(Host& host, demo::ScriptedPerson& person) {
  std::printf("\n######## Face detection ########\n");
  std::optional<MorvikVerificationResult> outcome;
  MorvikVerify::startFaceDetection(kEmail, [&](const MorvikVerificationResult& result) {
    std::printf("  host's completion: %s\n", demo::describe(result).c_str());
    outcome = result;
  });
  if (outcome) return outcome;
  demo::pump(0.5);
  auto navigation = host.flow();
  if (!navigation) return std::nullopt;
  auto capture = std::dynamic_pointer_cast<IDCaptureVC>(navigation->viewControllers().front());
  if (!capture) return std::nullopt;
  demo::printScreen(capture);
  if (!runCapture(capture, person,
                  [&] { return outcome.has_value() || !host.root->presentedViewController(); }))
    return std::nullopt;
  waitFor([&] { return outcome.has_value(); }, 30);
  return outcome;
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
  std::printf(
      "Morvik Verify demo: a document scan and a face detection on virtual cameras,\n"
      "against a loopback verification server.\n");

  demo::ScriptedPerson person;
  if (!person.prepare()) {
    std::fprintf(stderr, "morvik-demo: the face photograph is missing\n");
    return 1;
  }
  auto server = demo::startVerificationServer(kApiKey);
  std::printf("Verification server listening at %s (throwaway certificate authority)\n",
              server->baseURL().c_str());
  demo::configureSDK(*server, kApiKey);
  auto delegate = std::make_shared<HostDelegate>();
  MorvikVerify::shared().setDelegate(delegate);
  if (!person.registerCameras()) {
    std::fprintf(stderr, "morvik-demo: no virtual camera\n");
    return 1;
  }

  bool allVerified = true;
  {
    Host host;
    demo::pump(0.2);
    for (auto* road : {&runDocumentScan, &runFaceDetection}) {
      const auto outcome = (*road)(host, person);
      if (!outcome) std::printf("  the verification did not end\n");
      allVerified = allVerified && outcome && outcome->isVerified();
      demo::pump(0.5);
    }
  }
  demo::pump(0.5);
  person.unregisterCameras();

  std::printf("\nThe server's view of the uploads (written to %s):\n", folder.c_str());
  const bool written = demo::writeServerView(*server, folder);
  server->stop();
  std::printf("\n%s\n",
              allVerified ? "Both verifications ended verified." : "A verification did not end verified.");
  return allVerified && written ? 0 : 1;
}
