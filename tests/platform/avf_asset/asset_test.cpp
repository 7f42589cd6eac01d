// Asset reading and writing on files made by the ffmpeg command line.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <semaphore>

#include "fixtures/media/MediaFiles.h"
#include "morvik/platform/avf_asset.h"

namespace avf {
namespace {

namespace fs = std::filesystem;
using foundation::URL;
using morvik::testing::clip;
using morvik::testing::mediaDir;

std::string clipOrFail(const std::string& name, const std::string& args) {
  const auto path = clip(name, args);
  if (!path) ADD_FAILURE() << "ffmpeg could not make " << name;
  return path.value_or("");
}

// Coded landscape, shown portrait: a phone's way.
std::string moviePath() {
  const auto coded =
      clipOrFail("asset-coded.mov",
                 "-f lavfi -i testsrc2=size=320x240:rate=30000/1001 -f lavfi -i sine=sample_rate=44100 "
                 "-t 1 -c:v libx264 -b:v 1M -c:a aac");
  return clipOrFail("asset.mov", "-i " + coded + " -c copy -metadata:s:v:0 rotate=90");
}

TEST(AVURLAssetTest, DescribesTracksFromTheContainer) {
  const auto asset = AVURLAsset::make(URL::fileURLWithPath(moviePath()));
  ASSERT_FALSE(asset->loadError()) << *asset->loadError();
  const auto video = asset->tracks(AVMediaType::video);
  const auto audio = asset->tracks(AVMediaType::audio);
  ASSERT_EQ(video.size(), 1U);
  ASSERT_EQ(audio.size(), 1U);
  EXPECT_EQ(video[0]->naturalSize().width, 320);
  EXPECT_EQ(video[0]->naturalSize().height, 240);
  EXPECT_FLOAT_EQ(video[0]->nominalFrameRate(), 30000.0F / 1001.0F);
  EXPECT_NEAR(asset->duration().seconds(), 1.0, 0.05);
  EXPECT_GT(video[0]->estimatedDataRate(), 300'000);
  EXPECT_LT(video[0]->estimatedDataRate(), 3'000'000);
  // A quarter turn: the displayed picture is portrait.
  const auto t = video[0]->preferredTransform();
  EXPECT_EQ(std::abs(t.a) + std::abs(t.d), 0);
  EXPECT_EQ(std::abs(t.b), 1);
  EXPECT_EQ(std::abs(t.c), 1);

  for (const std::string& missing : {mediaDir() + "/none.mov", std::string("/dev/null"), mediaDir()}) {
    const auto bad = AVURLAsset::make(URL::fileURLWithPath(missing));
    EXPECT_TRUE(bad->tracks().empty());
    ASSERT_TRUE(bad->loadError());
    EXPECT_NE(bad->loadError()->find(missing), std::string::npos) << *bad->loadError();
    EXPECT_THROW(AVAssetReader::make(bad), foundation::NSError);
  }
}

TEST(AVAssetReaderTest, DecodesEveryFrameAsNV12AndPassesAudioThroughInOrder) {
  const auto path = moviePath();
  const auto probed = morvik::testing::probe(path);
  const auto frames = std::stoll(morvik::testing::stream(probed, "video").value("nb_frames", "0"));
  const auto packets = std::stoll(morvik::testing::stream(probed, "audio").value("nb_frames", "0"));
  const auto asset = AVURLAsset::make(URL::fileURLWithPath(path));
  const auto reader = AVAssetReader::make(asset);
  const auto video = AVAssetReaderTrackOutput::make(
      asset->tracks(AVMediaType::video)[0],
      CFDictionary{
          {kCVPixelBufferPixelFormatTypeKey, CFValue(kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange)}});
  const auto audio = AVAssetReaderTrackOutput::make(asset->tracks(AVMediaType::audio)[0], std::nullopt);
  ASSERT_TRUE(reader->canAdd(video));
  reader->add(video);
  reader->add(audio);
  EXPECT_FALSE(reader->canAdd(video));
  EXPECT_EQ(video->copyNextSampleBuffer(), nullptr) << "nothing before startReading";
  ASSERT_TRUE(reader->startReading());

  std::int64_t decoded = 0;
  CMTime last = CMTime::invalid();
  while (auto sample = video->copyNextSampleBuffer()) {
    const auto& pixels = sample->imageBuffer();
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels->pixelFormatType(), kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange);
    EXPECT_EQ(pixels->planeCount(), 2U);
    EXPECT_EQ(pixels->width(), 320U);
    EXPECT_EQ(pixels->widthOfPlane(1), 160U);
    if (last.isValid()) {
      EXPECT_GT(sample->presentationTimeStamp(), last);
    }
    last = sample->presentationTimeStamp();
    ++decoded;
  }
  EXPECT_EQ(decoded, frames);
  // Audio read after the video: what was demuxed ahead waited for it.
  std::int64_t passed = 0;
  std::size_t bytes = 0;
  while (auto sample = audio->copyNextSampleBuffer()) {
    ASSERT_NE(sample->dataBuffer(), nullptr);
    ASSERT_NE(sample->formatDescription(), nullptr);
    bytes += sample->dataBuffer()->dataLength();
    ++passed;
  }
  EXPECT_EQ(passed, packets);
  EXPECT_GT(bytes, 0U);
  EXPECT_EQ(reader->status(), AVAssetReaderStatus::completed);
  EXPECT_FALSE(reader->error());
}

TEST(AVAssetReaderTest, AStreamCutMidGroupDropsItsHeadlessFramesAndCompletes) {
  const auto whole = clipOrFail(
      "broadcast.ts", "-f lavfi -i testsrc2=size=320x240:rate=30 -t 3 -c:v libx264 -g 30 -f mpegts");
  // A recording joined a third of the way in, on a transport packet boundary.
  std::ifstream in(whole, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  const std::string cut = mediaDir() + "/joined.ts";
  std::ofstream(cut, std::ios::binary) << bytes.substr(bytes.size() / 188 / 3 * 188);

  const auto asset = AVURLAsset::make(URL::fileURLWithPath(cut));
  ASSERT_EQ(asset->tracks(AVMediaType::video).size(), 1U);
  const auto reader = AVAssetReader::make(asset);
  const auto output = AVAssetReaderTrackOutput::make(
      asset->tracks(AVMediaType::video)[0],
      CFDictionary{
          {kCVPixelBufferPixelFormatTypeKey, CFValue(kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange)}});
  reader->add(output);
  ASSERT_TRUE(reader->startReading());
  int frames = 0;
  while (output->copyNextSampleBuffer()) ++frames;
  EXPECT_EQ(reader->status(), AVAssetReaderStatus::completed) << reader->error()->localizedDescription();
  EXPECT_GT(frames, 30);
  EXPECT_LE(frames, 60);
}

TEST(AVAssetWriterTest, FailedOrCancelledWritersLeaveNothingAndKeepAnExistingFile) {
  const std::string folder = mediaDir() + "/writer";
  fs::create_directories(folder);
  const std::string dest = folder + "/out.mov";
  std::ofstream(dest) << "an earlier file";
  auto make = [&] {
    auto writer = AVAssetWriter::make(URL::fileURLWithPath(dest), AVFileType::mov);
    auto input = AVAssetWriterInput::make(AVMediaType::audio, std::nullopt);
    writer->add(input);
    return std::pair(writer, input);
  };
  {  // cancelled while writing
    auto [writer, input] = make();
    ASSERT_TRUE(writer->startWriting());
    writer->cancelWriting();
    EXPECT_EQ(writer->status(), AVAssetWriterStatus::cancelled);
    EXPECT_FALSE(input->isReadyForMoreMediaData());
  }
  {  // finished without a sample
    auto [writer, input] = make();
    ASSERT_TRUE(writer->startWriting());
    std::binary_semaphore done(0);
    writer->finishWriting([&] { done.release(); });
    ASSERT_TRUE(done.try_acquire_for(std::chrono::seconds(10)));
    EXPECT_EQ(writer->status(), AVAssetWriterStatus::failed);
    ASSERT_TRUE(writer->error());
  }
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"out.mov"});
  std::ifstream in(dest);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "an earlier file");

  // A folder that does not exist is refused when writing starts, with a reason.
  auto writer = AVAssetWriter::make(URL::fileURLWithPath(folder + "/missing/out.mov"), AVFileType::mov);
  EXPECT_FALSE(writer->startWriting());
  EXPECT_EQ(writer->status(), AVAssetWriterStatus::failed);
  ASSERT_TRUE(writer->error());
  EXPECT_NE(writer->error()->localizedDescription().find("does not exist"), std::string::npos);
  EXPECT_THROW(AVAssetWriter::make(*URL::string("https://example.com/out.mov"), AVFileType::mov),
               foundation::NSError);
}

}  // namespace
}  // namespace avf
