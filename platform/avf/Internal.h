// Internal pieces of the capture stack shared between its source files:
// device and session cores, frame sources, and the output access point.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "morvik/platform/avf/AVCaptureDevice.h"
#include "morvik/platform/avf/AVCaptureSession.h"
#include "morvik/platform/avf/CoreMedia.h"
#include "morvik/platform/avf/CoreVideo.h"
#include "morvik/platform/avf/VirtualCamera.h"

namespace avf::detail {

class SessionCore;

// Produces NV12 frames for one device.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // Whether a device input can be made (the device can be opened at all).
  virtual bool openable() const { return true; }
  // Called when a session starts with the device; false when it cannot start.
  virtual bool open(int preferredWidth, int preferredHeight) {
    (void)preferredWidth, (void)preferredHeight;
    return true;
  }
  virtual void close() {}
  // The frame with this index (counting from the last rewind), or null at the end.
  virtual CVPixelBufferRef next(std::int64_t index) = 0;
  // Back to the first frame; false when the source cannot start again.
  virtual bool rewind() { return true; }
};

std::unique_ptr<FrameSource> makeGeneratorSource(FrameGenerator generator);
std::unique_ptr<FrameSource> makeVideoFileSource(const std::string& path);    // null when unusable
std::unique_ptr<FrameSource> makeImageFolderSource(const std::string& path);  // null when empty
std::unique_ptr<FrameSource> makeRealCameraSource(int index);

struct DeviceInfo {
  std::string uniqueID;
  std::string name;
  AVCaptureDevice::DeviceType type = AVCaptureDevice::DeviceType::builtInWideAngleCamera;
  AVCaptureDevice::Position position = AVCaptureDevice::Position::back;
  double frameRate = 30;
  bool stepMode = false;
  bool hasTorch = false;
  bool hasFlash = false;
  int settleFrames = 0;
  bool loop = true;
  bool portraitScene = false;
  double brightnessNoise = 0.04;
  std::uint32_t seed = 1;
  bool isVirtual = true;
};

class DeviceCore {
 public:
  DeviceCore(DeviceInfo info, std::unique_ptr<FrameSource> source);
  ~DeviceCore();

  const DeviceInfo info;
  std::weak_ptr<AVCaptureDevice> owner;

  // Starts delivering to the session (its run). False when the device is
  // disconnected, in use by another session, or its source cannot start. A
  // session refused because another holds the device waits: it is attached
  // when the holder detaches, if it is still running with this device.
  bool attach(const std::shared_ptr<SessionCore>& session, int preferredWidth, int preferredHeight);
  // Stops delivering to the session; waits for a frame in progress. The
  // caller holds the session's runMutex (and no device lock). True when the
  // session was the one attached: the caller then calls handOver() once it
  // has let go of its runMutex.
  bool detach(const SessionCore* session);
  // Gives the free device to the first session still waiting for it. Takes
  // that session's runMutex, so the caller must hold no session's: two
  // sessions handing one camera back and forth would otherwise take their
  // runMutexes in both orders.
  void handOver();
  // One frame to the attached session; false when none is attached or the source ended.
  bool produceFrame();
  void disconnect();
  bool openable() const { return source_->openable(); }

  // State (each call locks).
  bool connected() const;
  bool ended() const;
  std::uint64_t delivered() const;
  bool adjusting(AVCaptureDevice::KeyPath key) const;
  bool locked() const;
  void lock();
  void unlock();
  AVCaptureDevice::TorchMode torchMode() const;
  float torchLevel() const;
  void setTorch(AVCaptureDevice::TorchMode mode, float level);

  std::uint64_t addObserver(AVCaptureDevice::KeyPath key, AVCaptureDevice::BoolChangeHandler handler);
  void removeObserver(std::uint64_t id);

 private:
  struct Change {
    AVCaptureDevice::KeyPath key;
    bool oldValue, newValue;
  };
  void setAdjustingLocked(bool value, std::vector<Change>& changes);
  void fire(const std::vector<Change>& changes);
  void pumpLoop(std::uint64_t generation);
  void stopPump();

  std::unique_ptr<FrameSource> source_;
  mutable std::mutex m_;
  bool connected_ = true;
  bool locked_ = false;
  AVCaptureDevice::TorchMode torch_ = AVCaptureDevice::TorchMode::off;
  float torchLevel_ = 0;
  bool adjustingFocus_ = true, adjustingExposure_ = true;
  std::mt19937 rng_;
  struct Observer {
    std::uint64_t id;
    AVCaptureDevice::KeyPath key;
    std::shared_ptr<AVCaptureDevice::BoolChangeHandler> handler;
  };
  std::vector<Observer> observers_;
  std::uint64_t nextObserverID_ = 1;
  std::weak_ptr<SessionCore> sink_;
  std::vector<std::weak_ptr<SessionCore>> waiting_;  // refused while the device was held
  const SessionCore* sinkID_ = nullptr;
  int framesThisRun_ = 0;
  std::int64_t sourceIndex_ = 0;
  std::int64_t ptsIndex_ = 0;
  std::uint64_t delivered_ = 0;
  bool ended_ = false;

  std::mutex produceMutex_;
  // The capture thread; started, handed over and stopped under pumpMutex_
  // (a session stopping on its queue and the camera being unregistered may
  // stop it at the same time). Each thread runs while the generation it was
  // started with is current.
  std::mutex pumpMutex_;
  std::thread pump_;
  std::condition_variable pumpCv_;
  std::uint64_t pumpGeneration_ = 0;
};

// Device registry: virtual cameras in registration order, then real ones.
void registerVirtualDevice(const std::shared_ptr<AVCaptureDevice>& device);
void unregisterVirtualDevice(const AVCaptureDevice* device);
std::vector<std::shared_ptr<AVCaptureDevice>> allDevices();

class SessionCore : public std::enable_shared_from_this<SessionCore> {
 public:
  std::weak_ptr<AVCaptureSession> owner;
  mutable std::mutex m;
  std::mutex runMutex;  // serialises start and stop
  std::vector<std::shared_ptr<AVCaptureInput>> inputs;
  std::vector<std::shared_ptr<AVCaptureOutput>> outputs;
  AVCaptureSession::Preset preset = AVCaptureSession::Preset::high;
  int configDepth = 0;
  bool running = false;
  std::shared_ptr<DeviceCore> attached;
  std::shared_ptr<AVCaptureConnection> preview;
  CMSampleBufferRef latest;

  // From the device's delivering thread.
  void deliverFrame(const CMSampleBufferRef& frame);
  std::shared_ptr<AVCaptureDevice> videoDeviceLocked() const;
  CMSampleBufferRef latestFrame() const;
  bool isRunning() const;
};

struct OutputAccess {
  static void join(AVCaptureOutput& output, const std::weak_ptr<AVCaptureSession>& session,
                   std::shared_ptr<AVCaptureConnection> connection);
  static void setConnection(AVCaptureOutput& output, std::shared_ptr<AVCaptureConnection> connection);
  static void leave(AVCaptureOutput& output);
  static bool hasSession(const AVCaptureOutput& output);
  static std::shared_ptr<AVCaptureConnection> connection(const AVCaptureOutput& output);
  static AVCaptureVideoOrientation defaultOrientation(const AVCaptureOutput& output) {
    return output.defaultOrientation();
  }
  static void started(AVCaptureOutput& output) { output.sessionStarted(); }
  static void stopping(AVCaptureOutput& output) { output.sessionStopping(); }
  static void frame(AVCaptureOutput& output, const CMSampleBufferRef& f,
                    const std::shared_ptr<AVCaptureConnection>& c) {
    output.handleFrame(f, c);
  }
};

// Guards delegate calls against a session stop: a call enters only while the
// gate is open for its run, and close() waits for calls in progress (except
// one on the calling thread).
class DeliveryGate {
 public:
  void open();
  std::uint64_t run() const;
  // Enter for a given run; false when closed or another run.
  bool enter(std::uint64_t run);
  void exit();
  void close();

 private:
  mutable std::mutex m_;
  std::condition_variable cv_;
  bool open_ = false;
  std::uint64_t run_ = 0;
  std::vector<std::thread::id> inside_;
};

// ----- Frame operations (OpenCV adapters live in FrameOps.cpp) -----

// BGR (packed) -> a new NV12 video-range buffer; odd sizes lose their last row/column.
CVPixelBufferRef bgrToNV12(const BGRFrame& frame);
// Rotation: 0 none, 90 clockwise, 180, 270 clockwise (= 90 counter-clockwise);
// mirror flips horizontally after rotating; format '420v', '420f' or 'BGRA'.
CVPixelBufferRef transformFrame(const CVPixelBufferRef& nv12, int rotationCW, bool mirror, OSType format);
// Mean luma of an NV12 buffer on a 0-255 full-range scale (a subsample).
double meanFullRangeLuma(const CVPixelBufferRef& nv12);
// JPEG of an NV12/BGRA buffer at quality 0..1 with an EXIF orientation tag; mirror flips the
// stored pixels so the upright image appears mirrored. Empty on failure.
std::vector<std::uint8_t> encodeJPEG(const CVPixelBufferRef& buffer, int exifOrientation, bool mirrorUpright,
                                     double quality);


}  // namespace avf::detail
