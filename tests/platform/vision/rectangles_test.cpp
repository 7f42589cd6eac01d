// Rectangle detection on generated camera frames: accuracy, false positives,
// every request limit, and orientation handling.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <opencv2/imgproc.hpp>
#include <thread>

#include "fixtures/generators/Generators.h"
#include "fixtures/generators/HandheldScenes.h"
#include "morvik/platform/vision.h"
#include "vision/Frame.h"

namespace {

using namespace fixtures::generators;
using quartz::CGImagePropertyOrientation;
using vision::VNDetectRectanglesRequest;
using vision::VNImageRequestHandler;
using vision::VNRectangleObservation;

// The capture screen's live request.
void setLiveLimits(VNDetectRectanglesRequest& r) {
  r.maximumObservations = 1;
  r.minimumSize = 0.1f;
  r.minimumConfidence = 0.6f;
  r.minimumAspectRatio = 0.2f;
  r.quadratureTolerance = 30;
  r.regionOfInterest = vision::CGRect::make(0.075, 0.075, 0.85, 0.85);
}

std::array<cv::Point2f, 4> cornersInPixels(const VNRectangleObservation& o, cv::Size size) {
  std::array<cv::Point2f, 4> out;
  const vision::CGPoint c[4] = {o.topLeft, o.topRight, o.bottomRight, o.bottomLeft};
  for (int i = 0; i < 4; ++i) out[i] = {float(c[i].x * size.width), float((1 - c[i].y) * size.height)};
  return out;
}

// Largest corner distance under the best cyclic pairing (the detector names
// corners by image position, the generator by the card's print).
double cornerError(const std::array<cv::Point2f, 4>& found, const std::array<cv::Point2f, 4>& truth) {
  double best = 1e18;
  for (int shift = 0; shift < 4; ++shift) {
    double worst = 0;
    for (int i = 0; i < 4; ++i) worst = std::max(worst, double(cv::norm(found[i] - truth[(i + shift) % 4])));
    best = std::min(best, worst);
  }
  return best;
}

std::vector<VNRectangleObservation> detect(const cv::Mat& bgr, VNDetectRectanglesRequest& request,
                                           CGImagePropertyOrientation o = CGImagePropertyOrientation::up) {
  VNImageRequestHandler handler(toNV12(bgr), o);
  vision::VNError error;
  EXPECT_TRUE(handler.perform({&request}, &error)) << error.localizedDescription;
  return request.results();
}

// Runs f(i) for i in [0, n) on four threads (handlers are independent per thread).
template <class F>
void parallelFor(int n, F f) {
  std::atomic<int> next{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = next++; i < n; i = next++) f(i);
    });
  for (auto& t : threads) t.join();
}

TEST(RectangleDetection, FindsGeneratedCardsWithinOnePercentOfTheDiagonal) {
  constexpr int kCases = 228;
  const double diag = std::hypot(1920.0, 1080.0);
  std::mutex m;
  int eligible = 0, accurate = 0;
  std::vector<double> errors;
  parallelFor(kCases, [&](int i) {
    CardFrameOptions o;
    o.seed = std::uint32_t(1000 + i);
    o.background = Background(i % 3);
    o.content = i % 7 == 3 ? CardContent::pdf417 : CardContent::printed;
    const CardFrame frame = makeCardFrame(o);
    VNDetectRectanglesRequest request;
    setLiveLimits(request);
    const auto found = detect(frame.bgr, request);
    const double error =
        found.empty() ? 1e9 : cornerError(cornersInPixels(found[0], {1920, 1080}), frame.corners);
    // Only cards that satisfy the request count: wholly inside its region of interest.
    bool insideRegion = true;
    for (const auto& c : frame.corners)
      insideRegion &= c.x > 0.075 * 1920 && c.x < 0.925 * 1920 && c.y > 0.075 * 1080 && c.y < 0.925 * 1080;
    std::lock_guard lock(m);
    if (!insideRegion) return;
    ++eligible;
    errors.push_back(error);
    if (error <= 0.01 * diag) ++accurate;
  });
  std::sort(errors.begin(), errors.end());
  const double rate = double(accurate) / eligible;
  std::printf(
      "[ figures  ] rectangles: %d/%d cards found within 1%% of the diagonal (%.1f%%); corner error median "
      "%.2f px, 90th percentile %.2f px\n",
      accurate, eligible, 100 * rate, errors[errors.size() / 2], errors[errors.size() * 9 / 10]);
  EXPECT_GE(eligible, 200);
  EXPECT_GE(rate, 0.95);
}

TEST(RectangleDetection, RarelyFindsAnythingInFramesWithoutACard) {
  constexpr int kCases = 100;
  std::atomic<int> falsePositives{0};
  parallelFor(kCases, [&](int i) {
    VNDetectRectanglesRequest request;
    setLiveLimits(request);
    if (!detect(makeBackgroundFrame(std::uint32_t(5000 + i), Background(i % 3)), request).empty())
      ++falsePositives;
  });
  std::printf("[ figures  ] rectangles: %d false detections in %d frames without a card\n",
              falsePositives.load(), kCases);
  EXPECT_LE(falsePositives.load(), kCases * 2 / 100);
}

// Cards as real ones are printed (header and footer bands of any colour, framed photographs, boxes,
// frame lines), on real photographs and on surfaces that differ from the card only in hue. Run at
// 1280 x 720 to stay quick; the detector's search size does not depend on the frame's.
// The outward search reads a side's steps eight points at a time where the processor has AVX2, and
// one at a time elsewhere (CI's machines among them): the two must agree to the bit, on the step
// thresholds, at the image's edges and beyond them too.
TEST(RectangleSteps, EightAtATimeAgreeWithOneAtATime) {
#ifdef VISION_STEP_ROW_AVX2
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2 here";
  cv::RNG rng(7);
  cv::Mat gxy(120, 200, CV_16SC2);
  rng.fill(gxy, cv::RNG::UNIFORM, -400, 400);
  // Rows of steps exactly on the thresholds (40 and 60 across, 20 and 30 along).
  const short across[] = {40, -40, 60, -60, 41, 61}, along[] = {0, 20, 30, -20, -30};
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < gxy.cols; ++x)
      gxy.at<cv::Vec2s>(y, x) = {across[(x + y) % 6], along[(x * 7 + y) % 5]};
  for (int c = 0; c < 3000; ++c) {
    const float angle = rng.uniform(0.f, 6.2832f);
    cv::Point2f n(std::cos(angle), std::sin(angle));
    if (c % 4 == 0) n = c % 8 == 0 ? cv::Point2f(1, 0) : cv::Point2f(0, -1);
    const cv::Point2f d(-n.y, n.x), base(rng.uniform(-40.f, 240.f), rng.uniform(-40.f, 160.f));
    const int count = rng.uniform(0, 100);
    std::vector<std::uint8_t> one(std::size_t(count), 0xAA),
        eight(std::size_t(count + vision::detail::kStepRowBlock), 0xAA);
    vision::detail::stepRowPortable(gxy, base, n, d, count, one.data());
    vision::detail::stepRowAVX2(gxy, base, n, d, count, eight.data());
    ASSERT_TRUE(std::equal(one.begin(), one.end(), eight.begin()))
        << "from (" << base.x << ", " << base.y << ") along (" << n.x << ", " << n.y << "), " << count
        << " points";
  }
#else
  GTEST_SKIP() << "no AVX2 build here";
#endif
}

TEST(RectangleDetection, AnswersTheOuterEdgeOfBandedCardsOnRealPhotographs) {
  ASSERT_FALSE(backgroundPhotographs().empty()) << "the opencv-doc package's sample photographs are missing";
  constexpr int kCases = 300;
  const cv::Size size(1280, 720);
  const double diag = std::hypot(double(size.width), double(size.height));
  std::mutex m;
  int accurate = 0;
  std::vector<double> errors;
  std::vector<int> failed;
  parallelFor(kCases, [&](int i) {
    const CardFrame frame = makeHardCardFrame(std::uint32_t(i), size);
    VNDetectRectanglesRequest request;
    setLiveLimits(request);
    const auto found = detect(frame.bgr, request);
    // Named as printed: the observation's top left is the card's top left.
    double error = 1e9;
    if (!found.empty()) {
      const auto corners = cornersInPixels(found[0], size);
      error = 0;
      for (int k = 0; k < 4; ++k) error = std::max(error, double(cv::norm(corners[k] - frame.corners[k])));
    }
    std::lock_guard lock(m);
    errors.push_back(error);
    if (error <= 0.01 * diag)
      ++accurate;
    else
      failed.push_back(i);
  });
  std::sort(errors.begin(), errors.end());
  std::sort(failed.begin(), failed.end());
  std::string list;
  for (int i : failed) list += " " + std::to_string(i);
  std::printf(
      "[ figures  ] rectangles, hard set: %d/%d within 1%% of the diagonal (%.1f%%); corner error median "
      "%.2f px, "
      "90th percentile %.2f px; missed:%s\n",
      accurate, kCases, 100.0 * accurate / kCases, errors[errors.size() / 2], errors[errors.size() * 9 / 10],
      list.c_str());
  // 291 today (97 %), kept a little below for the generator's noise. What is left: bands and bodies
  // against a surface of nearly their own colour, and cards on circuit boards and facades whose own
  // rectangles touch the card.
  EXPECT_GE(accurate, kCases * 94 / 100);
}

TEST(RectangleDetection, AnswersNothingOnRealPhotographsWithoutACard) {
  ASSERT_FALSE(backgroundPhotographsWithoutRectangles().empty());
  constexpr int kCases = 120;
  std::atomic<int> answered{0};
  parallelFor(kCases, [&](int i) {
    VNDetectRectanglesRequest request;
    setLiveLimits(request);
    if (!detect(makePhotographFrame(std::uint32_t(i), {1280, 720}), request).empty()) ++answered;
  });
  std::printf("[ figures  ] rectangles: %d answers on %d photographs without a card\n", answered.load(),
              kCases);
  EXPECT_EQ(answered.load(), 0);
}

// Stills of a phone held over an ID card on a table (light, white, grey, striped, wooden or busy
// surfaces; light card bodies with bands, hard-edged portraits, barcodes): the live request answers the
// card, never a box printed on it, and the photo-time request (stricter limits, the whole frame) finds
// what the live request found. Card-less stills get no answer.
TEST(RectangleDetection, AnswersTheCardOnHandHeldStillsAndThePhotoRequestFindsItToo) {
  namespace hh = fixtures::generators::handheld;
  constexpr int kCards = 40, kCardless = 10;
  std::mutex m;
  int eligible = 0, live = 0, wrong = 0, photo = 0, sure = 0, cardlessAnswers = 0;
  std::vector<int> missed;
  parallelFor(kCards + kCardless, [&](int i) {
    const bool withCard = i < kCards;
    const auto still =
        hh::makeHandheldStill(hh::kTestSeedsBegin + 700 + std::uint32_t(i), {540, 960}, withCard);
    VNDetectRectanglesRequest liveRequest, photoRequest;
    setLiveLimits(liveRequest);
    photoRequest.maximumObservations = 1, photoRequest.minimumSize = 0.3f,
    photoRequest.minimumConfidence = 0.75f;
    photoRequest.minimumAspectRatio = 0.3f, photoRequest.quadratureTolerance = 20;
    VNImageRequestHandler handler(toNV12(still.bgr));
    ASSERT_TRUE(handler.perform({&liveRequest, &photoRequest}));
    const cv::Size size = still.bgr.size();
    const double tolerance = 0.02 * std::max(size.width, size.height);
    const auto isCard = [&](const std::vector<VNRectangleObservation>& found) {
      return !found.empty() && cornerError(cornersInPixels(found[0], size), *still.corners) <= tolerance;
    };
    std::lock_guard lock(m);
    if (!withCard) {
      cardlessAnswers += !liveRequest.results().empty();
      return;
    }
    // The live request looks inside the central 85 % only: a card reaching past it is no card to it.
    bool inside = true;
    for (const auto& c : *still.corners)
      inside &= c.x > 0.075 * size.width && c.x < 0.925 * size.width && c.y > 0.075 * size.height &&
                c.y < 0.925 * size.height;
    if (!inside) return;
    ++eligible;
    if (!isCard(liveRequest.results())) {
      wrong += !liveRequest.results().empty();
      missed.push_back(i);
      return;
    }
    ++live;
    sure += liveRequest.results()[0].confidence >= 0.9f;
    photo += isCard(photoRequest.results());
  });
  std::string list;
  for (int i : missed) list += " " + std::to_string(i);
  std::printf(
      "[ figures  ] rectangles, hand-held stills: live request %d/%d right (%d answered something else), "
      "photo-time request %d/%d of those, confidence >= 0.9 on %d; card-less: %d answers in %d; "
      "missed:%s\n",
      live, eligible, wrong, photo, live, sure, cardlessAnswers, kCardless, list.c_str());
  // Today 20 of the 32 cards inside the region right, 9 other answers (mostly corners more than 2 % off
  // on white and striped tables, where the card's edge is faint), photo-time 18 of 20. The goal is 95 %
  // for both: the floors below keep what there is.
  EXPECT_GE(eligible, 25);
  EXPECT_GE(live, 18);
  EXPECT_LE(wrong, 11);
  EXPECT_GE(photo * 100, live * 85);
  EXPECT_EQ(cardlessAnswers, 0);
}

class RectangleLimits : public ::testing::Test {
 protected:
  // A straight, well-lit card of known size in the middle-left of the frame.
  static CardFrame straightCard(double tiltDeg = 0) {
    CardFrameOptions o;
    o.seed = 42;
    o.minScale = o.maxScale = 0.5;  // 540 px wide on a 1080 px high frame
    o.maxRotationDeg = 0;
    o.maxTiltDeg = tiltDeg;
    o.maxCentreOffset = 0;
    o.maxBlurSigma = 0.5;
    o.maxNoiseSigma = 1;
    return makeCardFrame(o);
  }
  // How many results are the card of `frame` (the card holds printed boxes that are rectangles too).
  static std::size_t count(const CardFrame& frame,
                           const std::function<void(VNDetectRectanglesRequest&)>& set) {
    VNDetectRectanglesRequest r;
    r.minimumAspectRatio = 0.2f;
    r.maximumObservations = 0;
    set(r);
    std::size_t n = 0;
    for (const auto& o : detect(frame.bgr, r))
      n += cornerError(cornersInPixels(o, frame.bgr.size()), frame.corners) < 10;
    return n;
  }
};

TEST_F(RectangleLimits, MinimumSizeIsTheLongerSideOverTheShorterImageSide) {
  const CardFrame bgr = straightCard();  // longer side 540 / 1080 = 0.5
  EXPECT_EQ(count(bgr, [](auto& r) { r.minimumSize = 0.45f; }), 1u);
  EXPECT_EQ(count(bgr, [](auto& r) { r.minimumSize = 0.55f; }), 0u);
}

TEST_F(RectangleLimits, AspectRatioWindowMustHoldTheCardsRatio) {
  const CardFrame bgr = straightCard();  // 1 / 1.586 = 0.63
  EXPECT_EQ(count(bgr, [](auto& r) { r.minimumAspectRatio = 0.6f, r.maximumAspectRatio = 0.66f; }), 1u);
  EXPECT_EQ(count(bgr, [](auto& r) { r.minimumAspectRatio = 0.7f; }), 0u);
  EXPECT_EQ(count(bgr, [](auto& r) { r.maximumAspectRatio = 0.55f; }), 0u);
}

TEST_F(RectangleLimits, QuadratureToleranceRejectsStronglyTiltedCards) {
  const CardFrame tilted = straightCard(35);
  VNDetectRectanglesRequest loose;
  loose.minimumAspectRatio = 0.2f;
  loose.quadratureTolerance = 45;
  ASSERT_EQ(detect(tilted.bgr, loose).size(), 1u);
  // The generator's card angles tell how far from square the outline is.
  double worst = 0;
  for (int i = 0; i < 4; ++i) {
    const cv::Point2f a = tilted.corners[(i + 3) % 4] - tilted.corners[i],
                      b = tilted.corners[(i + 1) % 4] - tilted.corners[i];
    worst = std::max(worst, std::abs(std::acos(a.dot(b) / (cv::norm(a) * cv::norm(b))) * 180 / CV_PI - 90));
  }
  ASSERT_GT(worst, 4);
  EXPECT_EQ(count(tilted, [&](auto& r) { r.quadratureTolerance = float(worst + 3); }), 1u);
  EXPECT_EQ(count(tilted, [&](auto& r) { r.quadratureTolerance = float(worst - 3); }), 0u);
}

TEST_F(RectangleLimits, MinimumConfidenceDropsPartlyHiddenOutlines) {
  CardFrame frame = straightCard();
  // Hide a third of the card's bottom edge under a strip of the surface's colour.
  const cv::Point2f a = frame.corners[3], b = frame.corners[2];
  const cv::Vec3b surface = frame.bgr.at<cv::Vec3b>(int(a.y) + 40, int(a.x) - 40);
  cv::line(frame.bgr, a + (b - a) * 0.3f, a + (b - a) * 0.63f, cv::Scalar(surface), 25);
  VNDetectRectanglesRequest any;
  any.minimumAspectRatio = 0.2f;
  const auto found = detect(frame.bgr, any);
  ASSERT_EQ(found.size(), 1u);
  const float c = found[0].confidence;
  EXPECT_LT(c, 0.95f);
  EXPECT_GT(c, 0.5f);
  EXPECT_EQ(count(frame, [&](auto& r) { r.minimumConfidence = c - 0.05f; }), 1u);
  EXPECT_EQ(count(frame, [&](auto& r) { r.minimumConfidence = c + 0.05f; }), 0u);
}

TEST_F(RectangleLimits, RegionOfInterestLimitsTheSearchButNotTheCoordinates) {
  const CardFrame frame = straightCard();  // centred: x 690..1230 of 1920
  VNDetectRectanglesRequest inside;
  inside.minimumAspectRatio = 0.2f;
  inside.regionOfInterest = vision::CGRect::make(0.3, 0.1, 0.5, 0.8);
  const auto found = detect(frame.bgr, inside);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_LT(cornerError(cornersInPixels(found[0], {1920, 1080}), frame.corners), 4);
  EXPECT_EQ(count(frame, [](auto& r) { r.regionOfInterest = vision::CGRect::make(0, 0, 0.3, 1); }), 0u);
  EXPECT_EQ(count(frame, [](auto& r) { r.regionOfInterest = vision::CGRect::make(0.5, 0.5, 0, 0); }), 0u);
  // A region that cuts the card in two holds no whole card: its cut side has no edge.
  EXPECT_EQ(count(frame, [](auto& r) { r.regionOfInterest = vision::CGRect::make(0.5, 0, 0.5, 1); }), 0u);
}

TEST_F(RectangleLimits, MaximumObservationsCapsTheResultsAndZeroMeansAll) {
  // Two cards side by side: each card also holds a printed box.
  const CardFrame one = straightCard();
  cv::Mat both = one.bgr.clone(), shifted;
  const cv::Rect left(0, 0, 960, 1080), right(960, 0, 960, 1080);
  for (const auto& [dx, half] : {std::pair{-420.0, left}, std::pair{420.0, right}}) {
    cv::warpAffine(one.bgr, shifted, cv::Matx23d(1, 0, dx, 0, 1, 0), one.bgr.size(), cv::INTER_LINEAR,
                   cv::BORDER_REPLICATE);
    shifted(half).copyTo(both(half));
  }
  const auto results = [&](std::size_t max) {
    VNDetectRectanglesRequest r;
    r.minimumAspectRatio = 0.2f;
    r.maximumObservations = max;
    return detect(both, r);
  };
  EXPECT_EQ(results(1).size(), 1u);
  const auto two = results(2);
  for (const auto& o : results(0))
    std::printf("DBG %.3f %.3f %.3f %.3f %.2f\n", o.boundingBox.origin.x, o.boundingBox.origin.y,
                o.boundingBox.size.width, o.boundingBox.size.height, o.confidence);
  ASSERT_EQ(two.size(), 2u);
  // The two cards come first (the largest well-supported outlines), one on each side.
  EXPECT_NE(two[0].boundingBox.origin.x < 0.5, two[1].boundingBox.origin.x < 0.5);
  for (const auto& o : two) EXPECT_NEAR(o.boundingBox.size.width * 1920, 540, 12);
  EXPECT_GE(results(0).size(), 2u);
}

TEST(RectangleOrientation, EveryOrientationReportsTheUprightImagesCorners) {
  CardFrameOptions o;
  o.seed = 77;
  o.frameSize = {1080, 1920};  // upright portrait
  o.maxRotationDeg = 10;
  const CardFrame frame = makeCardFrame(o);
  // For each orientation, the stored pixels that the orientation turns upright.
  const std::pair<CGImagePropertyOrientation, std::function<cv::Mat(const cv::Mat&)>> cases[] = {
      {CGImagePropertyOrientation::up, [](const cv::Mat& m) { return m.clone(); }},
      {CGImagePropertyOrientation::upMirrored,
       [](const cv::Mat& m) {
         cv::Mat r;
         cv::flip(m, r, 1);
         return r;
       }},
      {CGImagePropertyOrientation::down,
       [](const cv::Mat& m) {
         cv::Mat r;
         cv::rotate(m, r, cv::ROTATE_180);
         return r;
       }},
      {CGImagePropertyOrientation::downMirrored,
       [](const cv::Mat& m) {
         cv::Mat r;
         cv::flip(m, r, 0);
         return r;
       }},
      {CGImagePropertyOrientation::leftMirrored,
       [](const cv::Mat& m) {
         cv::Mat r;
         cv::transpose(m, r);
         return r;
       }},
      {CGImagePropertyOrientation::right, [](const cv::Mat& m) { return uprightToSensor(m); }},
      {CGImagePropertyOrientation::rightMirrored,
       [](const cv::Mat& m) {
         cv::Mat t, r;
         cv::transpose(m, t);
         cv::flip(t, r, -1);
         return r;
       }},
      {CGImagePropertyOrientation::left,
       [](const cv::Mat& m) {
         cv::Mat r;
         cv::rotate(m, r, cv::ROTATE_90_CLOCKWISE);
         return r;
       }},
  };
  for (const auto& [orientation, store] : cases) {
    SCOPED_TRACE(int(orientation));
    VNDetectRectanglesRequest request;
    setLiveLimits(request);
    const auto found = detect(store(frame.bgr), request, orientation);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_LT(cornerError(cornersInPixels(found[0], {1080, 1920}), frame.corners),
              0.01 * std::hypot(1080, 1920));
    // Named by the upright image: the top left corner is up and to the left.
    EXPECT_GT(found[0].topLeft.y, found[0].bottomLeft.y);
    EXPECT_LT(found[0].topLeft.x, found[0].topRight.x);
  }
}

TEST(RectangleOrientation, BGRABuffersAndImagesGiveTheSameAnswerAsNV12) {
  CardFrameOptions o;
  o.seed = 9;
  const CardFrame frame = makeCardFrame(o);
  VNDetectRectanglesRequest a, b, c;
  for (auto* r : {&a, &b, &c}) setLiveLimits(*r);
  ASSERT_TRUE(VNImageRequestHandler(toNV12(frame.bgr)).perform({&a}));
  ASSERT_TRUE(VNImageRequestHandler(toBGRA(frame.bgr)).perform({&b}));
  ASSERT_TRUE(VNImageRequestHandler(toCGImage(frame.bgr)).perform({&c}));
  ASSERT_EQ(a.results().size(), 1u);
  ASSERT_EQ(b.results().size(), 1u);
  ASSERT_EQ(c.results().size(), 1u);
  for (const auto* r : {&b, &c})
    EXPECT_LT(cornerError(cornersInPixels(r->results()[0], {1920, 1080}),
                          cornersInPixels(a.results()[0], {1920, 1080})),
              3);
}

TEST(RequestHandler, FailsCleanlyOnUnusableInput) {
  VNDetectRectanglesRequest request;
  int calls = 0;
  bool sawError = false;
  request.completionHandler = [&](vision::VNRequest&, const std::optional<vision::VNError>& e) {
    ++calls;
    sawError = e.has_value();
  };
  // A first good perform leaves results that a failed one must not keep.
  CardFrameOptions o;
  o.seed = 3;
  ASSERT_TRUE(VNImageRequestHandler(toNV12(makeCardFrame(o).bgr)).perform({&request}));
  ASSERT_FALSE(request.results().empty());

  vision::VNError error;
  VNImageRequestHandler none(avf::CVPixelBufferRef{});
  EXPECT_FALSE(none.perform({&request}, &error));
  EXPECT_EQ(error.code, vision::VNError::Code::invalidImage);
  EXPECT_TRUE(request.results().empty());
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(sawError);

  // An unknown pixel format and an orientation outside 1...8.
  std::vector<std::uint8_t> bytes(64 * 64 * 2);
  avf::CVPlane plane{bytes.data(), 64, 64, 128};
  auto odd = avf::CVPixelBuffer::wrapPlanes(64, 64, 0x79757679 /* 'yuvy' */, &plane, 1, nullptr);
  EXPECT_FALSE(VNImageRequestHandler(odd).perform({&request}));
  VNImageRequestHandler badOrientation(toNV12(cv::Mat(64, 64, CV_8UC3, cv::Scalar::all(128))),
                                       static_cast<CGImagePropertyOrientation>(9));
  EXPECT_FALSE(badOrientation.perform({&request}));
  ASSERT_TRUE(badOrientation.lastError());
  EXPECT_EQ(badOrientation.lastError()->code, vision::VNError::Code::invalidArgument);

  // Limits that make no sense fail the request instead of finding nothing.
  VNDetectRectanglesRequest inverted;
  inverted.minimumAspectRatio = 0.9f;
  inverted.maximumAspectRatio = 0.5f;
  EXPECT_FALSE(VNImageRequestHandler(toNV12(makeCardFrame(o).bgr)).perform({&inverted}));
}

}  // namespace

TEST(RectangleResults, StayInTheImageWhenTheFrameCutsTheCard) {
  // Cards that run past the frame's edge, whose outlines the detector extends beyond it (by up to
  // 5 % of the frame before results were kept in the image).
  for (const std::uint32_t seed : {1009u, 1013u, 1113u, 1295u}) {
    CardFrameOptions o;
    o.seed = seed;
    o.frameSize = {640, 360};
    o.minScale = 0.6, o.maxScale = 1.1;
    o.maxCentreOffset = 0.3;
    const CardFrame frame = makeCardFrame(o);
    ASSERT_FALSE(frame.cardInsideFrame) << seed;
    VNDetectRectanglesRequest r;
    setLiveLimits(r);
    const auto found = detect(frame.bgr, r);
    ASSERT_EQ(found.size(), 1u) << seed;
    const auto& box = found[0].boundingBox;
    EXPECT_GE(box.origin.x, 0) << seed;
    EXPECT_GE(box.origin.y, 0) << seed;
    EXPECT_LE(box.origin.x + box.size.width, 1 + 1e-9) << seed;
    EXPECT_LE(box.origin.y + box.size.height, 1 + 1e-9) << seed;
    bool onTheEdge = false;
    for (const auto& c : {found[0].topLeft, found[0].topRight, found[0].bottomRight, found[0].bottomLeft}) {
      EXPECT_TRUE(c.x >= 0 && c.x <= 1 && c.y >= 0 && c.y <= 1) << seed << ": " << c.x << ", " << c.y;
      EXPECT_TRUE(c.x >= box.origin.x && c.x <= box.origin.x + box.size.width + 1e-9 && c.y >= box.origin.y &&
                  c.y <= box.origin.y + box.size.height + 1e-9)
          << seed;
      onTheEdge = onTheEdge || c.x == 0 || c.x == 1 || c.y == 0 || c.y == 1;
    }
    EXPECT_TRUE(onTheEdge) << seed << ": a cut card's outline reaches the frame's edge";
  }
}
