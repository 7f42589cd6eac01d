// The capture screen on hand-held clips: a phone held over an ID card lying on a table, recorded as
// H.264 and played back through the virtual camera, step by step on the manual clock. Each card clip
// must deliver, within 5 s of clip time, a crop holding the whole card; a card-less clip must deliver
// nothing. Every clip's outcome is printed (with, for a miss, what the requests answered instead).
#include <gtest/gtest.h>
#include <morvik/flow/IDCaptureVC.h>
#include <morvik/platform/avf.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/camera/CameraTestSupport.h"
#include "fixtures/generators/HandheldJudge.h"
#include "fixtures/generators/HandheldScenes.h"
#include "flow/capture/CaptureScreenTestSupport.h"

namespace {

using morvik::IDCaptureVC;
using morvik::IDDocumentType;
using morvik::IDScanStep;
namespace hh = fixtures::generators::handheld;

// Small frames and 5 s clips keep the suite quick; the card fills 45 to 80 % of the frame's width.
const cv::Size kPortraitFrame{360, 480};
constexpr int kClipFrames = 150;  // 5 s at 30 frames per second
constexpr double kFps = 30;
constexpr int kCardClips = 40;
constexpr int kCardlessClips = 10;

struct ClipSet {
  std::vector<hh::HandheldClip> clips;
  std::vector<std::string> paths;  // empty when a clip could not be encoded
};

// The clips, made (encoded) once per process, several at a time.
const ClipSet& clipSet() {
  static const ClipSet set = [] {
    ClipSet s;
    for (int i = 0; i < kCardClips; ++i)
      s.clips.emplace_back(hh::sceneSpec(hh::kTestSeedsBegin + std::uint32_t(i), true), kPortraitFrame,
                           kClipFrames, kFps);
    for (int i = 0; i < kCardlessClips; ++i)
      s.clips.emplace_back(hh::sceneSpec(hh::kTestSeedsBegin + 500 + std::uint32_t(i), false), kPortraitFrame,
                           kClipFrames, kFps);
    s.paths.resize(s.clips.size());
    std::vector<std::thread> workers;
    const std::size_t n = s.clips.size(), threads = 4;
    for (std::size_t t = 0; t < threads; ++t)
      workers.emplace_back([&s, t, n] {
        for (std::size_t i = t; i < n; i += threads)
          s.paths[i] = s.clips[i].h264File(hh::clipCacheDir()).value_or(std::string());
      });
    for (auto& w : workers) w.join();
    return s;
  }();
  return set;
}

struct ClipOutcome {
  std::string kind;
  bool withCard = true;
  bool captured = false;
  double seconds = 0;  // clip time of the captured frame
  hh::CropScore score;
  bool wholeFrame = false;
  std::string why;  // for a miss: what went wrong
  bool good() const { return withCard ? captured && seconds <= 5.0 && score.good() : !captured; }
};

// What the live request answers over the clip (every tenth frame): "card 3, printed box 9, ...".
std::string liveAnswers(const std::string& path, const hh::HandheldClip& clip) {
  std::map<hh::Answer, int> counts;
  const bool landscape = clip.spec().landscape;
  const auto frames = hh::decodeVideo(path, clip.frameSize());
  for (std::size_t i = 0; i < frames.size(); i += 10) {
    std::optional<hh::Corners> truth;
    if (auto c = clip.corners(int(i))) truth = hh::screenCorners(*c, clip.frameSize(), landscape);
    ++counts[hh::runLiveRequest(hh::screenView(frames[i], landscape), truth).answer];
  }
  std::string out = "live answers:";
  for (const auto& [answer, n] : counts)
    out += std::string(" ") + hh::answerName(answer) + " " + std::to_string(n);
  return out;
}

class HandheldCaptureTest : public capturetest::CaptureScreenTestBase {
 protected:
  // Plays one clip to the screen until it captures or the clip ends; takes the screen down again.
  ClipOutcome play(const hh::HandheldClip& clip, const std::string& path) {
    ClipOutcome out;
    out.kind = clip.spec().kind();
    out.withCard = clip.spec().withCard;
    auto options = fixtures::camera::stepCameraOptions(avf::AVCaptureDevice::Position::back);
    // A portrait clip is an upright portrait scene; a landscape one is what the sensor sees when
    // the phone is turned a quarter.
    options.portraitScene = !clip.spec().landscape;
    options.loop = false;
    camera = avf::VirtualCamera::registerVideoFile(path, options);
    if (!camera) {
      out.why = "the clip does not open";
      return out;
    }
    images.clear();
    vc = IDCaptureVC::make(IDDocumentType::driversLicenseOrIDCard, 0, IDScanStep("Document Front"));
    vc->onCaptured = [this](std::shared_ptr<uikit::UIImage> image) { images.push_back(image); };
    present();
    dispatch::clock::advance(2.0);  // past the hint
    dispatch::MainLoop::drain();
    for (int i = 0; i < clip.frameCount() && !state().isCapturing; ++i)
      if (!deliver()) break;
    const auto delivered = camera->deliveredFrameCount();
    if (state().isCapturing) {
      out.captured = dispatch::MainLoop::runUntil([&] { return !images.empty(); }, 30) && images[0];
      out.seconds = double(delivered) / clip.fps();
    }
    cv::Mat crop;
    if (out.captured) crop = images[0]->cgImage() ? cvImage(*images[0]) : cv::Mat();
    takeDown();

    if (!out.withCard) {
      if (out.captured) out.why = "captured a card-less scene; " + liveAnswers(path, clip);
      return out;
    }
    if (!out.captured) {
      out.why = "no capture; " + liveAnswers(path, clip);
      return out;
    }
    // The photo is the last frame delivered, upright as the screen sees it.
    const int index = int(delivered) - 1;
    const bool landscape = clip.spec().landscape;
    const cv::Mat frame = hh::decodeFrame(path, index, clip.frameSize());
    if (frame.empty() || crop.empty()) {
      out.why = "the captured frame or image cannot be read";
      return out;
    }
    const cv::Mat view = hh::screenView(frame, landscape);
    const hh::Corners card = hh::screenCorners(*clip.corners(index), clip.frameSize(), landscape);
    const cv::Rect at = hh::locateCrop(crop, view);
    out.wholeFrame = at.size() == view.size();
    out.score = hh::scoreCrop(at, card, view.size());
    if (out.seconds > 5.0) out.why = "captured after 5 s";
    if (!out.score.good()) {
      const auto photo = hh::runPhotoRequest(view, card);
      out.why = out.wholeFrame
                    ? "whole frame delivered: the photo-time request found nothing"
                    : std::string("crop misses the card: photo-time answer ") + hh::answerName(photo.answer);
    }
    return out;
  }

 private:
  static cv::Mat cvImage(const uikit::UIImage& image) {
    const auto& cg = image.cgImage();
    const bool grey = cg->pixelFormat() == quartz::CGImagePixelFormat::gray8;
    const cv::Mat view(int(cg->height()), int(cg->width()), grey ? CV_8UC1 : CV_8UC4,
                       const_cast<std::uint8_t*>(cg->data()), cg->bytesPerRow());
    cv::Mat bgr;
    const bool rgba = cg->pixelFormat() == quartz::CGImagePixelFormat::rgba8;
    cv::cvtColor(view, bgr, grey ? cv::COLOR_GRAY2BGR : rgba ? cv::COLOR_RGBA2BGR : cv::COLOR_BGRA2BGR);
    return bgr;
  }

  // One frame through the pipeline (see CaptureScreenTestBase::step); false once the clip has ended.
  bool deliver() {
    const int before = state().framesHandled.load();
    for (int attempt = 0; attempt < 5; ++attempt) {
      const auto dropped = state().videoOutput->droppedFrameCount();
      if (!camera->deliverNextFrame()) return false;
      dispatch::MainLoop::runUntil(
          [&] {
            return state().framesHandled.load() > before ||
                   state().videoOutput->droppedFrameCount() > dropped;
          },
          20);
      if (state().framesHandled.load() > before) break;
    }
    dispatch::MainLoop::drain();
    return true;
  }

  void takeDown() {
    if (vc) vc->viewWillDisappear(false);
    if (scene) uikit::UIApplication::shared().disconnect(scene);
    vc.reset();
    nav.reset();
    window.reset();
    scene.reset();
    dispatch::MainLoop::drain();
    if (camera) camera->unregister();
    camera.reset();
    avf::VirtualCamera::unregisterAll();
  }
};

// The figures (run with --gtest_also_run_disabled_tests to print them today): at least 95 % of the
// card clips deliver a good crop within 5 s, and no card-less clip delivers anything. Disabled
// until the learned document model lands: today's detector answers printed portraits on many
// of these clips and the photo-time request often finds nothing.
TEST_F(HandheldCaptureTest, DISABLED_CardClipsDeliverTheWholeCardAndCardlessClipsNothing) {
  const ClipSet& set = clipSet();
  int good = 0, cardless = 0, cardlessGood = 0;
  std::map<std::string, std::pair<int, int>> byKind;  // kind -> good, total
  for (std::size_t i = 0; i < set.clips.size(); ++i) {
    ASSERT_FALSE(set.paths[i].empty()) << "clip " << set.clips[i].spec().seed << " could not be encoded";
    const ClipOutcome o = play(set.clips[i], set.paths[i]);
    if (HasFatalFailure()) return;
    std::printf("clip %u %-32s %s", set.clips[i].spec().seed, o.kind.c_str(), o.good() ? "ok  " : "MISS");
    if (o.captured) std::printf("  %.2f s  inside %.3f  IoU %.3f", o.seconds, o.score.inside, o.score.iou);
    std::printf("%s%s\n", o.why.empty() ? "" : "  ", o.why.c_str());
    if (o.withCard) {
      good += o.good();
      auto& k = byKind[o.kind];
      k.first += o.good();
      ++k.second;
    } else {
      ++cardless;
      cardlessGood += o.good();
    }
  }
  for (const auto& [kind, counts] : byKind)
    std::printf("  %-32s %d / %d\n", kind.c_str(), counts.first, counts.second);
  std::printf("card clips with a good crop within 5 s: %d / %d; card-less clips without a capture: %d / %d\n",
              good, kCardClips, cardlessGood, cardless);
  EXPECT_GE(good, (kCardClips * 95 + 99) / 100);
  EXPECT_EQ(cardlessGood, cardless);
}

}  // namespace
