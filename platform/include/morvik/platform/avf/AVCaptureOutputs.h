// The session's outputs: video frames to a delegate queue, still photos, and
// machine-readable codes and faces found in the frames.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "morvik/platform/avf/AVCaptureSession.h"
#include "morvik/platform/dispatch/Dispatch.h"
#include "morvik/platform/foundation/Data.h"
#include "morvik/platform/foundation/Error.h"
#include "morvik/platform/quartz/CGGeometry.h"
#include "morvik/platform/quartz/CGImage.h"

namespace avf {

namespace detail {
struct VideoDeliveryState;
struct MetadataState;
struct PhotoState;
}  // namespace detail

// ----- Video data ------------------------------------------------------------------

class AVCaptureVideoDataOutput;

// Called on the delegate queue, one frame at a time, in capture order.
class AVCaptureVideoDataOutputSampleBufferDelegate {
 public:
  virtual ~AVCaptureVideoDataOutputSampleBufferDelegate() = default;
  virtual void captureOutput(AVCaptureOutput& output, const CMSampleBufferRef& didOutput,
                             AVCaptureConnection& from) {
    (void)output, (void)didOutput, (void)from;
  }
  // A frame was discarded because the delegate was still busy; the buffer
  // carries no image, only its time and kCMSampleBufferAttachmentKey_DroppedFrameReason.
  // (The platform's captureOutput(_:didDrop:from:).)
  virtual void captureOutputDidDrop(AVCaptureOutput& output, const CMSampleBufferRef& didDrop,
                                    AVCaptureConnection& from) {
    (void)output, (void)didDrop, (void)from;
  }
};

class AVCaptureVideoDataOutput : public AVCaptureOutput {
 public:
  static std::shared_ptr<AVCaptureVideoDataOutput> make();
  ~AVCaptureVideoDataOutput() override;

  // True (the default): a frame arriving while the delegate still works on an
  // earlier one is dropped. False: up to four frames wait on the delegate
  // queue before frames are dropped.
  bool alwaysDiscardsLateVideoFrames() const;
  void setAlwaysDiscardsLateVideoFrames(bool discards);

  // kCVPixelBufferPixelFormatTypeKey: '420v' (the default), '420f' or 'BGRA'.
  // Other formats are refused (the settings stay as they were; returns false).
  CFDictionary videoSettings() const;
  bool setVideoSettings(const CFDictionary& settings);
  std::vector<OSType> availableVideoPixelFormatTypes() const;

  // The delegate is held weakly; frames go nowhere once it is gone. Replaces
  // any earlier delegate and queue; an empty delegate stops delivery.
  void setSampleBufferDelegate(const std::shared_ptr<AVCaptureVideoDataOutputSampleBufferDelegate>& delegate,
                               const dispatch::DispatchQueue& queue);
  void setSampleBufferDelegate(std::nullptr_t);

  // Counters for this output since it was made.
  std::uint64_t deliveredFrameCount() const;
  std::uint64_t droppedFrameCount() const;

 protected:
  void handleFrame(const CMSampleBufferRef& frame,
                   const std::shared_ptr<AVCaptureConnection>& connection) override;
  void sessionStarted() override;
  void sessionStopping() override;

 private:
  AVCaptureVideoDataOutput();
  std::shared_ptr<detail::VideoDeliveryState> state_;
};

// ----- Photos ------------------------------------------------------------------------

struct AVCapturePhotoSettings {
  AVCaptureDevice::FlashMode flashMode = AVCaptureDevice::FlashMode::off;
  std::int64_t uniqueID = 0;  // filled in by the constructor helper below
  static AVCapturePhotoSettings make();
};

class AVCapturePhoto {
 public:
  AVCapturePhoto(foundation::Data jpeg, std::int64_t settingsID, CMTime timestamp, std::size_t width,
                 std::size_t height, quartz::CGImagePropertyOrientation orientation,
                 AVCaptureDevice::FlashMode flashMode);
  // JPEG of the full frame as the sensor stored it, with an EXIF orientation
  // tag that turns it upright for the connection's orientation.
  std::optional<foundation::Data> fileDataRepresentation() const { return data_; }
  CMTime timestamp() const { return timestamp_; }
  std::size_t width() const { return width_; }
  std::size_t height() const { return height_; }
  quartz::CGImagePropertyOrientation orientation() const { return orientation_; }
  std::int64_t settingsUniqueID() const { return settingsID_; }
  AVCaptureDevice::FlashMode flashMode() const { return flashMode_; }

 private:
  foundation::Data data_;
  std::int64_t settingsID_;
  CMTime timestamp_;
  std::size_t width_, height_;
  quartz::CGImagePropertyOrientation orientation_;
  AVCaptureDevice::FlashMode flashMode_;
};

class AVCapturePhotoOutput;

class AVCapturePhotoCaptureDelegate {
 public:
  virtual ~AVCapturePhotoCaptureDelegate() = default;
  // Exactly one call per capturePhoto: the photo, or an error (and no photo).
  virtual void photoOutput(AVCapturePhotoOutput& output,
                           const std::shared_ptr<AVCapturePhoto>& didFinishProcessingPhoto,
                           const std::optional<foundation::NSError>& error) = 0;
};

class AVCapturePhotoOutput : public AVCaptureOutput {
 public:
  static std::shared_ptr<AVCapturePhotoOutput> make();
  ~AVCapturePhotoOutput() override;

  // Flash modes the current device supports ([off] without a flash).
  std::vector<AVCaptureDevice::FlashMode> supportedFlashModes() const;
  // JPEG quality of the photos, 0..1 (0.9 by default).
  double jpegQuality() const;
  void setJPEGQuality(double quality);

  // Takes the session's current frame as a still. The delegate is held
  // strongly until it has been answered, on an internal serial queue, with
  // the photo or an error (output in no session, session not running, no
  // frame captured yet, encoding failed). May be called from any thread.
  void capturePhoto(const AVCapturePhotoSettings& with,
                    const std::shared_ptr<AVCapturePhotoCaptureDelegate>& delegate);

 protected:
  AVCaptureVideoOrientation defaultOrientation() const override {
    return AVCaptureVideoOrientation::portrait;
  }
  void handleFrame(const CMSampleBufferRef& frame,
                   const std::shared_ptr<AVCaptureConnection>& connection) override;
  void sessionStarted() override;
  void sessionStopping() override;

 private:
  AVCapturePhotoOutput();
  std::shared_ptr<detail::PhotoState> state_;
};

// ----- Metadata ------------------------------------------------------------------------

// Object types, with the platform's raw values.
struct AVMetadataObjectType {
  std::string rawValue;
  friend bool operator==(const AVMetadataObjectType&, const AVMetadataObjectType&) = default;
  friend auto operator<=>(const AVMetadataObjectType&, const AVMetadataObjectType&) = default;
};
inline const AVMetadataObjectType AVMetadataObjectTypePDF417Code{"org.iso.PDF417"};
inline const AVMetadataObjectType AVMetadataObjectTypeQRCode{"org.iso.QRCode"};
inline const AVMetadataObjectType AVMetadataObjectTypeFace{"face"};

// Bounds are normalised to the sensor's frame (0 to 1, origin top left, the
// landscape buffer as stored).
class AVMetadataObject {
 public:
  virtual ~AVMetadataObject() = default;
  AVMetadataObjectType type;
  quartz::CGRect bounds;
  CMTime time;

 protected:
  AVMetadataObject(AVMetadataObjectType t, quartz::CGRect b, CMTime tm)
      : type(std::move(t)), bounds(b), time(tm) {}
};

class AVMetadataMachineReadableCodeObject : public AVMetadataObject {
 public:
  AVMetadataMachineReadableCodeObject(AVMetadataObjectType t, quartz::CGRect b, CMTime tm,
                                      std::optional<std::string> value, std::vector<quartz::CGPoint> corners)
      : AVMetadataObject(std::move(t), b, tm), stringValue(std::move(value)), corners(std::move(corners)) {}
  std::optional<std::string> stringValue;
  std::vector<quartz::CGPoint> corners;  // normalised like bounds
};

class AVMetadataFaceObject : public AVMetadataObject {
 public:
  AVMetadataFaceObject(quartz::CGRect b, CMTime tm, std::int64_t id)
      : AVMetadataObject(AVMetadataObjectTypeFace, b, tm), faceID(id) {}
  std::int64_t faceID;
  std::optional<double> rollAngle;  // degrees
  std::optional<double> yawAngle;   // degrees
};

class AVCaptureMetadataOutput;

// Called on the delegate's queue with the objects found in one analysed
// frame; once with an empty list when objects that were reported disappear.
class AVCaptureMetadataOutputObjectsDelegate {
 public:
  virtual ~AVCaptureMetadataOutputObjectsDelegate() = default;
  virtual void metadataOutput(AVCaptureOutput& output,
                              const std::vector<std::shared_ptr<AVMetadataObject>>& didOutput,
                              AVCaptureConnection& from) = 0;
};

class AVCaptureMetadataOutput : public AVCaptureOutput {
 public:
  static std::shared_ptr<AVCaptureMetadataOutput> make();
  ~AVCaptureMetadataOutput() override;

  // PDF417, QR and face.
  std::vector<AVMetadataObjectType> availableMetadataObjectTypes() const;
  // Types that are not available are left out (the platform raises an
  // exception instead); empty by default, which analyses nothing.
  std::vector<AVMetadataObjectType> metadataObjectTypes() const;
  void setMetadataObjectTypes(const std::vector<AVMetadataObjectType>& types);
  // The area searched, normalised to the sensor frame (origin top left).
  quartz::CGRect rectOfInterest() const;
  void setRectOfInterest(const quartz::CGRect& rect);

  // The delegate is held weakly. Analysis runs on the output's own worker,
  // one frame at a time; frames arriving while it works are skipped, so
  // analysis never holds up video delivery.
  void setMetadataObjectsDelegate(const std::shared_ptr<AVCaptureMetadataOutputObjectsDelegate>& delegate,
                                  const dispatch::DispatchQueue& queue);
  void setMetadataObjectsDelegate(std::nullptr_t);

  std::uint64_t analysedFrameCount() const;
  std::uint64_t skippedFrameCount() const;

 protected:
  void handleFrame(const CMSampleBufferRef& frame,
                   const std::shared_ptr<AVCaptureConnection>& connection) override;
  void sessionStarted() override;
  void sessionStopping() override;

 private:
  AVCaptureMetadataOutput();
  std::shared_ptr<detail::MetadataState> state_;
};

}  // namespace avf
