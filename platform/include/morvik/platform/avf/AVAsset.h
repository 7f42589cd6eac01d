// Media files as assets: their tracks and what they say about themselves.
//
// An AVURLAsset reads a file's container once, when it is made, on the
// calling thread. A file that cannot be read (missing, empty, not a movie)
// gives an asset without tracks; its loadError() says why. Assets and tracks
// are immutable afterwards and may be shared between threads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "morvik/platform/avf/AVMediaType.h"
#include "morvik/platform/avf/CoreMedia.h"
#include "morvik/platform/foundation/URL.h"
#include "morvik/platform/quartz/CGGeometry.h"

namespace avf {

class AVAssetTrack {
 public:
  AVMediaType mediaType() const { return mediaType_; }
  // The track's number in its file (the container's stream index).
  std::int32_t trackID() const { return trackID_; }
  // Bits per second of the track's stored samples.
  float estimatedDataRate() const { return estimatedDataRate_; }
  // Coded frame size; zero for audio.
  quartz::CGSize naturalSize() const { return naturalSize_; }
  // Frames per second; zero for audio.
  float nominalFrameRate() const { return nominalFrameRate_; }
  // The rotation (and mirroring) that the container asks players to apply.
  quartz::CGAffineTransform preferredTransform() const { return preferredTransform_; }
  CMTime duration() const { return duration_; }

  struct Description {
    AVMediaType mediaType = AVMediaType::video;
    std::int32_t trackID = 0;
    float estimatedDataRate = 0;
    quartz::CGSize naturalSize;
    float nominalFrameRate = 0;
    quartz::CGAffineTransform preferredTransform;
    CMTime duration;
  };
  explicit AVAssetTrack(const Description& d)
      : mediaType_(d.mediaType),
        trackID_(d.trackID),
        estimatedDataRate_(d.estimatedDataRate),
        naturalSize_(d.naturalSize),
        nominalFrameRate_(d.nominalFrameRate),
        preferredTransform_(d.preferredTransform),
        duration_(d.duration) {}

 private:
  AVMediaType mediaType_;
  std::int32_t trackID_;
  float estimatedDataRate_;
  quartz::CGSize naturalSize_;
  float nominalFrameRate_;
  quartz::CGAffineTransform preferredTransform_;
  CMTime duration_;
};

class AVAsset {
 public:
  virtual ~AVAsset() = default;
  // Tracks of one kind, in file order; empty when there are none.
  std::vector<std::shared_ptr<const AVAssetTrack>> tracks(AVMediaType withMediaType) const;
  const std::vector<std::shared_ptr<const AVAssetTrack>>& tracks() const { return tracks_; }
  // The longest track's length; zero for an unreadable file.
  CMTime duration() const { return duration_; }

 protected:
  std::vector<std::shared_ptr<const AVAssetTrack>> tracks_;
  CMTime duration_ = CMTime::zero();
};

class AVURLAsset : public AVAsset {
 public:
  // Options have no meaning here (kept for the call's shape: pass nullptr).
  static std::shared_ptr<AVURLAsset> make(const foundation::URL& url, std::nullptr_t options = nullptr);

  const foundation::URL& url() const { return url_; }
  // Why the file gave no tracks; nothing when it was read.
  const std::optional<std::string>& loadError() const { return loadError_; }

 private:
  explicit AVURLAsset(foundation::URL url) : url_(std::move(url)) {}
  foundation::URL url_;
  std::optional<std::string> loadError_;
};

}  // namespace avf
