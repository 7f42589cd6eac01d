// The video compressor on real files made by the ffmpeg command line, with
// outputs checked by ffprobe.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "compressor/CompressionMath.h"
#include "fixtures/media/MediaFiles.h"
#include "morvik/compressor/VideoCompressor.h"

namespace morvik {
namespace {

namespace fs = std::filesystem;
using testing::clip;
using testing::mediaDir;
using testing::probe;
using testing::stream;
using Kind = CompressionResult::Kind;

// Realistic content: moving detail with sensor-like grain, so the encoder has
// to spend its bits, and a tone with noise for the audio.
std::string picture(const std::string& size, const std::string& rate) {
  return "-f lavfi -i testsrc2=size=" + size + ":rate=" + rate + ",noise=alls=8:allf=t+u ";
}
const std::string kTone = " -f lavfi -i sine=frequency=440:sample_rate=44100 ";

// One compression's reports, gathered from whatever thread they come on.
class Compressing {
 public:
  dispatch::DispatchQueue progressQueue{"test.progress"};

  std::shared_ptr<Compression> start(const std::string& source, const std::string& destination,
                                     VideoQuality quality = VideoQuality::medium, bool minBitRate = false,
                                     bool keepOriginal = false, bool withProgress = true) {
    VideoCompressor::ProgressHandler onProgress;
    if (withProgress) {
      onProgress = [this](const std::shared_ptr<foundation::Progress>& p) {
        {
          std::lock_guard lock(m_);
          progress_.push_back(p->completedUnitCount());
          total_ = p->totalUnitCount();
        }
        if (onProgress_) onProgress_(p->completedUnitCount(), p->totalUnitCount());
      };
    }
    handle_ = VideoCompressor().compressVideo(
        foundation::URL::fileURLWithPath(source), foundation::URL::fileURLWithPath(destination), quality,
        minBitRate, keepOriginal, progressQueue, onProgress, [this](CompressionResult r) {
          std::lock_guard lock(m_);
          results_.push_back(r);
          labels_.push_back(dispatch::DispatchQueue::currentLabel().value_or(""));
          cv_.notify_all();
        });
    std::lock_guard lock(m_);
    resultsAtReturn_ = results_.size();
    return handle_;
  }

  // Waits for the closing report (success, failure or cancellation).
  CompressionResult finalResult(double seconds = 60) {
    std::unique_lock lock(m_);
    const bool ok = cv_.wait_for(lock, std::chrono::duration<double>(seconds), [this] {
      return !results_.empty() && results_.back().kind() != Kind::onStart;
    });
    EXPECT_TRUE(ok) << "no closing report";
    if (!ok) return CompressionResult::onStart();
    auto last = results_.back();
    lock.unlock();
    // Progress posts come before the closing report on the video queue; let them land.
    progressQueue.sync([] {});
    return last;
  }

  std::vector<CompressionResult> results() {
    std::lock_guard lock(m_);
    return results_;
  }
  // The queue each report came on ("" for none: the caller's thread).
  std::vector<std::string> labels() {
    std::lock_guard lock(m_);
    return labels_;
  }
  std::vector<std::int64_t> progress() {
    std::lock_guard lock(m_);
    return progress_;
  }
  std::int64_t total() {
    std::lock_guard lock(m_);
    return total_;
  }
  std::size_t resultsAtReturn() {
    std::lock_guard lock(m_);
    return resultsAtReturn_;
  }
  void onProgress(std::function<void(std::int64_t, std::int64_t)> f) { onProgress_ = std::move(f); }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<CompressionResult> results_;
  std::vector<std::string> labels_;
  std::vector<std::int64_t> progress_;
  std::int64_t total_ = 0;
  std::size_t resultsAtReturn_ = 0;
  std::shared_ptr<Compression> handle_;
  std::function<void(std::int64_t, std::int64_t)> onProgress_;
};

std::string requireClip(const std::string& name, const std::string& args) {
  auto path = clip(name, args);
  if (!path) ADD_FAILURE() << "ffmpeg could not make " << name;
  return path.value_or("");
}

std::string landscapeMov() {
  return requireClip("landscape.mov",
                     picture("640x360", "30") + kTone + "-t 2 -c:v libx264 -b:v 3M -c:a aac -b:a 96k");
}

// A fresh output folder per test; checks nothing but the result is left in it.
class CompressorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = mediaDir() + "/out-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(out_);
  }
  std::string out(const std::string& name) const { return out_ + "/" + name; }
  // Files in the output folder other than `keep` (half-written or temporary).
  std::vector<std::string> leftovers(const std::string& keep = "") const {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(out_)) {
      if (e.path().filename() != keep) found.push_back(e.path().filename().string());
    }
    return found;
  }
  std::string out_;
};

std::string bytesOf(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// Everything written to file descriptor 2 (the host's stderr) while it lives.
class StderrCapture {
 public:
  StderrCapture() : file_(std::tmpfile()), saved_(::dup(2)) { ::dup2(::fileno(file_), 2); }
  ~StderrCapture() {
    restore();
    std::fclose(file_);
  }
  std::string text() {
    restore();
    std::string out;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) out.push_back(static_cast<char>(c));
    return out;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }
  std::FILE* file_;
  int saved_;
};

// ----- The arithmetic -----------------------------------------------------------------------

TEST(CompressionMathTest, OutputSizeFollowsTheBandsInSixteens) {
  struct Case {
    double w, h;
    bool keep;
    compressor::OutputSize expected;
  } cases[] = {
      {1920, 1080, false, {960, 528}},   {1280, 720, false, {960, 528}},
      {1000, 500, false, {608, 336}},    {540, 960, false, {336, 608}},
      {960, 960, false, {336, 608}},     {640, 480, false, {576, 432}},
      {100, 100, false, {80, 80}},       {1080, 1920, false, {528, 960}},
      {3840, 2160, false, {1920, 1072}}, {1921.7, 1080, true, {1921, 1080}},
      {1921.7, 1080, false, {960, 528}}, {720, 528, false, {640, 464}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(compressor::scaledOutputSize(c.w, c.h, c.keep), c.expected)
        << c.w << "x" << c.h << " keep " << c.keep;
  }
}

TEST(CompressionMathTest, BitrateIsTheRateTimesTheQualityFactorTruncated) {
  struct Case {
    float rate;
    VideoQuality quality;
    std::int32_t expected;
  } cases[] = {
      {10'000'000, VideoQuality::very_high, 5'000'000}, {10'000'000, VideoQuality::high, 3'000'000},
      {10'000'000, VideoQuality::medium, 2'000'000},    {10'000'000, VideoQuality::low, 1'000'000},
      {10'000'000, VideoQuality::very_low, 800'000},    {1'234'567, VideoQuality::medium, 246'913},
  };
  for (const auto& c : cases) EXPECT_EQ(compressor::bitrateForQuality(c.rate, c.quality), c.expected);
  // Rates that do not fit give a bound, not undefined behaviour.
  EXPECT_EQ(compressor::bitrateForQuality(std::numeric_limits<float>::infinity(), VideoQuality::high),
            INT32_MAX);
  EXPECT_EQ(compressor::bitrateForQuality(std::numeric_limits<float>::quiet_NaN(), VideoQuality::high), 0);

  EXPECT_TRUE(compressor::refusedForMinimumBitrate(2'000'000, true));
  EXPECT_FALSE(compressor::refusedForMinimumBitrate(2'000'000, false));
  EXPECT_FALSE(compressor::refusedForMinimumBitrate(2'000'001, true));

  EXPECT_EQ(compressor::frameTotal(10.0, 29.97F), 300);
  EXPECT_EQ(compressor::frameTotal(300 * 1001 / 30000.0, 30000.0F / 1001.0F), 300);  // a 29.97 file's length
  EXPECT_EQ(compressor::frameTotal(std::numeric_limits<double>::infinity(), 30), -1);
}

// ----- Early answers ------------------------------------------------------------------------

TEST_F(CompressorTest, UnreadableSourcesFailAtOnceAfterOnStartAndLeaveNothing) {
  const std::string empty = out("empty.mp4"), text = out("notes.mp4");
  std::ofstream(empty).close();
  std::ofstream(text) << "This is not a movie, only a text file with the wrong name.\n";
  const auto audioOnly =
      requireClip("audio-only.mp4", "-f lavfi -i sine=frequency=300:sample_rate=48000 -t 1 -c:a aac");
  for (const auto& source : {out("missing.mov"), empty, text, audioOnly}) {
    Compressing run;
    const auto handle = run.start(source, out("result.mov"));
    const auto results = run.results();
    ASSERT_EQ(results.size(), 2U) << source;
    EXPECT_EQ(run.resultsAtReturn(), 2U) << "both reports come before the call returns";
    EXPECT_EQ(results[0].kind(), Kind::onStart);
    ASSERT_EQ(results[1].kind(), Kind::onFailure);
    EXPECT_EQ(results[1].error()->title(), "Cannot find video track") << source;
    EXPECT_FALSE(results[1].error()->errorDescription().has_value());
    ASSERT_NE(handle, nullptr);
    EXPECT_FALSE(handle->cancel);
  }
  EXPECT_FALSE(fs::exists(out("result.mov")));
  EXPECT_EQ(leftovers().size(), 2U);  // the two inputs
}

TEST_F(CompressorTest, MinimumBitrateRefusesLowRateSourcesOnlyWhenEnabled) {
  const auto low = requireClip("low-rate.mov", picture("320x240", "30") + " -t 1 -c:v libx264 -b:v 600k");
  const std::string refused =
      "The provided bitrate is smaller than what is needed for compression try to set isMinBitRateEnabled to "
      "false";
  {
    Compressing run;
    run.start(low, out("a.mov"), VideoQuality::medium, true);
    const auto results = run.results();
    ASSERT_EQ(results.size(), 2U);
    ASSERT_EQ(results[1].kind(), Kind::onFailure);
    EXPECT_EQ(results[1].error()->title(), refused);
    EXPECT_FALSE(fs::exists(out("a.mov")));
  }
  {
    Compressing run;
    run.start(low, out("b.mov"), VideoQuality::medium, false);
    EXPECT_EQ(run.finalResult().kind(), Kind::onSuccess);
  }
  {
    const auto high = landscapeMov();  // about 3 Mbit/s
    Compressing run;
    run.start(high, out("c.mov"), VideoQuality::medium, true);
    EXPECT_EQ(run.finalResult().kind(), Kind::onSuccess);
  }
}

TEST_F(CompressorTest, MissingDestinationFolderIsAFailureWithTheWritersMessage) {
  Compressing run;
  run.start(landscapeMov(), out("no-such-folder/result.mov"));
  const auto last = run.finalResult();
  ASSERT_EQ(last.kind(), Kind::onFailure);
  EXPECT_NE(last.error()->title().find("does not exist"), std::string::npos) << last.error()->title();
  EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(CompressorTest, ADestinationThatIsTheSourceIsRefusedBeforeAnythingIsRead) {
  const std::string source = out("in.mov");
  fs::copy_file(landscapeMov(), source);
  const std::string original = bytesOf(source);
  fs::create_hard_link(source, out("hard.mov"));
  fs::create_symlink(source, out("soft.mov"));
  for (const auto& destination :
       {source, out_ + "/./in.mov", out_ + "//in.mov", out("hard.mov"), out("soft.mov")}) {
    Compressing run;
    run.start(source, destination);
    const auto results = run.results();
    ASSERT_EQ(results.size(), 2U) << destination;
    ASSERT_EQ(results[1].kind(), Kind::onFailure) << destination;
    EXPECT_EQ(results[1].error()->title(), "The destination is the same file as the source");
    EXPECT_EQ(bytesOf(source), original) << destination;
  }
  EXPECT_EQ(leftovers().size(), 3U);  // the source and its two links
}

TEST_F(CompressorTest, TheMovieGetsTheModeOfANewFileUnderTheUmask) {
  const auto source =
      requireClip("small.mov", picture("160x120", "30") + kTone + "-t 1 -c:v libx264 -c:a aac");
  for (const auto& [mask, mode] : {std::pair{022, 0644}, std::pair{027, 0640}, std::pair{077, 0600}}) {
    const mode_t previous = ::umask(mask);
    Compressing run;
    run.start(source, out("result.mov"));
    const auto last = run.finalResult();
    ::umask(previous);
    ASSERT_EQ(last.kind(), Kind::onSuccess);
    struct stat st {};
    ASSERT_EQ(::stat(out("result.mov").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, static_cast<mode_t>(mode)) << std::oct << mask;
  }
}

TEST_F(CompressorTest, AHostThatEndsMidwayLeavesNothingInTheFolder) {
  // 300 frames: the process ends while the movie is being written.
  const auto source =
      requireClip("ntsc.mov", picture("192x108", "30000/1001") + " -t 10 -c:v libx264 -b:v 1M");
  // The child process runs this test anew, with a scratch folder of its own:
  // it keeps the variable it inherits, so it writes into ours.
  ::setenv("MORVIK_TEST_OUTPUT_FOLDER", out_.c_str(), 0);
#if defined(__SANITIZE_THREAD__)
  // It ends with the encoder's threads running, as such a host does: not a leak to report.
  const std::string raceOptions = std::getenv("TSAN_OPTIONS") ? std::getenv("TSAN_OPTIONS") : "";
  ::setenv("TSAN_OPTIONS", (raceOptions + ":report_thread_leaks=0").c_str(), 1);
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        VideoCompressor().compressVideo(
            foundation::URL::fileURLWithPath(source),
            foundation::URL::fileURLWithPath(std::string(std::getenv("MORVIK_TEST_OUTPUT_FOLDER")) +
                                             "/result.mov"),
            VideoQuality::medium, false, false, dispatch::DispatchQueue("test.progress"), nullptr,
            [](const CompressionResult&) {});
        std::exit(0);  // as a host returning from main while it runs
      },
      ::testing::ExitedWithCode(0), "");
  ::unsetenv("MORVIK_TEST_OUTPUT_FOLDER");
  // No hidden file; the movie itself only when the compression ran to its end while the process ended.
  EXPECT_EQ(leftovers("result.mov"), std::vector<std::string>{});
  if (fs::exists(out("result.mov"))) {
    EXPECT_TRUE(stream(probe(out("result.mov")), "video").is_object());
  }
#if defined(__SANITIZE_THREAD__)
  ::setenv("TSAN_OPTIONS", raceOptions.c_str(), 1);
#endif
}

TEST_F(CompressorTest, AWriterThatCannotBeMadeIsAnEarlyFailure) {
  std::vector<CompressionResult> results;
  const auto handle = VideoCompressor().compressVideo(
      foundation::URL::fileURLWithPath(landscapeMov()),
      *foundation::URL::string("https://example.com/out.mov"), VideoQuality::medium, false, false,
      dispatch::DispatchQueue("test.progress"), nullptr, [&](CompressionResult r) { results.push_back(r); });
  ASSERT_EQ(results.size(), 2U);
  ASSERT_EQ(results[1].kind(), Kind::onFailure);
  EXPECT_NE(results[1].error()->title().find("file URL"), std::string::npos) << results[1].error()->title();
}

// ----- Real files ---------------------------------------------------------------------------

struct RealFile {
  const char* name;
  std::string (*make)();
  VideoQuality quality;
  bool keepOriginal;
  int width, height;  // expected output
  double rotation;
};

class RealFileTest : public CompressorTest, public ::testing::WithParamInterface<RealFile> {};

TEST_P(RealFileTest, WritesH264AtTheTargetSizeAndRateKeepingRotationAndAudio) {
  const auto& p = GetParam();
  const std::string source = p.make();
  if (source.empty()) GTEST_SKIP() << "no source";
  const auto in = probe(source);
  const auto inVideo = stream(in, "video");
  const std::string dest = out("result.mov");
  Compressing run;
  run.start(source, dest, p.quality, false, p.keepOriginal);
  const auto last = run.finalResult();
  ASSERT_EQ(last.kind(), Kind::onSuccess) << (last.error() ? last.error()->title() : "");
  ASSERT_NE(last.url(), nullptr);
  EXPECT_EQ(last.url()->path(), dest);
  EXPECT_EQ(leftovers("result.mov"), std::vector<std::string>{});

  const auto outProbe = probe(dest);
  const auto video = stream(outProbe, "video");
  ASSERT_TRUE(video.is_object());
  EXPECT_EQ(video.value("codec_name", ""), "h264");
  EXPECT_EQ(video.value("width", 0), p.width);
  EXPECT_EQ(video.value("height", 0), p.height);
  EXPECT_EQ(testing::rotation(video), p.rotation);
  EXPECT_EQ(testing::rotation(video), testing::rotation(inVideo));

  // The average rate lands near the quality's share of the source's rate.
  const double sourceRate = std::stod(inVideo.value("bit_rate", "0"));
  const double target = sourceRate * compressor::qualityFactor(p.quality);
  const double written = testing::measuredBitrate(dest, "v");
  EXPECT_NEAR(written, target, target * 0.15) << "target " << target;

  // Audio is copied byte for byte, and starts where it started.
  const auto inAudio = stream(in, "audio");
  const auto outAudio = stream(outProbe, "audio");
  EXPECT_EQ(inAudio.is_object(), outAudio.is_object());
  if (inAudio.is_object() && outAudio.is_object()) {
    EXPECT_EQ(testing::packetsMD5(dest, "a"), testing::copiedAudioMD5(source));
    if (source.ends_with(".mov") || source.ends_with(".mp4")) {
      EXPECT_EQ(testing::packetsMD5(dest, "a"), testing::packetsMD5(source, "a"));
    }
    EXPECT_EQ(outAudio.value("codec_name", ""), inAudio.value("codec_name", ""));
    if (inAudio.value("codec_name", "") == "aac") {  // its priming is kept, so sound and picture stay in step
      EXPECT_EQ(outAudio.value("start_time", "out"), inAudio.value("start_time", "in"));
    }
  }

  // Every frame is one progress step, and the last pass that finds none is one more.
  const auto steps = run.progress();
  ASSERT_FALSE(steps.empty());
  const auto frames = std::stoll(video.value("nb_frames", "0"));
  EXPECT_EQ(steps.back(), frames + 1);
  EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));
}

std::vector<RealFile> realFiles() {
  std::vector<RealFile> files{
      RealFile{"MovWithAAC", [] { return landscapeMov(); }, VideoQuality::medium, false, 576, 320, 0},
      RealFile{"Mp4At2997With48kAudio",
               [] {
                 return requireClip(
                     "hd.mp4",
                     "-f lavfi -i testsrc2=size=1280x720:rate=30000/1001,noise=alls=4:allf=t+u "
                     "-f lavfi -i sine=frequency=523:sample_rate=48000 "
                     "-t 2 -c:v libx264 -b:v 6M -c:a aac -b:a 128k");
               },
               VideoQuality::low, false, 960, 528, 0},
      RealFile{"PortraitPhoneStyleWithRotation",
               [] {
                 const auto coded =
                     requireClip("portrait-coded.mov",
                                 picture("480x360", "30") + kTone + "-t 2 -c:v libx264 -b:v 3M -c:a aac");
                 return requireClip("portrait.mov", "-i " + coded + " -c copy -metadata:s:v:0 rotate=90");
               },
               VideoQuality::high, false, 432, 320, 90},
      RealFile{"KeepOriginalResolution", [] { return landscapeMov(); }, VideoQuality::medium, true, 640, 360,
               0},
      RealFile{"MegamindAvi",
               [] {
                 const std::string path = "/usr/share/doc/opencv-doc/examples/data/Megamind.avi";
                 return fs::exists(path) ? path : std::string();
               },
               VideoQuality::very_high, false, 640, 464, 0}};
#if defined(__SANITIZE_THREAD__)
  // Under the race checker the threads matter, not the containers: the two
  // QuickTime files with audio cover every hand-over.
  std::vector<RealFile> kept;
  for (const auto& f : files) {
    const std::string name = f.name;
    if (name == "MovWithAAC" || name == "PortraitPhoneStyleWithRotation") kept.push_back(f);
  }
  files = kept;
#endif
  return files;
}

INSTANTIATE_TEST_SUITE_P(Files, RealFileTest, ::testing::ValuesIn(realFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CompressorTest, TenSecondsAt2997CountThreeHundredFramesWithoutAudio) {
  const auto source =
      requireClip("ntsc.mov", picture("192x108", "30000/1001") + " -t 10 -c:v libx264 -b:v 1M");
  Compressing run;
  run.start(source, out("result.mov"), VideoQuality::medium);
  ASSERT_EQ(run.finalResult().kind(), Kind::onSuccess);
  EXPECT_EQ(run.total(), 300);
  EXPECT_EQ(run.progress().back(), 301);
  const auto written = probe(out("result.mov"));
  EXPECT_TRUE(stream(written, "video").is_object());
  EXPECT_FALSE(stream(written, "audio").is_object());
}

// ----- Cancellation -------------------------------------------------------------------------

TEST_F(CompressorTest, CancelDuringTheVideoPassStopsWithOnCancelledAndLeavesNothing) {
  // 300 frames: the video pass is far from its end when the flag is set.
  const auto source =
      requireClip("ntsc.mov", picture("192x108", "30000/1001") + " -t 10 -c:v libx264 -b:v 1M");
  Compressing run;
  const auto handle = run.start(source, out("result.mov"));
  handle->cancel = true;
  EXPECT_EQ(run.finalResult().kind(), Kind::onCancelled);
  EXPECT_EQ(run.results().size(), 2U);
  EXPECT_EQ(run.labels(), (std::vector<std::string>{"", "processingQueue1"}));
  EXPECT_LT(run.progress().size(), 300U);
  EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(CompressorTest, CancelAfterTheLastVideoPassHasNoEffect) {
  Compressing run;
  std::shared_ptr<Compression> handle;
  std::mutex m;
  run.onProgress([&](std::int64_t done, std::int64_t total) {
    std::lock_guard lock(m);
    if (done == total + 1 && handle) handle->cancel = true;  // the audio pass is next
  });
  {
    std::lock_guard lock(m);
    handle = run.start(landscapeMov(), out("result.mov"));
  }
  EXPECT_EQ(run.finalResult().kind(), Kind::onSuccess);
  EXPECT_TRUE(handle->cancel);
}

// ----- Damaged input and failed output -----------------------------------------------------------

TEST_F(CompressorTest, DamagedSourcesReportFailureNeverSilenceOrSuccess) {
  const auto whole =
      requireClip("faststart.mov", picture("320x240", "30") + kTone +
                                       "-t 2 -c:v libx264 -b:v 2M -c:a aac -movflags +faststart");
  const auto videoOnly = requireClip(
      "video-only.mov", picture("320x240", "30") + " -t 2 -c:v libx264 -b:v 2M -movflags +faststart");
  const auto size = fs::file_size(whole);
  const std::string truncated = out("truncated.mov"), corrupt = out("corrupt.mov"),
                    noIndex = out("no-index.mov");
  fs::copy_file(whole, truncated);
  fs::resize_file(truncated, size / 2);
  // Its index at the end, cut off: "moov atom not found".
  fs::copy_file(requireClip("index-last.mov", picture("320x240", "30") + " -t 2 -c:v libx264 -b:v 2M"),
                noIndex);
  fs::resize_file(noIndex, fs::file_size(noIndex) / 2);
  fs::copy_file(videoOnly, corrupt);
  {
    std::fstream f(corrupt, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(fs::file_size(corrupt) / 2));
    std::uint32_t x = 0x9e3779b9;
    for (int i = 0; i < 4096; ++i) {
      x = x * 1664525 + 1013904223;
      f.put(static_cast<char>(x >> 24));
    }
  }
  // The failure reaches the caller, and FFmpeg's own lines ("Invalid NAL unit
  // size", "moov atom not found") stay off the host's stderr.
  StderrCapture stderrText;
  for (const auto& source : {truncated, corrupt, noIndex}) {
    Compressing run;
    run.start(source, out("result.mov"));
    const auto last = run.finalResult();
    ASSERT_EQ(last.kind(), Kind::onFailure) << source;
    EXPECT_FALSE(last.error()->title().empty());
    EXPECT_FALSE(fs::exists(out("result.mov")));
  }
  EXPECT_EQ(stderrText.text(), "");
  EXPECT_EQ(leftovers().size(), 3U);
}

TEST_F(CompressorTest, AFullDiskIsAFailureWithTheWritersMessageAndNoFile) {
  const auto source = landscapeMov();
  // A file-size limit stands in for a full disk: writes past it fail with EFBIG.
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit tight = old;
  tight.rlim_cur = 40 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
  Compressing run;
  run.start(source, out("result.mov"));
  const auto last = run.finalResult();
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  ASSERT_EQ(last.kind(), Kind::onFailure);
  EXPECT_NE(last.error()->title().find("cannot be written"), std::string::npos) << last.error()->title();
  EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(CompressorTest, ManyCompressionsAtOnceEachEndOnce) {
  const auto source =
      requireClip("small.mov", picture("160x120", "30") + kTone + "-t 1 -c:v libx264 -c:a aac");
  std::vector<std::unique_ptr<Compressing>> runs;
  for (int i = 0; i < 4; ++i) {
    runs.push_back(std::make_unique<Compressing>());
    runs.back()->start(source, out("r" + std::to_string(i) + ".mov"));
  }
  for (auto& r : runs) {
    EXPECT_EQ(r->finalResult().kind(), Kind::onSuccess);
    EXPECT_EQ(r->results().size(), 2U);
  }
}

}  // namespace
}  // namespace morvik
