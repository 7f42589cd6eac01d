// Video data and photo outputs.
#include <algorithm>
#include <atomic>

#include "Internal.h"
#include "morvik/platform/avf/AVCaptureOutputs.h"

namespace avf {

namespace detail {

int rotationFor(AVCaptureVideoOrientation o) {
  // The sensor's own orientation is landscapeRight: buffers are turned from there.
  switch (o) {
    case AVCaptureVideoOrientation::portrait:
      return 90;
    case AVCaptureVideoOrientation::portraitUpsideDown:
      return 270;
    case AVCaptureVideoOrientation::landscapeLeft:
      return 180;
    case AVCaptureVideoOrientation::landscapeRight:
      return 0;
  }
  return 0;
}

int exifOrientationFor(AVCaptureVideoOrientation o) {
  switch (o) {
    case AVCaptureVideoOrientation::portrait:
      return 6;  // right
    case AVCaptureVideoOrientation::portraitUpsideDown:
      return 8;  // left
    case AVCaptureVideoOrientation::landscapeRight:
      return 1;  // up
    case AVCaptureVideoOrientation::landscapeLeft:
      return 3;  // down
  }
  return 6;
}

struct VideoDeliveryState {
  std::mutex m;
  bool discardLate = true;
  OSType format = kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange;
  std::weak_ptr<AVCaptureVideoDataOutputSampleBufferDelegate> delegate;
  std::optional<dispatch::DispatchQueue> queue;
  int inFlight = 0;
  std::vector<CMSampleBufferRef> pendingDrops;
  bool drainPosted = false;
  std::atomic<std::uint64_t> delivered{0}, dropped{0};
  DeliveryGate gate;
};

struct PhotoState {
  std::mutex m;
  double quality = 0.9;
  dispatch::DispatchQueue queue{"avf.photo.output", {false, dispatch::DispatchQoS::userInitiated}};
};

}  // namespace detail

// ----- Video data output ---------------------------------------------------------------------

AVCaptureVideoDataOutput::AVCaptureVideoDataOutput()
    : state_(std::make_shared<detail::VideoDeliveryState>()) {}
AVCaptureVideoDataOutput::~AVCaptureVideoDataOutput() = default;

std::shared_ptr<AVCaptureVideoDataOutput> AVCaptureVideoDataOutput::make() {
  return std::shared_ptr<AVCaptureVideoDataOutput>(new AVCaptureVideoDataOutput());
}

bool AVCaptureVideoDataOutput::alwaysDiscardsLateVideoFrames() const {
  std::lock_guard lock(state_->m);
  return state_->discardLate;
}

void AVCaptureVideoDataOutput::setAlwaysDiscardsLateVideoFrames(bool discards) {
  std::lock_guard lock(state_->m);
  state_->discardLate = discards;
}

CFDictionary AVCaptureVideoDataOutput::videoSettings() const {
  std::lock_guard lock(state_->m);
  return CFDictionary{{kCVPixelBufferPixelFormatTypeKey, CFValue(static_cast<std::int64_t>(state_->format))}};
}

bool AVCaptureVideoDataOutput::setVideoSettings(const CFDictionary& settings) {
  OSType format = kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange;
  if (auto it = settings.find(kCVPixelBufferPixelFormatTypeKey); it != settings.end()) {
    auto value = it->second.integer();
    if (!value) return false;
    format = static_cast<OSType>(*value);
  }
  const auto formats = availableVideoPixelFormatTypes();
  if (std::find(formats.begin(), formats.end(), format) == formats.end()) return false;
  std::lock_guard lock(state_->m);
  state_->format = format;
  return true;
}

std::vector<OSType> AVCaptureVideoDataOutput::availableVideoPixelFormatTypes() const {
  return {kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange, kCVPixelFormatType_420YpCbCr8BiPlanarFullRange,
          kCVPixelFormatType_32BGRA};
}

void AVCaptureVideoDataOutput::setSampleBufferDelegate(
    const std::shared_ptr<AVCaptureVideoDataOutputSampleBufferDelegate>& delegate,
    const dispatch::DispatchQueue& queue) {
  std::lock_guard lock(state_->m);
  state_->delegate = delegate;
  state_->queue = delegate ? std::optional<dispatch::DispatchQueue>(queue) : std::nullopt;
}

void AVCaptureVideoDataOutput::setSampleBufferDelegate(std::nullptr_t) {
  std::lock_guard lock(state_->m);
  state_->delegate.reset();
  state_->queue.reset();
}

std::uint64_t AVCaptureVideoDataOutput::deliveredFrameCount() const { return state_->delivered.load(); }
std::uint64_t AVCaptureVideoDataOutput::droppedFrameCount() const { return state_->dropped.load(); }

void AVCaptureVideoDataOutput::sessionStarted() { state_->gate.open(); }

void AVCaptureVideoDataOutput::sessionStopping() {
  state_->gate.close();
  std::lock_guard lock(state_->m);
  state_->pendingDrops.clear();
}

void AVCaptureVideoDataOutput::handleFrame(const CMSampleBufferRef& frame,
                                           const std::shared_ptr<AVCaptureConnection>& connection) {
  auto state = state_;
  auto self = std::static_pointer_cast<AVCaptureVideoDataOutput>(shared_from_this());
  std::weak_ptr<AVCaptureVideoDataOutput> weakSelf = self;
  const std::uint64_t run = state->gate.run();
  std::optional<dispatch::DispatchQueue> queue;
  std::weak_ptr<AVCaptureVideoDataOutputSampleBufferDelegate> delegate;
  OSType format;
  {
    std::lock_guard lock(state->m);
    if (!state->queue || state->delegate.expired()) return;
    queue = *state->queue;
    delegate = state->delegate;
    format = state->format;
    const int limit = state->discardLate ? 1 : 4;
    if (state->inFlight >= limit) {
      // The delegate is still busy: drop instead of queueing, and tell it.
      state->dropped.fetch_add(1);
      auto notice = CMSampleBuffer::make(nullptr, frame->presentationTimeStamp(), frame->duration());
      notice->setAttachment(kCMSampleBufferAttachmentKey_DroppedFrameReason,
                            CFValue(kCMSampleBufferDroppedFrameReason_FrameWasLate),
                            kCMAttachmentMode_ShouldPropagate);
      state->pendingDrops.push_back(std::move(notice));
      if (state->drainPosted) return;
      state->drainPosted = true;
      queue->async([state, weakSelf, delegate, connection, run] {
        std::vector<CMSampleBufferRef> drops;
        {
          std::lock_guard lock(state->m);
          drops.swap(state->pendingDrops);
          state->drainPosted = false;
        }
        if (!state->gate.enter(run)) return;
        auto d = delegate.lock();
        auto o = weakSelf.lock();
        if (d && o) {
          for (const auto& drop : drops) d->captureOutputDidDrop(*o, drop, *connection);
        }
        state->gate.exit();
      });
      return;
    }
    ++state->inFlight;
  }
  // Orientation, mirroring and pixel format of this connection (no copy when
  // nothing changes).
  CMSampleBufferRef out = frame;
  auto image =
      detail::transformFrame(frame->imageBuffer(), detail::rotationFor(connection->videoOrientation()),
                             connection->isVideoMirrored(), format);
  if (image != frame->imageBuffer()) {
    out = CMSampleBuffer::make(image, frame->presentationTimeStamp(), frame->duration());
    frame->propagateAttachments(*out);
  }
  queue->async([state, weakSelf, delegate, connection, out, run] {
    if (state->gate.enter(run)) {
      auto d = delegate.lock();
      auto o = weakSelf.lock();
      if (d && o) {
        d->captureOutput(*o, out, *connection);
        state->delivered.fetch_add(1);
      }
      state->gate.exit();
    }
    std::lock_guard lock(state->m);
    --state->inFlight;
  });
}

// ----- Photo output ----------------------------------------------------------------------------

AVCapturePhotoSettings AVCapturePhotoSettings::make() {
  static std::atomic<std::int64_t> next{1};
  AVCapturePhotoSettings s;
  s.uniqueID = next.fetch_add(1);
  return s;
}

AVCapturePhoto::AVCapturePhoto(foundation::Data jpeg, std::int64_t settingsID, CMTime timestamp,
                               std::size_t width, std::size_t height,
                               quartz::CGImagePropertyOrientation orientation,
                               AVCaptureDevice::FlashMode flashMode)
    : data_(std::move(jpeg)),
      settingsID_(settingsID),
      timestamp_(timestamp),
      width_(width),
      height_(height),
      orientation_(orientation),
      flashMode_(flashMode) {}

AVCapturePhotoOutput::AVCapturePhotoOutput() : state_(std::make_shared<detail::PhotoState>()) {}
AVCapturePhotoOutput::~AVCapturePhotoOutput() = default;

std::shared_ptr<AVCapturePhotoOutput> AVCapturePhotoOutput::make() {
  return std::shared_ptr<AVCapturePhotoOutput>(new AVCapturePhotoOutput());
}

std::vector<AVCaptureDevice::FlashMode> AVCapturePhotoOutput::supportedFlashModes() const {
  auto c = connection(AVMediaType::video);
  auto device = c ? c->device() : nullptr;
  if (device && device->hasFlash()) {
    return {AVCaptureDevice::FlashMode::off, AVCaptureDevice::FlashMode::on,
            AVCaptureDevice::FlashMode::auto_};
  }
  return {AVCaptureDevice::FlashMode::off};
}

double AVCapturePhotoOutput::jpegQuality() const {
  std::lock_guard lock(state_->m);
  return state_->quality;
}

void AVCapturePhotoOutput::setJPEGQuality(double quality) {
  std::lock_guard lock(state_->m);
  state_->quality = std::clamp(quality, 0.0, 1.0);
}

void AVCapturePhotoOutput::sessionStarted() {}
void AVCapturePhotoOutput::sessionStopping() {}
void AVCapturePhotoOutput::handleFrame(const CMSampleBufferRef&,
                                       const std::shared_ptr<AVCaptureConnection>&) {}

void AVCapturePhotoOutput::capturePhoto(const AVCapturePhotoSettings& with,
                                        const std::shared_ptr<AVCapturePhotoCaptureDelegate>& delegate) {
  if (!delegate) return;
  auto self = std::static_pointer_cast<AVCapturePhotoOutput>(shared_from_this());
  const double quality = jpegQuality();
  // The delegate is held strongly by the block until it has been answered.
  state_->queue.async([self, with, delegate, quality] {
    auto fail = [&](AVErrorCode code, const std::string& text) {
      delegate->photoOutput(*self, nullptr, makeAVError(code, text));
    };
    auto session = self->session();
    if (!session) return fail(AVErrorSessionNotRunning, "The photo output is not in a capture session.");
    if (!session->isRunning()) return fail(AVErrorSessionNotRunning, "The capture session is not running.");
    auto frame = session->core().latestFrame();
    if (!frame || !frame->imageBuffer())
      return fail(AVErrorNoDataCaptured, "No frame has been captured yet.");
    auto connection = self->connection(AVMediaType::video);
    const auto orientation =
        connection ? connection->videoOrientation() : AVCaptureVideoOrientation::portrait;
    const bool mirrored = connection && connection->isVideoMirrored();
    const int exif = detail::exifOrientationFor(orientation);
    auto jpeg = detail::encodeJPEG(frame->imageBuffer(), exif, mirrored, quality);
    if (jpeg.empty()) return fail(AVErrorNoDataCaptured, "The photo could not be encoded.");
    auto photo = std::make_shared<AVCapturePhoto>(
        foundation::Data(std::move(jpeg)), with.uniqueID, frame->presentationTimeStamp(),
        frame->imageBuffer()->width(), frame->imageBuffer()->height(),
        static_cast<quartz::CGImagePropertyOrientation>(exif), with.flashMode);
    delegate->photoOutput(*self, photo, std::nullopt);
  });
}

}  // namespace avf
