// Capture devices: discovery, configuration (torch), focus and exposure state
// with key-value observation, and camera authorisation.
//
// Devices come from a process-wide registry holding the machine's real cameras
// (V4L2, found on first query) and the virtual cameras that a host or a test
// registers (VirtualCamera.h). With none of either, every lookup yields null,
// as on a phone without a camera. Devices are shared references; every member
// may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "morvik/platform/avf/AVMediaType.h"
#include "morvik/platform/foundation/Error.h"

namespace avf {

namespace detail {
class DeviceCore;
}
class AVCaptureSession;
class VirtualCamera;

inline constexpr const char* AVFoundationErrorDomain = "AVFoundationErrorDomain";
// The error codes our capture stack reports (the platform's values).
enum AVErrorCode : int {
  AVErrorSessionNotRunning = -11803,
  AVErrorDeviceAlreadyUsedByAnotherSession = -11804,
  AVErrorNoDataCaptured = -11805,
  AVErrorDeviceNotConnected = -11814,
  AVErrorDeviceLockedForConfigurationByAnotherProcess = -11817,
  AVErrorApplicationIsNotAuthorizedToUseDevice = -11852,
};
// Errors thrown by AVCaptureDeviceInput and lockForConfiguration, and passed
// to photo delegates, are NSErrors in this domain.
foundation::NSError makeAVError(AVErrorCode code, const std::string& description);

enum class AVAuthorizationStatus { notDetermined, restricted, denied, authorized };

// Key-value observation stand-in: keeps the handler registered until
// invalidate() or destruction.
class NSKeyValueObservation {
 public:
  ~NSKeyValueObservation();
  NSKeyValueObservation(const NSKeyValueObservation&) = delete;
  NSKeyValueObservation& operator=(const NSKeyValueObservation&) = delete;
  void invalidate();

 private:
  friend class AVCaptureDevice;
  explicit NSKeyValueObservation(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  std::mutex m_;
  std::function<void()> cancel_;
};

struct NSKeyValueObservingOptions {
  bool initial = false;  // call the handler once, synchronously, during registration
  bool new_ = true;      // report the new value (always filled in here)
  bool old = false;      // report the old value of a change
};

template <class T>
struct NSKeyValueObservedChange {
  std::optional<T> newValue;
  std::optional<T> oldValue;
};

class AVCaptureDevice : public std::enable_shared_from_this<AVCaptureDevice> {
 public:
  enum class DeviceType {
    builtInWideAngleCamera,
    builtInUltraWideCamera,
    builtInTelephotoCamera,
    builtInDualCamera,
    builtInTrueDepthCamera,
    external,
  };
  enum class Position { unspecified = 0, back = 1, front = 2 };
  enum class TorchMode { off = 0, on = 1, auto_ = 2 };
  enum class FlashMode { off = 0, on = 1, auto_ = 2 };
  enum class KeyPath { isAdjustingFocus, isAdjustingExposure, torchMode };

  static constexpr float maxAvailableTorchLevel = 1.0f;

  // The first device of the type and position that delivers the media (an
  // unspecified position matches any); null when none exists.
  static std::shared_ptr<AVCaptureDevice> default_(DeviceType deviceType,
                                                   std::optional<AVMediaType> mediaType, Position position);
  // The first video device of any type and position.
  static std::shared_ptr<AVCaptureDevice> default_(AVMediaType mediaType);

  class DiscoverySession {
   public:
    DiscoverySession(std::vector<DeviceType> deviceTypes, std::optional<AVMediaType> mediaType,
                     Position position);
    // Matching devices at the time of the call, virtual cameras first, in
    // registration order.
    std::vector<std::shared_ptr<AVCaptureDevice>> devices() const;

   private:
    std::vector<DeviceType> types_;
    std::optional<AVMediaType> media_;
    Position position_;
  };

  // Authorisation: always authorised here, unless a test denied it. A denied
  // or restricted status makes AVCaptureDeviceInput creation throw.
  static AVAuthorizationStatus authorizationStatus(AVMediaType mediaType);
  // Calls the handler with the answer on a global queue.
  static void requestAccess(AVMediaType mediaType, std::function<void(bool granted)> completionHandler);
  static void setAuthorizationStatusForTesting(AVAuthorizationStatus status);

  ~AVCaptureDevice();

  const std::string& uniqueID() const;
  const std::string& localizedName() const;
  DeviceType deviceType() const;
  Position position() const;
  bool hasMediaType(AVMediaType mediaType) const { return mediaType == AVMediaType::video; }
  // False once a virtual camera has been unregistered.
  bool isConnected() const;
  // The nominal frame rate (frames per second).
  double frameRate() const;

  // Configuration lock. Throws an NSError (AVFoundationErrorDomain) when the
  // device is disconnected or another client holds the lock (test hook).
  void lockForConfiguration();
  void unlockForConfiguration();
  bool isLockedForConfiguration() const;

  // Torch. Setting the mode (or a level) without holding the configuration
  // lock, or on a device without a torch, is a caller bug and throws
  // std::logic_error, as the platform raises an exception.
  bool hasTorch() const;
  bool isTorchAvailable() const;
  bool isTorchActive() const;
  TorchMode torchMode() const;
  void setTorchMode(TorchMode mode);
  bool isTorchModeSupported(TorchMode mode) const;
  float torchLevel() const;
  // Level in (0, 1]; anything else throws std::invalid_argument.
  void setTorchModeOn(float level);

  bool hasFlash() const;
  bool isFlashAvailable() const;

  // Focus and exposure: true while the camera adjusts (from the start of a
  // capture until it has delivered its settle-frame count), false after.
  bool isAdjustingFocus() const;
  bool isAdjustingExposure() const;

  // Observes isAdjustingFocus, isAdjustingExposure or torchMode (as 0/1/2).
  // With `initial` the handler runs once at once, on the calling thread;
  // changes arrive on the thread that made them (the capture thread for focus
  // and exposure). Handlers run without any device lock held.
  using BoolChangeHandler =
      std::function<void(AVCaptureDevice& device, const NSKeyValueObservedChange<bool>&)>;
  std::shared_ptr<NSKeyValueObservation> observe(KeyPath keyPath, NSKeyValueObservingOptions options,
                                                 BoolChangeHandler changeHandler);

  // Internal: the implementation object shared with the capture pipeline.
  detail::DeviceCore& core() const { return *core_; }
  explicit AVCaptureDevice(std::shared_ptr<detail::DeviceCore> core);

 private:
  std::shared_ptr<detail::DeviceCore> core_;
};

}  // namespace avf
