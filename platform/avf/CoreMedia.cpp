#include "morvik/platform/avf/CoreMedia.h"

#include <cmath>
#include <limits>

namespace avf {

namespace {
__extension__ typedef __int128 Wide;
}  // namespace

std::optional<double> CFValue::number() const {
  if (auto* i = std::get_if<std::int64_t>(&v_)) return static_cast<double>(*i);
  if (auto* d = std::get_if<double>(&v_)) return *d;
  return std::nullopt;
}

std::optional<std::int64_t> CFValue::integer() const {
  if (auto* i = std::get_if<std::int64_t>(&v_)) return *i;
  if (auto* d = std::get_if<double>(&v_)) {
    if (std::isfinite(*d)) return static_cast<std::int64_t>(*d);
  }
  return std::nullopt;
}

std::optional<bool> CFValue::boolean() const {
  if (auto* b = std::get_if<bool>(&v_)) return *b;
  return std::nullopt;
}

const std::string* CFValue::string() const { return std::get_if<std::string>(&v_); }

const CFDictionary* CFValue::dictionary() const {
  if (auto* d = std::get_if<std::shared_ptr<const CFDictionary>>(&v_)) return d->get();
  return nullptr;
}

double CMTime::seconds() const {
  if (!isValid()) return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(value) / static_cast<double>(timescale);
}

bool operator==(const CMTime& a, const CMTime& b) { return (a <=> b) == std::partial_ordering::equivalent; }

std::partial_ordering operator<=>(const CMTime& a, const CMTime& b) {
  if (!a.isValid() || !b.isValid()) {
    if (!a.isValid() && !b.isValid()) return std::partial_ordering::equivalent;
    return std::partial_ordering::unordered;
  }
  // Cross-multiply in 128 bits so that different timescales compare exactly.
  const Wide l = static_cast<Wide>(a.value) * b.timescale;
  const Wide r = static_cast<Wide>(b.value) * a.timescale;
  if (l < r) return std::partial_ordering::less;
  if (l > r) return std::partial_ordering::greater;
  return std::partial_ordering::equivalent;
}

CMTime CMTimeMake(std::int64_t value, std::int32_t timescale) {
  if (timescale <= 0) return CMTime::invalid();
  return {value, timescale, CMTime::kValid, 0};
}

CMTime CMTimeMakeWithSeconds(double seconds, std::int32_t preferredTimescale) {
  if (!std::isfinite(seconds) || preferredTimescale <= 0) return CMTime::invalid();
  return CMTimeMake(std::llround(seconds * preferredTimescale), preferredTimescale);
}

double CMTimeGetSeconds(const CMTime& time) { return time.seconds(); }

CFDictionary CMTimeCopyAsDictionary(const CMTime& time, std::nullptr_t) {
  return CFDictionary{{"value", CFValue(time.value)},
                      {"timescale", CFValue(static_cast<std::int64_t>(time.timescale))},
                      {"flags", CFValue(static_cast<std::int64_t>(time.flags))},
                      {"epoch", CFValue(time.epoch)}};
}

std::shared_ptr<CMSampleBuffer> CMSampleBuffer::make(CVPixelBufferRef imageBuffer,
                                                     CMTime presentationTimeStamp, CMTime duration) {
  auto buffer = std::shared_ptr<CMSampleBuffer>(new CMSampleBuffer());
  buffer->image_ = std::move(imageBuffer);
  buffer->pts_ = presentationTimeStamp;
  buffer->duration_ = duration;
  return buffer;
}

std::shared_ptr<CMSampleBuffer> CMSampleBuffer::make(
    std::shared_ptr<const CMBlockBuffer> dataBuffer,
    std::shared_ptr<const CMFormatDescription> formatDescription, CMTime presentationTimeStamp,
    CMTime decodeTimeStamp, CMTime duration) {
  auto buffer = std::shared_ptr<CMSampleBuffer>(new CMSampleBuffer());
  buffer->data_ = std::move(dataBuffer);
  buffer->format_ = std::move(formatDescription);
  buffer->pts_ = presentationTimeStamp;
  buffer->dts_ = decodeTimeStamp;
  buffer->duration_ = duration;
  return buffer;
}

void CMSampleBuffer::setAttachment(const std::string& key, CFValue value, CMAttachmentMode mode) {
  std::lock_guard lock(m_);
  attachments_[key] = {std::move(value), mode};
}

std::optional<CFValue> CMSampleBuffer::attachment(const std::string& key, CMAttachmentMode* modeOut) const {
  std::lock_guard lock(m_);
  auto it = attachments_.find(key);
  if (it == attachments_.end()) return std::nullopt;
  if (modeOut != nullptr) *modeOut = it->second.second;
  return it->second.first;
}

void CMSampleBuffer::removeAttachment(const std::string& key) {
  std::lock_guard lock(m_);
  attachments_.erase(key);
}

std::optional<CFDictionary> CMSampleBuffer::attachments(CMAttachmentMode mode) const {
  std::lock_guard lock(m_);
  CFDictionary out;
  for (const auto& [key, entry] : attachments_) {
    if (entry.second == mode) out.emplace(key, entry.first);
  }
  if (out.empty()) return std::nullopt;
  return out;
}

void CMSampleBuffer::propagateAttachments(CMSampleBuffer& to) const {
  if (&to == this) return;
  std::map<std::string, std::pair<CFValue, CMAttachmentMode>, std::less<>> copy;
  {
    std::lock_guard lock(m_);
    copy = attachments_;
  }
  std::lock_guard lock(to.m_);
  for (auto& [key, entry] : copy) to.attachments_[key] = std::move(entry);
}

CVPixelBufferRef CMSampleBufferGetImageBuffer(const CMSampleBufferRef& buffer) {
  return buffer ? buffer->imageBuffer() : nullptr;
}

CMTime CMSampleBufferGetPresentationTimeStamp(const CMSampleBufferRef& buffer) {
  return buffer ? buffer->presentationTimeStamp() : CMTime::invalid();
}

CMTime CMSampleBufferGetDuration(const CMSampleBufferRef& buffer) {
  return buffer ? buffer->duration() : CMTime::invalid();
}

std::optional<CFValue> CMGetAttachment(const CMSampleBufferRef& buffer, const std::string& key,
                                       CMAttachmentMode* attachmentModeOut) {
  if (!buffer) return std::nullopt;
  return buffer->attachment(key, attachmentModeOut);
}

void CMSetAttachment(const CMSampleBufferRef& buffer, const std::string& key, CFValue value,
                     CMAttachmentMode attachmentMode) {
  if (buffer) buffer->setAttachment(key, std::move(value), attachmentMode);
}

void CMRemoveAttachment(const CMSampleBufferRef& buffer, const std::string& key) {
  if (buffer) buffer->removeAttachment(key);
}

std::optional<CFDictionary> CMCopyDictionaryOfAttachments(std::nullptr_t, const CMSampleBufferRef& buffer,
                                                          CMAttachmentMode attachmentMode) {
  if (!buffer) return std::nullopt;
  return buffer->attachments(attachmentMode);
}

}  // namespace avf
