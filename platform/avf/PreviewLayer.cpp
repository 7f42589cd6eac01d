#include "morvik/platform/avf/AVCaptureVideoPreviewLayer.h"

namespace avf {

std::shared_ptr<AVCaptureSession> AVCaptureVideoPreviewLayer::session() const {
  std::lock_guard lock(m_);
  return session_;
}

void AVCaptureVideoPreviewLayer::setSession(std::shared_ptr<AVCaptureSession> session) {
  std::lock_guard lock(m_);
  session_ = std::move(session);
}

AVLayerVideoGravity AVCaptureVideoPreviewLayer::videoGravity() const {
  std::lock_guard lock(m_);
  return gravity_;
}

void AVCaptureVideoPreviewLayer::setVideoGravity(AVLayerVideoGravity gravity) {
  std::lock_guard lock(m_);
  gravity_ = gravity;
}

std::shared_ptr<AVCaptureConnection> AVCaptureVideoPreviewLayer::connection() const {
  auto s = session();
  return s ? s->previewConnection() : nullptr;
}

}  // namespace avf
