// Core Media: times, sample buffers and their attachments, and the property
// dictionary keys (Core Video, ImageIO) that travel with camera frames.
//
// A CMSampleBuffer is a shared reference (CMSampleBufferRef) to one frame: an
// image buffer (absent for dropped-frame notices), a presentation time and a
// set of attachments. Attachments may be read and written from any thread;
// the image buffer is immutable once the buffer exists.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "morvik/platform/avf/CoreVideo.h"

namespace avf {

// ----- Property-list values (CFDictionary / CFNumber / CFString stand-ins) -----

class CFValue;
using CFDictionary = std::map<std::string, CFValue, std::less<>>;

class CFValue {
 public:
  using Storage = std::variant<std::monostate, bool, std::int64_t, double, std::string,
                               std::shared_ptr<const CFDictionary>>;

  CFValue() = default;
  CFValue(bool b) : v_(b) {}
  CFValue(int i) : v_(std::int64_t{i}) {}
  CFValue(std::int64_t i) : v_(i) {}
  CFValue(std::uint32_t i) : v_(std::int64_t{i}) {}
  CFValue(double d) : v_(d) {}
  CFValue(std::string s) : v_(std::move(s)) {}
  CFValue(const char* s) : v_(std::string(s)) {}
  CFValue(CFDictionary d) : v_(std::make_shared<const CFDictionary>(std::move(d))) {}

  bool isNull() const { return std::holds_alternative<std::monostate>(v_); }
  // Integers and floating-point values (a CFNumber); nothing for other kinds.
  std::optional<double> number() const;
  std::optional<std::int64_t> integer() const;
  std::optional<bool> boolean() const;
  const std::string* string() const;
  const CFDictionary* dictionary() const;
  const Storage& storage() const { return v_; }

 private:
  Storage v_;
};

// kCFAllocatorDefault: allocators have no meaning here; kept for call shapes.
inline constexpr std::nullptr_t kCFAllocatorDefault = nullptr;

// ----- Keys -----------------------------------------------------------------------

// Core Video pixel-buffer attributes (videoSettings of a video data output).
inline constexpr const char* kCVPixelBufferPixelFormatTypeKey = "PixelFormatType";
inline constexpr const char* kCVPixelBufferWidthKey = "Width";
inline constexpr const char* kCVPixelBufferHeightKey = "Height";

// ImageIO metadata keys carried in a frame's attachments.
inline constexpr const char* kCGImagePropertyExifDictionary = "{Exif}";
inline constexpr const char* kCGImagePropertyExifBrightnessValue = "BrightnessValue";
inline constexpr const char* kCGImagePropertyExifExposureTime = "ExposureTime";
inline constexpr const char* kCGImagePropertyExifISOSpeedRatings = "ISOSpeedRatings";
inline constexpr const char* kCGImagePropertyOrientation = "Orientation";

// Sample-buffer attachment keys.
inline constexpr const char* kCMSampleBufferAttachmentKey_DroppedFrameReason = "DroppedFrameReason";
inline constexpr const char* kCMSampleBufferDroppedFrameReason_FrameWasLate = "FrameWasLate";
inline constexpr const char* kCMSampleBufferDroppedFrameReason_OutOfBuffers = "OutOfBuffers";
inline constexpr const char* kCMSampleBufferAttachmentKey_TrimDurationAtStart = "TrimDurationAtStart";

// ----- Time ------------------------------------------------------------------------

struct CMTime {
  std::int64_t value = 0;
  std::int32_t timescale = 0;  // 0: invalid
  std::uint32_t flags = 0;     // bit 0: valid
  std::int64_t epoch = 0;

  static constexpr std::uint32_t kValid = 1;
  static CMTime invalid() { return {}; }
  static CMTime zero() { return {0, 1, kValid, 0}; }
  bool isValid() const { return (flags & kValid) != 0 && timescale > 0; }
  // NaN for an invalid time.
  double seconds() const;

  friend bool operator==(const CMTime& a, const CMTime& b);
  friend std::partial_ordering operator<=>(const CMTime& a, const CMTime& b);
};

CMTime CMTimeMake(std::int64_t value, std::int32_t timescale);
CMTime CMTimeMakeWithSeconds(double seconds, std::int32_t preferredTimescale);
double CMTimeGetSeconds(const CMTime& time);
// {"value", "timescale", "flags", "epoch"}, as the platform writes it.
CFDictionary CMTimeCopyAsDictionary(const CMTime& time, std::nullptr_t allocator = kCFAllocatorDefault);

// ----- Sample buffers -------------------------------------------------------------------

// Compressed bytes of one sample (a CMBlockBuffer): immutable once made.
class CMBlockBuffer {
 public:
  explicit CMBlockBuffer(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  const std::uint8_t* data() const { return bytes_.data(); }
  std::size_t dataLength() const { return bytes_.size(); }

 private:
  std::vector<std::uint8_t> bytes_;
};

// What a compressed sample holds (codec and its parameters). Opaque here: the
// media layer that reads files defines it.
class CMFormatDescription;

enum CMAttachmentMode : std::uint32_t {
  kCMAttachmentMode_ShouldNotPropagate = 0,
  kCMAttachmentMode_ShouldPropagate = 1,
};

class CMSampleBuffer {
 public:
  // A frame; the image buffer may be null (a dropped-frame notice).
  static std::shared_ptr<CMSampleBuffer> make(CVPixelBufferRef imageBuffer, CMTime presentationTimeStamp,
                                              CMTime duration = CMTime::invalid());
  // A compressed sample (audio or video bytes as stored in a file).
  static std::shared_ptr<CMSampleBuffer> make(std::shared_ptr<const CMBlockBuffer> dataBuffer,
                                              std::shared_ptr<const CMFormatDescription> formatDescription,
                                              CMTime presentationTimeStamp, CMTime decodeTimeStamp,
                                              CMTime duration);

  const CVPixelBufferRef& imageBuffer() const { return image_; }
  // Null for uncompressed frames.
  const std::shared_ptr<const CMBlockBuffer>& dataBuffer() const { return data_; }
  const std::shared_ptr<const CMFormatDescription>& formatDescription() const { return format_; }
  CMTime presentationTimeStamp() const { return pts_; }
  // Invalid when the sample's decode order is its presentation order.
  CMTime decodeTimeStamp() const { return dts_; }
  CMTime duration() const { return duration_; }

  void setAttachment(const std::string& key, CFValue value, CMAttachmentMode mode);
  std::optional<CFValue> attachment(const std::string& key, CMAttachmentMode* modeOut = nullptr) const;
  void removeAttachment(const std::string& key);
  // The attachments of one mode; nothing when there are none.
  std::optional<CFDictionary> attachments(CMAttachmentMode mode) const;
  // Copies every attachment onto another buffer (keeping modes).
  void propagateAttachments(CMSampleBuffer& to) const;

 private:
  CMSampleBuffer() = default;
  CVPixelBufferRef image_;
  std::shared_ptr<const CMBlockBuffer> data_;
  std::shared_ptr<const CMFormatDescription> format_;
  CMTime pts_, dts_, duration_;
  mutable std::mutex m_;
  std::map<std::string, std::pair<CFValue, CMAttachmentMode>, std::less<>> attachments_;
};

using CMSampleBufferRef = std::shared_ptr<CMSampleBuffer>;

// The platform's C functions, null-safe: a null buffer yields nothing.
CVPixelBufferRef CMSampleBufferGetImageBuffer(const CMSampleBufferRef& buffer);
CMTime CMSampleBufferGetPresentationTimeStamp(const CMSampleBufferRef& buffer);
CMTime CMSampleBufferGetDuration(const CMSampleBufferRef& buffer);
std::optional<CFValue> CMGetAttachment(const CMSampleBufferRef& buffer, const std::string& key,
                                       CMAttachmentMode* attachmentModeOut = nullptr);
void CMSetAttachment(const CMSampleBufferRef& buffer, const std::string& key, CFValue value,
                     CMAttachmentMode attachmentMode);
void CMRemoveAttachment(const CMSampleBufferRef& buffer, const std::string& key);
std::optional<CFDictionary> CMCopyDictionaryOfAttachments(std::nullptr_t allocator,
                                                          const CMSampleBufferRef& buffer,
                                                          CMAttachmentMode attachmentMode);

}  // namespace avf
