// The demo host's parts, kept apart so other hosts of the project (a demo
// screen, benchmarks) can reuse them: the loopback verification server with
// its verdicts, the SDK's configuration for it, the virtual cameras with the
// scripted person in front of them, and a printer of what a screen shows.
//
// Everything here runs on the main thread but the camera generators, which
// read the person's pose through atomics.
#pragma once

#include <morvik/MorvikVerify.h>
#include <morvik/platform/avf.h>
#include <morvik/platform/swiftui.h>
#include <morvik/platform/uikit.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/server/LoopbackServer.h"

namespace demo {

// ----- The verification server ----------------------------------------------------

// A loopback HTTPS server that checks each upload as the real server does
// (method, path, API key, the parts each endpoint needs, JPEG images) and
// answers a verdict record, or a 400/401 reply with a message.
std::unique_ptr<fixtures::LoopbackServer> startVerificationServer(const std::string& apiKey);

// Writes what the server received (request line, headers, parts) as
// "upload-N.txt" and every file part as "upload-N-<part>.jpg" into `folder`,
// and prints a summary. The API key's value is not written out.
bool writeServerView(const fixtures::LoopbackServer& server, const std::filesystem::path& folder);

// ----- The person and the cameras ---------------------------------------------------

// What the person holds up to the back camera, and where they look for the
// front camera. The generators read these from the camera threads.
class ScriptedPerson {
 public:
  enum class Card { front, back };
  enum class Pose { centre, left, right };

  // Renders the scenes once (a textured-background licence front, its back
  // with a PDF417 code, a photographed face turned both ways); false when the
  // face photograph is missing.
  bool prepare();
  // Registers the back and the front virtual camera (real-time, 30 frames/s).
  bool registerCameras();
  void unregisterCameras();

  void hold(Card card) { card_ = card; }
  // What the back or the front camera shows at present.
  const cv::Mat& scene(bool frontCamera) const;
  // Follows an instruction the capture screen shows, as a person would.
  void reactTo(const std::string& text);
  // Called on the main queue, at most ten times a second, while a camera of
  // the person's delivers frames (set before registerCameras): where nobody
  // scripts the person, they look at the screen this way.
  void lookAtScreenWhileFilmed(std::function<void()> look) { look_ = std::move(look); }

 private:
  void filmed();
  std::function<void()> look_;
  std::atomic<std::int64_t> lastLook_{0};
  cv::Mat front_, back_, centre_, left_, right_;
  std::atomic<Card> card_{Card::front};
  std::atomic<Pose> pose_{Pose::centre};
  std::shared_ptr<avf::VirtualCamera> backCamera_, frontCamera_;
};

// ----- A real camera for live use ----------------------------------------------------

// The first V4L2 camera (the platform's discovery finds them), shown through
// a back and a front camera of the demo's, which the SDK's screens ask for:
// a desktop's camera is neither. Null when the machine has none.
class RealCameraBridge {
 public:
  static std::unique_ptr<RealCameraBridge> start();
  ~RealCameraBridge();
  const std::string& name() const { return name_; }

 private:
  struct Latest;
  std::string name_;
  std::shared_ptr<Latest> latest_;
  std::shared_ptr<avf::AVCaptureSession> session_;
  std::shared_ptr<avf::VirtualCamera> back_, front_;
};

// ----- Screens ------------------------------------------------------------------------

// The texts of the visible labels of a view tree, depth first.
std::vector<std::string> visibleTexts(const std::shared_ptr<uikit::UIView>& view);

// Prints a screen as the user sees it: its class, the navigation bar's items,
// then labels ("text"), text fields (| text |), buttons ([Title], "disabled"
// when so) and tappable cards (▸ their labels, "locked" when they take no
// taps), in view order.
void printScreen(const std::shared_ptr<uikit::UIViewController>& screen);

// The first visible button with that title in the screen's view tree.
std::shared_ptr<uikit::UIButton> findButton(const std::shared_ptr<uikit::UIView>& view,
                                            const std::string& title);

// Pictures of what the person sees: each window drawn at scale 2 (the
// rendering plugin) into "<folder>/NN-<name>.png", numbered in order. Only
// the drawing holds the main thread (the cameras run in real time); the
// files are encoded and written on a thread of their own.
class ScreenPictures {
 public:
  // Removes the pictures an earlier run left there, so the folder shows this run only.
  explicit ScreenPictures(std::filesystem::path folder);
  ~ScreenPictures() { finish(); }
  void take(uikit::UIWindow& window, const std::string& name);
  // Waits for the files; the number written.
  int finish();

 private:
  std::filesystem::path folder_;
  int count_ = 0;
  bool failed_ = false;
  std::vector<std::thread> writers_;
  std::atomic<int> written_{0};
};

// Shows a camera picture in the camera preview of a screen (the preview
// layer draws no video of its own), mirrored as the front camera's preview
// is, filling the preview as the video does.
void showInPreview(const std::shared_ptr<uikit::UIView>& screen, const cv::Mat& picture, bool mirrored);
// Whether the capture screen's preview shows the outline of a document.
bool outlineShown(const std::shared_ptr<uikit::UIView>& screen);

// Runs the main loop for `seconds` (real time).
void pump(double seconds);

// Writes `image` as JPEG (quality 0.9); false when it cannot be written.
bool saveJPEG(const std::shared_ptr<uikit::UIImage>& image, const std::filesystem::path& path);

std::string describe(const morvik::MorvikVerificationResult& result);

}  // namespace demo
