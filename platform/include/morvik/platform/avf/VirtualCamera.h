// Virtual cameras: devices fed by a frame generator, a video file or a folder
// of images, registered by a host or a test in place of real hardware.
//
// A virtual camera emulates a phone's sensor: its buffers are landscape NV12
// (video range, '420v'); a scene that is upright in portrait is stored turned
// 90 degrees counter-clockwise (set `portraitScene` to have the camera do that
// turn), so a portrait connection's Vision orientation `.right` sees it
// upright again. Each frame carries an EXIF dictionary with a brightness value
// (see `brightnessValue`).
//
// Pacing is chosen per camera: real time (a capture thread delivers at the
// frame rate while a session runs) or step mode (nothing is delivered until
// deliverNextFrame() is called, on the caller's thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "morvik/platform/avf/AVCaptureDevice.h"
#include "morvik/platform/avf/CoreVideo.h"

namespace avf {

// A packed 8-bit BGR frame (OpenCV's order), viewed: `owner` keeps `data` alive.
struct BGRFrame {
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t bytesPerRow = 0;
  const std::uint8_t* data = nullptr;
  std::shared_ptr<const void> owner;
};

// A generated frame: NV12 (used as it is, no copy) or BGR (converted). An
// empty result (null buffer, or a BGR frame without data) ends the stream.
using VirtualFrame = std::variant<CVPixelBufferRef, BGRFrame>;
// Called on the delivering thread with the frame number (0, 1, 2 ...).
using FrameGenerator = std::function<VirtualFrame(std::int64_t frameIndex)>;

struct VirtualCameraOptions {
  std::string name = "Virtual Camera";
  AVCaptureDevice::DeviceType deviceType = AVCaptureDevice::DeviceType::builtInWideAngleCamera;
  AVCaptureDevice::Position position = AVCaptureDevice::Position::back;
  double frameRate = 30;
  bool stepMode = false;
  bool hasTorch = true;
  bool hasFlash = true;
  // Focus and exposure report adjusting from the start of each run until
  // this many frames have been delivered (0: settled from the start).
  int settleFrames = 5;
  // Sources that end (files, folders, generators returning nothing) start
  // again from the beginning when true.
  bool loop = true;
  // Frames are upright portrait scenes: the camera turns them 90 degrees
  // counter-clockwise into its landscape buffers.
  bool portraitScene = false;
  // Sensor-like noise of the EXIF brightness value (standard deviation, in
  // brightness stops), drawn from a generator seeded with `seed`.
  double brightnessNoise = 0.04;
  std::uint32_t seed = 1;
};

// The EXIF brightness value (APEX Bv) given a frame's mean luma on a 0-255
// full-range scale: Bv = log2(meanLuma / 118) + 4 + noise, luma floored at 1,
// noise ~ N(0, brightnessNoise). Mid-grey (118) reads 4, an indoor scene;
// each doubling of the light adds one.
double brightnessValue(double meanFullRangeLuma, double noise);

class VirtualCamera : public std::enable_shared_from_this<VirtualCamera> {
 public:
  // Registered devices are listed by device discovery, before real cameras.
  static std::shared_ptr<VirtualCamera> registerGenerator(FrameGenerator generator,
                                                          VirtualCameraOptions options = {});
  // Decodes the file with FFmpeg; null when it cannot be opened or has no video.
  static std::shared_ptr<VirtualCamera> registerVideoFile(const std::string& path,
                                                          VirtualCameraOptions options = {});
  // The folder's images (png, jpg, jpeg, bmp) in name order; null when none.
  static std::shared_ptr<VirtualCamera> registerImageFolder(const std::string& path,
                                                            VirtualCameraOptions options = {});
  // Unregisters every virtual camera (tests call this between cases).
  static void unregisterAll();

  ~VirtualCamera();

  const std::shared_ptr<AVCaptureDevice>& device() const { return device_; }
  // Removes the camera from discovery and disconnects its device: a running
  // session stops receiving frames from it.
  void unregister();

  // Step mode: produces one frame and hands it to the running session (which
  // posts it to its outputs' queues) before returning. False when no session
  // is running with this camera or the source has ended. In real-time mode
  // it does nothing and returns false.
  bool deliverNextFrame();
  bool step() { return deliverNextFrame(); }

  // Frames handed to sessions since registration.
  std::uint64_t deliveredFrameCount() const;
  // The source ended without looping.
  bool hasEnded() const;

  explicit VirtualCamera(std::shared_ptr<AVCaptureDevice> device) : device_(std::move(device)) {}

 private:
  std::shared_ptr<AVCaptureDevice> device_;
};

}  // namespace avf
