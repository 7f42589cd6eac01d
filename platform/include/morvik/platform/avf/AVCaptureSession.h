// Capture sessions: inputs, outputs and the connections between them.
//
// A session routes the frames of its device input to its outputs while it
// runs. Every member may be called from any thread. startRunning() and
// stopRunning() block until the camera has started or stopped (call them off
// the main thread, as on the platform); after stopRunning() returns no output
// calls a delegate with a frame of this run. A session without a device input
// runs and delivers nothing.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "morvik/platform/avf/AVCaptureDevice.h"
#include "morvik/platform/avf/CoreMedia.h"

namespace avf {

namespace detail {
class SessionCore;
struct OutputAccess;
}  // namespace detail

enum class AVCaptureVideoOrientation {
  portrait = 1,
  portraitUpsideDown = 2,
  landscapeRight = 3,
  landscapeLeft = 4
};

class AVCaptureInput : public std::enable_shared_from_this<AVCaptureInput> {
 public:
  virtual ~AVCaptureInput() = default;
};

class AVCaptureDeviceInput : public AVCaptureInput {
 public:
  // Opens the device for capture. Throws foundation::NSError
  // (AVFoundationErrorDomain) when the device is missing or disconnected, or
  // camera access is denied.
  static std::shared_ptr<AVCaptureDeviceInput> make(const std::shared_ptr<AVCaptureDevice>& device);
  const std::shared_ptr<AVCaptureDevice>& device() const { return device_; }

  explicit AVCaptureDeviceInput(std::shared_ptr<AVCaptureDevice> device) : device_(std::move(device)) {}

 private:
  std::shared_ptr<AVCaptureDevice> device_;
};

// Connects a session's video input to one output (or to a preview layer).
// Settings may be changed from any thread; they apply from the next frame.
class AVCaptureConnection : public std::enable_shared_from_this<AVCaptureConnection> {
 public:
  // `mirrorsFrontAutomatically`: automatic mirroring mirrors front cameras
  // (preview layers); data outputs are never mirrored automatically.
  AVCaptureConnection(std::weak_ptr<AVCaptureDevice> device, AVCaptureVideoOrientation orientation,
                      bool mirrorsFrontAutomatically = false);

  bool isVideoOrientationSupported() const { return true; }
  AVCaptureVideoOrientation videoOrientation() const;
  void setVideoOrientation(AVCaptureVideoOrientation orientation);

  bool isVideoMirroringSupported() const { return true; }
  // With automatic adjustment on (the default), mirroring follows the device
  // (front cameras are mirrored on preview connections) and setting
  // isVideoMirrored has no effect; the platform raises an exception there.
  bool isVideoMirrored() const;
  void setVideoMirrored(bool mirrored);
  bool automaticallyAdjustsVideoMirroring() const;
  void setAutomaticallyAdjustsVideoMirroring(bool automatic);

  bool isEnabled() const;
  void setEnabled(bool enabled);
  bool isActive() const;  // enabled and attached to a connected device

  std::shared_ptr<AVCaptureDevice> device() const { return device_.lock(); }

 private:
  mutable std::mutex m_;
  std::weak_ptr<AVCaptureDevice> device_;
  AVCaptureVideoOrientation orientation_;
  bool mirrored_ = false;
  bool autoMirroring_ = true;
  bool enabled_ = true;
  bool mirrorsFront_ = false;
};

// Base of the outputs (video data, photo, metadata).
class AVCaptureOutput : public std::enable_shared_from_this<AVCaptureOutput> {
 public:
  virtual ~AVCaptureOutput();
  // The connection to the session's video input; null when the output is in
  // no session or the session has no video input.
  std::shared_ptr<AVCaptureConnection> connection(AVMediaType with) const;
  std::shared_ptr<AVCaptureSession> session() const;

 protected:
  AVCaptureOutput() = default;
  // The orientation a new connection starts with.
  virtual AVCaptureVideoOrientation defaultOrientation() const {
    return AVCaptureVideoOrientation::landscapeRight;
  }
  // Pipeline hooks, called by the session.
  virtual void sessionStarted() {}
  // Called with the session's lock released; must return quickly.
  virtual void handleFrame(const CMSampleBufferRef& frame,
                           const std::shared_ptr<AVCaptureConnection>& connection) = 0;
  // After this returns no delegate of this output is called for this run.
  virtual void sessionStopping() {}

 private:
  friend struct detail::OutputAccess;
  mutable std::mutex outputMutex_;
  std::weak_ptr<AVCaptureSession> session_;
  std::shared_ptr<AVCaptureConnection> connection_;
};

class AVCaptureSession : public std::enable_shared_from_this<AVCaptureSession> {
 public:
  enum class Preset {
    photo,
    high,
    medium,
    low,
    hd1280x720,
    hd1920x1080,
    hd4K3840x2160,
    vga640x480,
    inputPriority
  };

  static std::shared_ptr<AVCaptureSession> make();
  ~AVCaptureSession();
  AVCaptureSession(const AVCaptureSession&) = delete;
  AVCaptureSession& operator=(const AVCaptureSession&) = delete;

  // Virtual cameras deliver frames at their own size whatever the preset; a
  // real camera is asked for the preset's size when it starts.
  Preset sessionPreset() const;
  void setSessionPreset(Preset preset);
  bool canSetSessionPreset(Preset preset) const;

  // Changes between begin and commit take effect together at the commit (here
  // every change is immediate; the pair only nests).
  void beginConfiguration();
  void commitConfiguration();

  // One device input at a time; an input or output is in one session at a time.
  bool canAddInput(const std::shared_ptr<AVCaptureInput>& input) const;
  void addInput(const std::shared_ptr<AVCaptureInput>& input);  // ignored when canAddInput is false
  void removeInput(const std::shared_ptr<AVCaptureInput>& input);
  bool canAddOutput(const std::shared_ptr<AVCaptureOutput>& output) const;
  void addOutput(const std::shared_ptr<AVCaptureOutput>& output);  // ignored when canAddOutput is false
  void removeOutput(const std::shared_ptr<AVCaptureOutput>& output);
  std::vector<std::shared_ptr<AVCaptureInput>> inputs() const;
  std::vector<std::shared_ptr<AVCaptureOutput>> outputs() const;

  // Blocks until capture has started. When the camera cannot start (in use by
  // another running session, disconnected, cannot be opened) the session
  // still reports running and delivers nothing, as the platform would after a
  // runtime error.
  void startRunning();
  // Blocks until capture has stopped and no output delegate of this run is
  // still being called (except on the calling thread itself). A delegate must
  // therefore not wait for the thread that stops the session.
  void stopRunning();
  bool isRunning() const;

  // A connection for a preview layer (created on demand; null without a video input).
  std::shared_ptr<AVCaptureConnection> previewConnection();

  // Internal: the frame pipeline.
  detail::SessionCore& core() const { return *core_; }

 private:
  AVCaptureSession();
  std::shared_ptr<detail::SessionCore> core_;
};

}  // namespace avf
