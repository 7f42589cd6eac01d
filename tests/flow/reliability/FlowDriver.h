// Drives whole document verifications through the SDK entry as a user would:
// step-mode virtual cameras (one frame per call), the manual dispatch clock
// for hints and transitions, and a loopback verification server. Shared by
// the reliability tests and the flow benchmark.
#pragma once

#include <morvik/MorvikVerify.h>
#include <morvik/platform/avf.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>

#include <chrono>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "fixtures/server/LoopbackServer.h"

namespace flowdriver {

// What one verification left behind, held weakly: every screen it showed and
// every capture session it ran.
struct Footprint {
  std::vector<std::weak_ptr<void>> objects;
  bool allReleased() const;
  std::size_t alive() const;
};

// The scenes the person shows, each set rendered once per process on first
// use: the faces need the face models, which a flow that never reaches its
// face step (or captures by callback) need not load.
struct Scenes {
  struct Cards {
    cv::Mat front, back;
  };
  struct Faces {
    cv::Mat centre, left, right;
  };
  static const Cards& cards();
  static const Faces& faces();
  static void renderAll();
};

// A host window, both cameras and the SDK configured for `server`.
class FlowDriver {
 public:
  explicit FlowDriver(fixtures::LoopbackServer& server);
  ~FlowDriver();

  // Runs the main queue and moves the manual clock past transitions and
  // animations until nothing more happens.
  static void settle();

  // Starts a document scan and runs it to the step list, then through every
  // capture. Returns false (with a reason) when a step did not capture.
  bool startDocumentScan();
  bool captureAllSteps();
  // The same with each capture screen handing over an image at once, as its
  // camera road would (for tests about what happens after the captures).
  bool captureAllStepsByCallback();
  // Taps Submit (the upload starts).
  bool tapSubmit();
  // Taps Submit and waits (real time, bounded) for the result screen.
  bool submitAndWaitForResult();
  // Taps the result screen's Done.
  bool tapDone();
  // Taps the Close item of the flow's first screen (also while the flow is
  // being dismissed).
  bool tapClose();
  // Waits (bounded) for the host to have heard `count` outcomes.
  bool awaitOutcomes(std::size_t count);

  // Runs one capture screen until it has taken its photo (the photo is then
  // in flight) without waiting for the delivery.
  bool runUntilPhotoInFlight();

  std::shared_ptr<uikit::UINavigationController> flow() const;
  std::shared_ptr<uikit::UIViewController> top() const;
  const std::shared_ptr<uikit::UIWindow>& window() const { return window_; }

  const std::vector<morvik::MorvikVerificationResult>& outcomes() const { return outcomes_; }
  const std::vector<std::string>& events() const { return events_; }
  Footprint& footprint() { return footprint_; }
  const std::string& failure() const { return failure_; }

  // Timing of the last run's stages (real time).
  struct Stage {
    std::string name;
    double seconds;
  };
  std::vector<Stage> stages;

 private:
  struct Delegate;
  bool runCapture(bool stopWhenPhotoInFlight);
  bool fail(std::string why);
  // Taps the step list's Start: the list, or null (and the failure noted).
  std::shared_ptr<uikit::UIViewController> tapStart();
  bool deliverFrame(const std::shared_ptr<avf::VirtualCamera>& camera, const std::function<int()>& handled,
                    const std::function<std::uint64_t()>& dropped);

  fixtures::LoopbackServer& server_;
  std::shared_ptr<uikit::UIWindowScene> scene_;
  std::shared_ptr<uikit::UIWindow> window_;
  std::shared_ptr<uikit::UIViewController> host_;
  std::shared_ptr<Delegate> delegate_;
  std::shared_ptr<avf::VirtualCamera> backCamera_, frontCamera_;
  std::vector<morvik::MorvikVerificationResult> outcomes_;
  std::vector<std::string> events_;
  Footprint footprint_;
  std::string failure_;
  std::weak_ptr<uikit::UIBarButtonItem> closeItem_;
  std::chrono::steady_clock::time_point submitted_;
};

// Resident memory of this process in bytes, and its thread count.
std::size_t residentBytes();
int threadCount();

}  // namespace flowdriver
