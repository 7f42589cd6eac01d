// The preview layer: a layer that shows a session's video (no drawing here)
// and owns the preview connection (orientation and mirroring of what the
// user sees). Layer properties are main-thread only, like every layer; the
// session and connection accessors may be called from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "morvik/platform/avf/AVCaptureSession.h"
#include "morvik/platform/quartz/CALayer.h"

namespace avf {

enum class AVLayerVideoGravity { resize, resizeAspect, resizeAspectFill };

class AVCaptureVideoPreviewLayer : public quartz::CALayer {
 public:
  AVCaptureVideoPreviewLayer() = default;
  explicit AVCaptureVideoPreviewLayer(std::shared_ptr<AVCaptureSession> session)
      : session_(std::move(session)) {}
  static std::shared_ptr<AVCaptureVideoPreviewLayer> make(std::shared_ptr<AVCaptureSession> session) {
    return std::make_shared<AVCaptureVideoPreviewLayer>(std::move(session));
  }

  std::shared_ptr<AVCaptureSession> session() const;
  void setSession(std::shared_ptr<AVCaptureSession> session);

  AVLayerVideoGravity videoGravity() const;
  void setVideoGravity(AVLayerVideoGravity gravity);

  // The connection to the session's video input: portrait by default, and
  // mirrored automatically for front cameras. Null without a session or
  // without a video input in it.
  std::shared_ptr<AVCaptureConnection> connection() const;

  std::string className() const override { return "AVCaptureVideoPreviewLayer"; }

 private:
  mutable std::mutex m_;
  std::shared_ptr<AVCaptureSession> session_;
  AVLayerVideoGravity gravity_ = AVLayerVideoGravity::resizeAspect;
};

}  // namespace avf
