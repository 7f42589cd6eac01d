#include "morvik/compressor/VideoCompressor.h"

#include <morvik/platform/avf_asset.h>
#include <sys/stat.h>

#include "CompressionMath.h"

namespace morvik {

using namespace avf;

namespace {

// Both paths name one file (also through a hard link, a symbolic link or
// another spelling of the path): writing the destination would replace the source.
bool isSameFile(const foundation::URL& source, const foundation::URL& destination) {
  if (!source.isFileURL() || !destination.isFileURL()) return false;
  struct stat a {
  }, b{};
  return ::stat(source.path().c_str(), &a) == 0 && ::stat(destination.path().c_str(), &b) == 0 &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

// Everything one compression needs, held by the closures of its passes.
struct CompressionJob {
  static_assert(VideoCompressor::MIN_BITRATE == compressor::kMinBitrate &&
                VideoCompressor::MIN_HEIGHT == compressor::kMinHeight &&
                VideoCompressor::MIN_WIDTH == compressor::kMinWidth);

  std::shared_ptr<AVURLAsset> asset;
  std::shared_ptr<const AVAssetTrack> videoTrack;
  std::shared_ptr<AVAssetReader> videoReader;
  std::shared_ptr<AVAssetReaderTrackOutput> videoOutput;
  std::shared_ptr<AVAssetWriter> writer;
  std::shared_ptr<AVAssetWriterInput> videoInput;
  std::shared_ptr<AVAssetWriterInput> audioInput;
  std::shared_ptr<AVAssetReader> audioReader;
  std::shared_ptr<AVAssetReaderTrackOutput> audioOutput;
  std::int64_t frameCount = 0;  // "processingQueue1" only
  std::shared_ptr<foundation::Progress> progress;
  bool isFirstBuffer = true;  // "processingQueue2" only
  VideoCompressor::ProgressHandler progressHandler;
  VideoCompressor::Completion completion;
  dispatch::DispatchQueue progressQueue;
  foundation::URL destination;
  std::shared_ptr<Compression> compression;
  std::atomic<bool> ended{false};  // the one closing report has been made

  CompressionJob(dispatch::DispatchQueue queue, foundation::URL dest)
      : progressQueue(std::move(queue)), destination(std::move(dest)) {}

  static CompressionError error(std::string title) { return CompressionError(std::move(title)); }

  static std::string messageOf(const std::optional<foundation::NSError>& e, const char* fallback) {
    return e ? e->localizedDescription() : std::string(fallback);
  }

  // The closing report: only the first one reaches the caller.
  void end(CompressionResult result) {
    if (!ended.exchange(true)) completion(std::move(result));
  }

  void fail(const std::string& title) {
    if (videoReader) videoReader->cancelReading();
    if (audioReader) audioReader->cancelReading();
    if (writer) writer->cancelWriting();
    end(CompressionResult::onFailure(error(title)));
  }

  void finishWriting(const std::shared_ptr<CompressionJob>& self) {
    writer->finishWriting([self] {
      // Success only when the movie was really completed.
      if (self->writer->status() == AVAssetWriterStatus::completed) {
        self->end(CompressionResult::onSuccess(self->destination));
      } else {
        self->end(CompressionResult::onFailure(
            error(messageOf(self->writer->error(), "The compressed video could not be written"))));
      }
    });
  }

  static void pumpVideoSamples(const std::shared_ptr<CompressionJob>& self) {
    auto& job = *self;
    while (job.videoInput->isReadyForMoreMediaData()) {
      if (job.compression->cancel.load()) {
        job.videoReader->cancelReading();
        job.writer->cancelWriting();
        job.end(CompressionResult::onCancelled());
        return;
      }
      ++job.frameCount;
      if (job.progressHandler) {
        job.progress->setCompletedUnitCount(job.frameCount);
        job.progressQueue.async(
            [handler = job.progressHandler, progress = job.progress] { handler(progress); });
      }
      auto sample = job.videoOutput->copyNextSampleBuffer();
      if (job.videoReader->status() == AVAssetReaderStatus::reading && sample) {
        job.videoInput->append(sample);
        continue;
      }
      job.videoInput->markAsFinished();
      if (job.videoReader->status() != AVAssetReaderStatus::completed) {
        // A read that ended in failure is reported, never left silent.
        job.fail(messageOf(job.videoReader->error(), "The video could not be read"));
        return;
      }
      if (!job.audioReader) {
        job.finishWriting(self);
        return;
      }
      if (!job.audioReader->startReading()) {
        job.fail(messageOf(job.audioReader->error(), "The audio could not be read"));
        return;
      }
      dispatch::DispatchQueue audioQueue("processingQueue2");
      job.audioInput->requestMediaDataWhenReady(audioQueue, [self] { pumpAudioSamples(self); });
      return;
    }
    // The writer stopped asking because it failed (a full disk, an encoder error).
    if (job.writer->status() == AVAssetWriterStatus::failed) {
      job.fail(messageOf(job.writer->error(), "The compressed video could not be written"));
    }
  }

  static void pumpAudioSamples(const std::shared_ptr<CompressionJob>& self) {
    auto& job = *self;
    while (job.audioInput->isReadyForMoreMediaData()) {
      auto sample = job.audioOutput->copyNextSampleBuffer();
      if (job.audioReader->status() == AVAssetReaderStatus::reading && sample) {
        if (job.isFirstBuffer) {
          CMSetAttachment(sample, kCMSampleBufferAttachmentKey_TrimDurationAtStart,
                          CMTimeCopyAsDictionary(CMTimeMake(1024, 44100), kCFAllocatorDefault),
                          kCMAttachmentMode_ShouldNotPropagate);
          job.isFirstBuffer = false;
        }
        job.audioInput->append(sample);
        continue;
      }
      job.audioInput->markAsFinished();
      if (job.audioReader->status() == AVAssetReaderStatus::failed) {
        job.fail(messageOf(job.audioReader->error(), "The audio could not be read"));
        return;
      }
      job.finishWriting(self);
      return;
    }
    if (job.writer->status() == AVAssetWriterStatus::failed) {
      job.fail(messageOf(job.writer->error(), "The compressed video could not be written"));
    }
  }
};

std::shared_ptr<Compression> VideoCompressor::compressVideo(
    const foundation::URL& source, const foundation::URL& destination, VideoQuality quality,
    bool isMinBitRateEnabled, bool keepOriginalResolution, const dispatch::DispatchQueue& progressQueue,
    ProgressHandler progressHandler, Completion completion) const {
  auto job = std::make_shared<CompressionJob>(progressQueue, destination);
  job->compression = std::make_shared<Compression>();
  job->progressHandler = std::move(progressHandler);
  job->completion = std::move(completion);
  job->completion(CompressionResult::onStart());

  // Early failures answer on this thread with a fresh handle.
  auto earlyFailure = [&job](const std::string& title) {
    if (job->videoReader) job->videoReader->cancelReading();
    if (job->writer) job->writer->cancelWriting();
    job->completion(CompressionResult::onFailure(CompressionJob::error(title)));
    return std::make_shared<Compression>();
  };

  if (isSameFile(source, destination)) {
    return earlyFailure("The destination is the same file as the source");
  }

  job->asset = AVURLAsset::make(source, nullptr);
  const auto videoTracks = job->asset->tracks(AVMediaType::video);
  if (videoTracks.empty()) return earlyFailure("Cannot find video track");
  job->videoTrack = videoTracks.front();

  const float dataRate = job->videoTrack->estimatedDataRate();
  if (compressor::refusedForMinimumBitrate(dataRate, isMinBitRateEnabled)) {
    return earlyFailure(
        "The provided bitrate is smaller than what is needed for compression try to set isMinBitRateEnabled "
        "to "
        "false");
  }
  const std::int32_t newBitrate = compressor::bitrateForQuality(dataRate, quality);
  const auto natural = job->videoTrack->naturalSize();
  const auto size = compressor::scaledOutputSize(natural.width, natural.height, keepOriginalResolution);
  job->progress = std::make_shared<foundation::Progress>(
      compressor::frameTotal(job->asset->duration().seconds(), job->videoTrack->nominalFrameRate()));

  const CFDictionary videoWriterSettings{
      {AVVideoCodecKey, CFValue(AVVideoCodecType::h264)},
      {AVVideoCompressionPropertiesKey,
       CFValue(CFDictionary{{AVVideoAverageBitRateKey, CFValue(newBitrate)}})},
      {AVVideoWidthKey, CFValue(size.width)},
      {AVVideoHeightKey, CFValue(size.height)}};
  job->videoInput = AVAssetWriterInput::make(AVMediaType::video, videoWriterSettings);
  job->videoInput->setExpectsMediaDataInRealTime(true);
  job->videoInput->setTransform(job->videoTrack->preferredTransform());

  try {
    job->writer = AVAssetWriter::make(destination, AVFileType::mov);
  } catch (const foundation::NSError& e) {
    return earlyFailure(e.localizedDescription());
  }
  job->writer->add(job->videoInput);

  job->videoOutput = AVAssetReaderTrackOutput::make(
      job->videoTrack, CFDictionary{{kCVPixelBufferPixelFormatTypeKey,
                                     CFValue(kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange)}});
  try {
    job->videoReader = AVAssetReader::make(job->asset);
  } catch (const foundation::NSError& e) {
    return earlyFailure(e.localizedDescription());
  }
  job->videoReader->add(job->videoOutput);

  job->audioInput = AVAssetWriterInput::make(AVMediaType::audio, std::nullopt);
  job->audioInput->setExpectsMediaDataInRealTime(false);
  job->writer->add(job->audioInput);

  if (const auto audioTracks = job->asset->tracks(AVMediaType::audio); !audioTracks.empty()) {
    job->audioOutput = AVAssetReaderTrackOutput::make(audioTracks.front(), std::nullopt);
    try {
      job->audioReader = AVAssetReader::make(job->asset);
    } catch (const foundation::NSError& e) {
      return earlyFailure(e.localizedDescription());
    }
    job->audioReader->add(job->audioOutput);
  }

  if (!job->writer->startWriting()) {
    return earlyFailure(
        CompressionJob::messageOf(job->writer->error(), "The compressed video could not be written"));
  }
  if (!job->videoReader->startReading()) {
    return earlyFailure(CompressionJob::messageOf(job->videoReader->error(), "The video could not be read"));
  }
  job->writer->startSession(CMTime::zero());

  dispatch::DispatchQueue videoQueue("processingQueue1");
  job->videoInput->requestMediaDataWhenReady(videoQueue, [job] { CompressionJob::pumpVideoSamples(job); });
  return job->compression;
}

}  // namespace morvik
