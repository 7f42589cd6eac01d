// The demo host: the SDK's demo screen (MorvikVerifyExampleView) in a window,
// worked as a person would, on any machine, without a camera, a display or a
// network.
//
// It starts a loopback verification server (HTTPS, with a throwaway
// certificate authority), trusts that authority and configures the SDK for
// the server as any host would (CURL_CA_BUNDLE and the configuration's base
// URL), and registers virtual cameras that show generated scenes: a
// driver's licence front, its back with a PDF417 code, and a face that turns
// when the screen asks. The demo screen is hosted by a UIHostingController.
// The person types an e-mail address and presses "Document Scan" (step list,
// three captures, Submit, the result screen's Done), then "Face Detection" (a
// selfie after the head turns, uploaded for re-verification); then, with the
// e-mail field emptied, "Face Detection" once more, which is refused after
// the capture; and last "Document Scan" closed with Close. Each screen is
// printed as the person sees it, with what the status line says, and drawn
// into a picture in the output folder's "screens" folder, in order. The images
// the server received and its view of each upload are written to the output
// folder. The exit status is 0 only when every road ends as expected.
//
//   morvik-demo [output folder]   (default: demo-output)
//   morvik-demo --window [output folder]
//       the same, visibly: the host's window is shown on the desktop
//   morvik-demo --live [output folder]
//       the demo screen in a desktop window for a person to use with the
//       pointer and the keyboard, on the machine's V4L2 camera if it has one
//       (the virtual cameras otherwise); closing the window ends it
#include <morvik/MorvikVerify.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/swiftui.h>
#include <morvik/platform/swiftui/Testing.h>
#include <morvik/platform/uikit.h>
#include <morvik/platform/uikit/UIWindowDesktop.h>
#include <morvik/support/LoadingOverlay.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
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

// The host application's window, showing the demo screen.
struct Host {
  std::shared_ptr<uikit::UIWindowScene> scene;
  std::shared_ptr<uikit::UIWindow> window;
  std::shared_ptr<swiftui::UIHostingController<morvik::MorvikVerifyExampleView>> root;

  Host() {
    scene = uikit::UIApplication::shared().connectWindowScene();
    window = scene->makeWindow();
    root = std::make_shared<swiftui::UIHostingController<morvik::MorvikVerifyExampleView>>(
        morvik::MorvikVerifyExampleView());
    window->setRootViewController(root);
    window->makeKeyAndVisible();
  }
  ~Host() { uikit::UIApplication::shared().disconnect(scene); }

  // The verification flow inside the full-screen cover, if one is shown.
  std::shared_ptr<uikit::UINavigationController> flow() const {
    auto cover = root->presentedViewController();
    if (!cover || cover->children().empty()) return nullptr;
    return std::dynamic_pointer_cast<uikit::UINavigationController>(cover->children().front());
  }
  bool coverShown() const { return root->presentedViewController() != nullptr; }

  // The grey line under the e-mail field.
  std::string status() const {
    auto field = swiftui::testing::findTextField(root->view(), "Email");
    auto box = field ? field->superview() : nullptr;
    auto stack = std::dynamic_pointer_cast<uikit::UIStackView>(box ? box->superview() : nullptr);
    if (!stack || stack->arrangedSubviews().size() < 3) return "";
    auto label = std::dynamic_pointer_cast<uikit::UILabel>(stack->arrangedSubviews()[2]);
    return label && label->text() ? *label->text() : "";
  }
};

// Pictures of every screen the person sees, in order (<output>/screens/).
demo::ScreenPictures* pictures = nullptr;

void picture(const std::shared_ptr<uikit::UIViewController>& screen, const std::string& name) {
  auto window = screen && screen->isViewLoaded() ? screen->view()->window() : nullptr;
  if (pictures && window) pictures->take(*window, name);
}

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The desktop window (--window), once the person closed it: the script stops.
std::shared_ptr<uikit::UIWindow> gShownWindow;
bool windowClosed() { return gShownWindow && !uikit::isOnDesktop(*gShownWindow); }

// Runs the main loop until `done` (real time, bounded); false on time-out.
bool waitFor(const std::function<bool()>& done, double seconds) {
  return dispatch::MainLoop::runUntil([&] { return done() || windowClosed(); }, seconds) && !windowClosed();
}

void showDemoScreen(const Host& host) {
  std::printf("\n");
  demo::printScreen(host.root);
  std::printf("  status line: \"%s\"\n", host.status().c_str());
  picture(host.root, "demo-screen");
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
  bool pictured = false;
  const bool face = kind != morvik::IDScanStepKind::front && kind != morvik::IDScanStepKind::back;
  while (!finished()) {
    if (windowClosed()) return false;
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
    // The screen once it shows the outline of the document (or, for a
    // face, once the person has been in view a moment), with what the
    // camera shows in its preview.
    if (!pictured && !finished() && (demo::outlineShown(screen->view()) || since(start) > (face ? 0.5 : 5))) {
      demo::showInPreview(screen->view(), person.scene(face), face);
      picture(screen, std::string("capture-") + (face                                    ? "face"
                                                 : kind == morvik::IDScanStepKind::front ? "front"
                                                                                         : "back"));
      pictured = true;
    }
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

void type(const Host& host, const std::string& text) {
  if (text.empty()) {
    std::printf("  user empties the e-mail field\n");
  } else {
    std::printf("  user types \"%s\" into the e-mail field\n", text.c_str());
  }
  swiftui::testing::typeText(host.window, "Email", text);
  demo::pump(0.1);
}

// Waits for the cover to close and prints what the status line then says;
// true when it says `expected`.
bool expectStatus(const Host& host, const std::string& expected) {
  waitFor([&] { return !host.coverShown() && host.status() == expected; }, 30);
  demo::pump(0.5);
  showDemoScreen(host);
  if (host.coverShown() || host.status() != expected) {
    std::printf("  expected the status line \"%s\"\n", expected.c_str());
    return false;
  }
  return true;
}

// Taps "Document Scan" and prints the step list it opens; the flow's
// navigation controller, or null when none came up.
std::shared_ptr<uikit::UINavigationController> openDocumentScan(Host& host) {
  if (!tap(host.root, "Document Scan")) return nullptr;
  demo::pump(0.5);
  auto navigation = host.flow();
  if (!navigation) return nullptr;
  demo::printScreen(navigation->viewControllers().front());
  picture(navigation, "step-list");
  return navigation;
}

// "Document Scan": step list, three captures, Submit, result, Done.
bool runDocumentScan(Host& host, demo::ScriptedPerson& person) {
  std::printf("\n######## Document scan ########\n");
  auto navigation = openDocumentScan(host);
  if (!navigation) return false;
  auto list = navigation->viewControllers().front();
  if (!tap(list, "Start")) return false;

  // Each step pushes its capture screen; the face step returns to the list.
  for (int captures = 0; navigation->topViewController() != list || captures == 0;) {
    demo::pump(0.4);
    auto capture = std::dynamic_pointer_cast<IDCaptureVC>(navigation->topViewController());
    if (!capture) break;
    if (!runCapture(capture, person, [&] { return navigation->topViewController() != capture; }))
      return false;
    ++captures;
  }
  demo::pump(0.5);
  std::printf("\n");
  demo::printScreen(list);
  picture(list, "step-list-captured");
  if (!tap(list, "Submit")) return false;
  // The loading overlay while the upload is on its way.
  if (waitFor([] { return morvik::LoadingOverlay::shared()->superview() != nullptr; }, 2))
    picture(list, "uploading");
  if (!waitFor([&] { return navigation->topViewController()->className() == "VerifiedScreen"; }, 30)) {
    std::printf("  no result screen within 30 s\n");
    return false;
  }
  demo::pump(0.5);
  auto result = navigation->topViewController();
  std::printf("\n");
  demo::printScreen(result);
  picture(result, "result");
  if (!tap(result, "Done")) return false;
  return expectStatus(host, "Document Verified");
}

// "Face Detection": the face-only capture screen, then the re-verification
// (or, without an address, the refusal once the selfie is taken).
bool runFaceDetection(Host& host, demo::ScriptedPerson& person, const std::string& expected) {
  if (!tap(host.root, "Face Detection")) return false;
  demo::pump(0.5);
  auto navigation = host.flow();
  if (!navigation) return false;
  auto capture = std::dynamic_pointer_cast<IDCaptureVC>(navigation->viewControllers().front());
  if (!capture) return false;
  demo::printScreen(capture);
  if (!runCapture(capture, person, [&] { return !host.coverShown(); })) return false;
  // An alert the flow shows before it closes.
  if (auto alert = std::dynamic_pointer_cast<uikit::UIAlertController>(capture->presentedViewController()))
    picture(alert, "alert");
  return expectStatus(host, expected);
}

// "Document Scan", then Close on the step list.
bool runClose(Host& host) {
  std::printf("\n######## Close ########\n");
  auto navigation = openDocumentScan(host);
  if (!navigation) return false;
  auto list = navigation->viewControllers().front();
  auto close = list->navigationItem().leftBarButtonItem;
  if (!close) return false;
  std::printf("  user taps [close]\n");
  close->sendAction();
  return expectStatus(host, "Error: User cancelled the verification process.");
}

// --live on the virtual cameras: nobody scripts the person in front of them,
// so they hold what the shown capture screen asks for and follow its
// instructions (main thread, while a camera films).
void followScreen(const Host* host, demo::ScriptedPerson& person) {
  auto navigation = host ? host->flow() : nullptr;
  auto capture =
      std::dynamic_pointer_cast<IDCaptureVC>(navigation ? navigation->topViewController() : nullptr);
  if (!capture) return;
  const auto kind = capture->step().kind();
  if (kind == morvik::IDScanStepKind::front) person.hold(demo::ScriptedPerson::Card::front);
  if (kind == morvik::IDScanStepKind::back) person.hold(demo::ScriptedPerson::Card::back);
  for (const auto& text : demo::visibleTexts(capture->view())) person.reactTo(text);
}

// --live: the demo screen for a person, until the window is closed.
int runLive(Host& host) {
  std::printf(
      "\nThe demo screen is in a window: use it with the pointer and the keyboard; close the window to "
      "end.\n");
  dispatch::MainLoop::run();
  std::printf("The window was closed.\n");
  showDemoScreen(host);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // progress shows as it happens, also in a log
  enum class Mode { headless, window, live } mode = Mode::headless;
  if (argc > 1 && std::string(argv[1]) == "--window") mode = Mode::window;
  if (argc > 1 && std::string(argv[1]) == "--live") mode = Mode::live;
  if (mode != Mode::headless) --argc, ++argv;
  const std::filesystem::path folder = argc > 1 ? argv[1] : "demo-output";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    std::fprintf(stderr, "morvik-demo: cannot create %s: %s\n", folder.c_str(), ec.message().c_str());
    return 1;
  }
  std::printf(
      "Morvik Verify demo: the SDK's demo screen, worked as a person would, on virtual cameras\n"
      "against a loopback verification server.\n");

  demo::ScriptedPerson person;
  if (!person.prepare()) {
    std::fprintf(stderr, "morvik-demo: the face photograph is missing\n");
    return 1;
  }
  auto server = demo::startVerificationServer(kApiKey);
  std::printf("Verification server listening at %s (throwaway certificate authority)\n",
              server->baseURL().c_str());
  // As a host reaches its own server: the authority that signed the server's certificate in a file
  // named by CURL_CA_BUNDLE (set here before the SDK's first request, as a launcher would; it takes
  // precedence over SSL_CERT_FILE and SSL_CERT_DIR), and the server's base URL in the configuration.
  const std::filesystem::path authority = std::filesystem::absolute(folder / "loopback-ca.pem");
  {
    std::ofstream pem(authority);
    pem << server->caCertificatePEM();
    if (!pem) {
      std::fprintf(stderr, "morvik-demo: cannot write %s\n", authority.c_str());
      return 1;
    }
  }
  setenv("CURL_CA_BUNDLE", authority.c_str(), 1);
  MorvikVerify::configure(morvik::MorvikVerifyConfig(kApiKey, morvik::MorvikEnvironment::production,
                                                     uikit::UIColor::systemBlue(), server->baseURL()));
  auto delegate = std::make_shared<HostDelegate>();
  MorvikVerify::shared().setDelegate(delegate);
  std::unique_ptr<demo::RealCameraBridge> realCamera;
  if (mode == Mode::live) {
    realCamera = demo::RealCameraBridge::start();
    if (realCamera) {
      std::printf("Camera: %s (V4L2)\n", realCamera->name().c_str());
    } else {
      std::printf("No V4L2 camera on this machine: the virtual cameras show a generated licence and face.\n");
    }
  }
  const Host* liveHost = nullptr;
  if (mode == Mode::live && !realCamera) {
    person.lookAtScreenWhileFilmed([&liveHost, &person] { followScreen(liveHost, person); });
  }
  if (!realCamera && !person.registerCameras()) {
    std::fprintf(stderr, "morvik-demo: no virtual camera\n");
    return 1;
  }

  int failed = 0;
  if (mode == Mode::live) {
    Host host;
    if (!uikit::showOnDesktop(host.window, {0, "Morvik Verify demo"})) return 1;
    liveHost = &host;
    failed = runLive(host);
    liveHost = nullptr;
    realCamera.reset();
    person.unregisterCameras();
    server->stop();
    return failed;
  }
  demo::ScreenPictures screens(folder / "screens");
  pictures = &screens;
  {
    Host host;
    if (mode == Mode::window) {
      if (!uikit::showOnDesktop(host.window, {0, "Morvik Verify demo"})) return 1;
      gShownWindow = host.window;
    }
    demo::pump(0.2);
    showDemoScreen(host);
    type(host, kEmail);
    failed += runDocumentScan(host, person) ? 0 : 1;
    std::printf("\n######## Face detection ########\n");
    failed += runFaceDetection(host, person, "Face Verified") ? 0 : 1;
    std::printf("\n######## Face detection, e-mail field emptied ########\n");
    type(host, "");
    failed +=
        runFaceDetection(host, person, "Error: Verification failed: Email is required for face detection")
            ? 0
            : 1;
    failed += runClose(host) ? 0 : 1;
    demo::pump(0.5);
    if (windowClosed()) std::printf("\nThe window was closed: the demo stopped.\n");
    gShownWindow.reset();
  }
  demo::pump(0.5);
  person.unregisterCameras();

  pictures = nullptr;
  std::printf("\n%d pictures of the screens written to %s\n", screens.finish(), (folder / "screens").c_str());
  std::printf("\nThe server's view of the uploads (written to %s):\n", folder.c_str());
  const bool written = demo::writeServerView(*server, folder);
  server->stop();
  std::printf("\n%s\n", failed ? "A road did not end as expected." : "Every road ended as expected.");
  return failed == 0 && written ? 0 : 1;
}
