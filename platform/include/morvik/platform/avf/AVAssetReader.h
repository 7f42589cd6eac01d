// Reading an asset's samples in decode order.
//
// An AVAssetReader opens its own handle on the asset's file when made, so two
// readers of one asset read independently. Add outputs, call startReading(),
// then pull samples with copyNextSampleBuffer() from one thread at a time (any
// thread; the compressor uses one serial queue). status() and error() may be
// read from any thread.
//
// A track output with a pixel format in its settings decodes video to that
// format ('420v' or '420f': NV12); one without settings passes the file's
// compressed samples through unchanged, with their timing and format.
//
// A read that cannot go on ends the reader `failed` with an error: a file cut
// short (fewer samples than the file declares), a read error, or damaged
// compressed data that the decoder detects (damaged frames are not concealed).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "morvik/platform/avf/AVAsset.h"
#include "morvik/platform/avf/CoreMedia.h"
#include "morvik/platform/foundation/Error.h"

namespace avf {

enum class AVAssetReaderStatus { unknown, reading, completed, failed, cancelled };

class AVAssetReader;

class AVAssetReaderTrackOutput {
 public:
  // outputSettings: nothing passes samples through; a dictionary with
  // kCVPixelBufferPixelFormatTypeKey decodes video to that format.
  static std::shared_ptr<AVAssetReaderTrackOutput> make(std::shared_ptr<const AVAssetTrack> track,
                                                        std::optional<CFDictionary> outputSettings);

  const std::shared_ptr<const AVAssetTrack>& track() const { return track_; }
  const std::optional<CFDictionary>& outputSettings() const { return settings_; }

  // The next sample, or null once the track has ended, the reader failed or
  // was cancelled, or before startReading(): the reader's status tells which.
  CMSampleBufferRef copyNextSampleBuffer();

 private:
  AVAssetReaderTrackOutput(std::shared_ptr<const AVAssetTrack> track, std::optional<CFDictionary> settings)
      : track_(std::move(track)), settings_(std::move(settings)) {}
  std::shared_ptr<const AVAssetTrack> track_;
  std::optional<CFDictionary> settings_;
  std::weak_ptr<AVAssetReader> reader_;
  int index_ = -1;
  friend class AVAssetReader;
};

class AVAssetReader : public std::enable_shared_from_this<AVAssetReader> {
 public:
  // Throws foundation::NSError when the asset's file cannot be opened as a movie.
  static std::shared_ptr<AVAssetReader> make(std::shared_ptr<const AVURLAsset> asset);
  ~AVAssetReader();
  AVAssetReader(const AVAssetReader&) = delete;
  AVAssetReader& operator=(const AVAssetReader&) = delete;

  // False for an output already added elsewhere, a track of another asset,
  // settings this reader cannot honour, or once reading has started.
  bool canAdd(const std::shared_ptr<AVAssetReaderTrackOutput>& output) const;
  // Does nothing when canAdd() is false.
  void add(const std::shared_ptr<AVAssetReaderTrackOutput>& output);

  // False (status failed, with an error) when a decoder cannot be opened.
  bool startReading();
  // Stops reading; later copies give null. Any thread.
  void cancelReading();

  AVAssetReaderStatus status() const;
  std::optional<foundation::NSError> error() const;

  struct Impl;

 private:
  AVAssetReader() = default;
  CMSampleBufferRef next(int outputIndex);
  std::unique_ptr<Impl> impl_;
  friend class AVAssetReaderTrackOutput;
};

}  // namespace avf
