// Writes training or validation samples for the document localiser from the test generators: for
// each seed, a scene (a card on one of the generators' surfaces, or no card), degraded as a hand-held
// phone degrades it (motion blur, a glare spot, compression), turned into the network's input by the
// platform's own function, with the card's area as the target.
//
//   export_generated FIRST_SEED COUNT OUT_DIR
//   export_generated --validate FIRST_SEED COUNT     (the requests' figures on full-size scenes)
//   --handheld first: hand-held stills (HandheldScenes.h, its seed ranges) instead of the other generators
//
// OUT_DIR/inputs.u8: COUNT x 128 x 128 x 3 bytes (luma, Cb, Cr); OUT_DIR/masks.u8: COUNT x 64 x 64
// bytes (share of each cell on the card, 0 to 255); OUT_DIR/meta.csv: seed, scene kind, corners in
// input pixels. Build: see tools/docmodel/README.md.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/generators/Generators.h"
#include "fixtures/generators/HandheldScenes.h"
#include "morvik/platform/avf/CoreVideo.h"
#include "morvik/platform/vision.h"
#include "vision/DocumentModel.h"
#include "vision/Frame.h"

using namespace fixtures::generators;
namespace vd = vision::detail;

namespace {

struct Sample {
  std::vector<std::uint8_t> input, mask;
  std::string meta;
};

cv::Size pickSize(std::mt19937& rng) {
  switch (rng() % 4) {
    case 0:
    case 1:
      return {960, 540};
    case 2:
      return {540, 960};
    default:
      return {720, 960};
  }
}

void degrade(cv::Mat& bgr, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0, 1);
  if (u(rng) < 0.3) {  // motion blur
    const int len = 3 + int(rng() % 20);
    cv::Mat k = cv::Mat::zeros(len, len, CV_32F);
    const double a = u(rng) * M_PI;
    const cv::Point2f c(len / 2.f, len / 2.f), d(float(std::cos(a)), float(std::sin(a)));
    cv::line(k, c - d * (len / 2.f), c + d * (len / 2.f), 1.0, 1);
    k /= cv::sum(k)[0];
    cv::filter2D(bgr, bgr, -1, k);
  }
  if (u(rng) < 0.25) {  // glare spot
    cv::Mat spot = cv::Mat::zeros(bgr.size(), CV_32F);
    const cv::Point centre(int(u(rng) * bgr.cols), int(u(rng) * bgr.rows));
    const double sigma = 15 + u(rng) * 90, amp = 80 + u(rng) * 170;
    cv::circle(spot, centre, 1, 1.0, -1);
    cv::GaussianBlur(spot, spot, {0, 0}, sigma);
    double mx;
    cv::minMaxLoc(spot, nullptr, &mx);
    spot *= amp / std::max(mx, 1e-9);
    cv::Mat f;
    bgr.convertTo(f, CV_32FC3);
    cv::Mat s3;
    cv::merge(std::vector<cv::Mat>{spot, spot, spot}, s3);
    f += s3;
    f.convertTo(bgr, CV_8UC3);
  }
  if (u(rng) < 0.6) {  // compression, as a phone's video encoder leaves it
    std::vector<std::uint8_t> buf;
    cv::imencode(".jpg", bgr, buf, {cv::IMWRITE_JPEG_QUALITY, 20 + int(rng() % 60)});
    bgr = cv::imdecode(buf, cv::IMREAD_COLOR);
  }
}

std::mt19937 sceneRandom(std::uint32_t seed) { return std::mt19937(seed * 2654435761u + 17); }

struct Scene {
  cv::Mat bgr;
  std::array<cv::Point2f, 4> corners;
  bool card;
  std::string kind;
  std::uint32_t seed;
};

// Hand-held scenes only (the hand-held generator's seeds), instead of the mix of the other generators.
bool gHandheld = false;

// `rng` seeded with sceneRandom(seed).
Scene makeScene(std::uint32_t seed, int sizeFactor, std::mt19937& rng) {
  if (gHandheld) {
    const auto still = handheld::makeHandheldStill(seed, cv::Size(540, 960) * sizeFactor);
    Scene sc{still.bgr, {}, still.corners.has_value(), "handheld-" + still.spec.kind(), seed};
    if (still.corners) sc.corners = *still.corners;
    return sc;
  }
  std::uniform_real_distribution<double> u(0, 1);
  cv::Mat bgr;
  std::array<cv::Point2f, 4> corners{};
  bool card = true;
  std::string kind;
  const double pick = u(rng);
  if (pick < 0.3) {
    const cv::Size size = pickSize(rng) * sizeFactor;
    const CardFrame f = makeHardCardFrame(100000 + seed, size);
    bgr = f.bgr, corners = f.corners, kind = "hard";
  } else if (pick < 0.75) {
    CardFrameOptions o;
    o.seed = 200000 + seed;
    o.frameSize = pickSize(rng) * sizeFactor;
    o.background = Background(rng() % 4);
    static const CardContent contents[] = {CardContent::printed,      CardContent::pdf417,
                                           CardContent::mrzTD3,       CardContent::mrzTD1,
                                           CardContent::personalData, CardContent::bandedFront,
                                           CardContent::bandedFront,  CardContent::licenceBack};
    o.content = contents[rng() % 8];
    const bool portrait = o.frameSize.height > o.frameSize.width;
    o.minScale = portrait ? 0.4 : 0.3;
    o.maxScale = portrait ? 0.9 : 1.25;
    o.maxRotationDeg = 35;
    o.maxTiltDeg = 25;
    o.maxCentreOffset = 0.15;
    o.maxBlurSigma = 2.0;
    o.maxNoiseSigma = 8;
    o.colourOnlyContrast = rng() % 6 == 0;
    const CardFrame f = makeCardFrame(o);
    bgr = f.bgr, corners = f.corners, kind = "card";
  } else if (pick < 0.82) {
    const CardFrame f = makeSteadyCardScene(rng() % 2 ? CardContent::bandedFront : CardContent::printed,
                                            300000 + seed, Background(rng() % 4));
    const double k = sizeFactor / 2.0;
    if (sizeFactor == 2)
      bgr = f.bgr;
    else
      cv::resize(f.bgr, bgr, {}, k, k, cv::INTER_AREA);
    for (int i = 0; i < 4; ++i) corners[i] = f.corners[i] * float(k);
    kind = "steady";
  } else {
    card = false;
    const cv::Size size = pickSize(rng) * sizeFactor;
    if (rng() % 2)
      bgr = makePhotographFrame(400000 + seed, size), kind = "photo";
    else
      bgr = makeBackgroundFrame(500000 + seed, Background(rng() % 3), size), kind = "background";
  }
  degrade(bgr, rng);
  return {bgr, corners, card, kind, seed};
}

Sample makeSample(std::uint32_t seed) {
  std::mt19937 rng = sceneRandom(seed);
  Scene sc = makeScene(seed, 1, rng);
  std::uniform_real_distribution<double> u(0, 1);
  cv::Mat& bgr = sc.bgr;
  const auto& corners = sc.corners;
  const bool card = sc.card;
  const std::string& kind = sc.kind;
  // The part searched: the live request's central 85 %, the whole frame, or a random window.
  const double W = bgr.cols, H = bgr.rows;
  cv::Rect2f rect;
  const double r = u(rng);
  if (r < 0.45)
    rect = cv::Rect2f(float(0.075 * W), float(0.075 * H), float(0.85 * W), float(0.85 * H));
  else if (r < 0.8)
    rect = cv::Rect2f(0, 0, float(W), float(H));
  else {
    const double w = (0.6 + 0.4 * u(rng)) * W, h = (0.6 + 0.4 * u(rng)) * H;
    rect = cv::Rect2f(float(u(rng) * (W - w)), float(u(rng) * (H - h)), float(w), float(h));
  }
  avf::CVPixelBufferRef buffer = toNV12(bgr);
  vd::Frame frame(buffer, quartz::CGImagePropertyOrientation::up);
  vd::DocumentModelInput in = vd::documentModelInput(frame, rect);
  if (rng() % 20 == 0) {  // grey images have no chroma
    std::vector<cv::Mat> planes;
    cv::split(in.planes, planes);
    planes[1] = 128, planes[2] = 128;
    cv::merge(planes, in.planes);
  }
  Sample s;
  s.input.assign(in.planes.datastart, in.planes.dataend);
  constexpr int n = vd::kDocumentModelInput, m = vd::kDocumentModelOutput, kSuper = 4;
  cv::Mat big = cv::Mat::zeros(m * kSuper, m * kSuper, CV_8U);
  std::string meta = std::to_string(seed) + "," + kind + "," + (card ? "1" : "0");
  if (card) {
    std::vector<cv::Point> poly;
    for (const auto& c : corners) {
      const cv::Point2f p((c.x - in.rect.x) * n / in.rect.width, (c.y - in.rect.y) * n / in.rect.height);
      meta += "," + std::to_string(p.x) + "," + std::to_string(p.y);
      // Sub-pixel fill at four times the grid's resolution (16 fractional steps).
      const float k = float(m * kSuper) / n;
      poly.emplace_back(int(std::lround(p.x * k * 16)), int(std::lround(p.y * k * 16)));
    }
    cv::fillConvexPoly(big, poly, 255, cv::LINE_8, 4);
  }
  cv::Mat mask;
  cv::resize(big, mask, {m, m}, 0, 0, cv::INTER_AREA);
  s.mask.assign(mask.datastart, mask.dataend);
  s.meta = meta;
  return s;
}

// Largest corner distance under the best cyclic pairing, in pixels.
double cornerError(const vision::VNRectangleObservation& o, const std::array<cv::Point2f, 4>& truth,
                   cv::Size size) {
  const vision::CGPoint c[4] = {o.topLeft, o.topRight, o.bottomRight, o.bottomLeft};
  double best = 1e18;
  for (int shift = 0; shift < 4; ++shift) {
    double worst = 0;
    for (int i = 0; i < 4; ++i) {
      const cv::Point2f p(float(c[i].x * size.width), float((1 - c[i].y) * size.height));
      worst = std::max(worst, double(cv::norm(p - truth[std::size_t((i + shift) % 4)])));
    }
    best = std::min(best, worst);
  }
  return best;
}

// Runs the capture screen's live request and its photo-time request on full-size scenes and prints
// how often each finds the card, by kind of scene.
int validate(std::uint32_t first, int count) {
  struct Tally {
    int eligible = 0, live = 0, liveWrong = 0, photo = 0, plain = 0, plainSure = 0, cardless = 0,
        falseFinds = 0;
    std::vector<double> errors;
  };
  std::map<std::string, Tally> tallies;
  std::mutex lock;
  std::atomic<int> next{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = next++; i < count; i = next++) {
        std::mt19937 rng = sceneRandom(first + std::uint32_t(i));
        const Scene sc = makeScene(first + std::uint32_t(i), 2, rng);
        const cv::Size size = sc.bgr.size();
        vision::VNImageRequestHandler handler(toNV12(sc.bgr));
        vision::VNDetectRectanglesRequest live, photo;
        live.maximumObservations = 1, live.minimumSize = 0.1f, live.minimumConfidence = 0.6f;
        live.minimumAspectRatio = 0.2f, live.quadratureTolerance = 30;
        live.regionOfInterest = vision::CGRect::make(0.075, 0.075, 0.85, 0.85);
        photo.maximumObservations = 1, photo.minimumSize = 0.3f, photo.minimumConfidence = 0.75f;
        photo.minimumAspectRatio = 0.3f, photo.quadratureTolerance = 20;
        handler.perform({&live, &photo});
        const double tolerance = 0.02 * std::max(size.width, size.height);
        std::lock_guard<std::mutex> guard(lock);
        Tally& k = tallies[sc.kind];
        if (!sc.card) {
          ++k.cardless;
          k.falseFinds += !live.results().empty();
          continue;
        }
        bool inside = true;
        for (const auto& c : sc.corners)
          inside &= c.x > 0.075 * size.width && c.x < 0.925 * size.width && c.y > 0.075 * size.height &&
                    c.y < 0.925 * size.height;
        if (!inside) continue;
        ++k.eligible;
        if (live.results().empty()) continue;
        const double e = cornerError(live.results()[0], sc.corners, size);
        k.errors.push_back(e);
        if (e > tolerance) {
          ++k.liveWrong;
          continue;
        }
        ++k.live;
        ++k.plain;
        k.plainSure += live.results()[0].confidence >= 0.9f;
        k.photo += !photo.results().empty() && cornerError(photo.results()[0], sc.corners, size) <= tolerance;
      }
    });
  for (auto& t : threads) t.join();
  for (auto& [kind, k] : tallies) {
    std::sort(k.errors.begin(), k.errors.end());
    if (k.cardless)
      std::printf("%-10s card-less: %d/%d with an answer\n", kind.c_str(), k.falseFinds, k.cardless);
    else
      std::printf(
          "%-10s live: %d/%d right, %d wrong; photo-time: %d/%d; confidence >= 0.9: %d/%d; "
          "corner error median %.1f px\n",
          kind.c_str(), k.live, k.eligible, k.liveWrong, k.photo, k.live, k.plainSure, k.plain,
          k.errors.empty() ? 0.0 : k.errors[k.errors.size() / 2]);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--handheld") gHandheld = true, --argc, ++argv;
  if (argc == 4 && std::string(argv[1]) == "--validate")
    return validate(std::uint32_t(std::strtoul(argv[2], nullptr, 10)), std::atoi(argv[3]));
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s FIRST_SEED COUNT OUT_DIR\n", argv[0]);
    return 2;
  }
  const std::uint32_t first = std::uint32_t(std::strtoul(argv[1], nullptr, 10));
  const int count = std::atoi(argv[2]);
  const std::filesystem::path out = argv[3];
  std::filesystem::create_directories(out);
  std::vector<Sample> samples(static_cast<std::size_t>(count));
  std::atomic<int> next{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = next++; i < count; i = next++)
        samples[std::size_t(i)] = makeSample(first + std::uint32_t(i));
    });
  for (auto& t : threads) t.join();
  std::ofstream inputs(out / "inputs.u8", std::ios::binary), masks(out / "masks.u8", std::ios::binary),
      meta(out / "meta.csv");
  for (const auto& s : samples) {
    inputs.write(reinterpret_cast<const char*>(s.input.data()), std::streamsize(s.input.size()));
    masks.write(reinterpret_cast<const char*>(s.mask.data()), std::streamsize(s.mask.size()));
    meta << s.meta << "\n";
  }
  return 0;
}
