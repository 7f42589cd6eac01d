// The fast text level's recogniser: see GlyphRecognizer.h.
#include "vision/GlyphRecognizer.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <numeric>
#include <opencv2/imgproc.hpp>
#include <random>
#include <stdexcept>
#include <thread>

namespace vision::detail {

namespace {

constexpr char kZoneAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789<";
constexpr char kPrintAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789.,:;-/'()&+#!?";

constexpr int kGrid = 20;     // a glyph is fitted into kGrid x kGrid pixels
constexpr int kCells = 4;     // orientation histograms over kCells x kCells cells
constexpr int kBins = 8;      // signed gradient orientations per cell
constexpr int kCoarse = 8;    // the coarse picture, kCoarse x kCoarse
constexpr int kGeometry = 5;  // height, width, top, bottom, aspect against the line
constexpr int kFeatures = kCells * kCells * kBins + kCoarse * kCoarse + kGeometry;

// Rows of a line as extracted: the box plus a fifth of it above and below.
int lineRows() { return int(std::lround(GlyphRecognizer::kLineHeight * 1.4)); }

// Where the line's capitals stand: their top row and the baseline.
struct LineMetrics {
  float capTop = 0, baseline = 1;
  float capHeight() const { return std::max(1.0f, baseline - capTop); }
};

// Ink made bright on a black ground by a black-hat (immune to uneven light and
// to the ground's own brightness), and its mask.
struct Ink {
  cv::Mat ink, mask, labels, stats;
  int count = 0;
};

Ink inkOf(const cv::Mat& grey) {
  Ink out;
  const int box = std::max(8, int(std::lround(grey.rows / 1.4)));
  const int k = (box / 2) | 1;
  cv::morphologyEx(grey, out.ink, cv::MORPH_BLACKHAT, cv::getStructuringElement(cv::MORPH_RECT, {k, k}));
  double lo = 0, hi = 0;
  cv::minMaxLoc(out.ink, &lo, &hi);
  if (hi < 16) return out;  // no print, only noise
  const double t = cv::threshold(out.ink, out.mask, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
  // A nearly empty line gives Otsu only noise to split: keep the ink clearly above it.
  if (t < hi * 0.25) cv::threshold(out.ink, out.mask, hi * 0.25, 255, cv::THRESH_BINARY);
  cv::Mat centroids;
  out.count = cv::connectedComponentsWithStats(out.mask, out.labels, out.stats, centroids, 8, CV_32S);
  return out;
}

// One glyph: a rectangle of the line and the components that make it.
struct Glyph {
  cv::Rect rect;
  std::vector<int> ids;
};

cv::Rect componentRect(const Ink& ink, int id) {
  return {ink.stats.at<int>(id, cv::CC_STAT_LEFT), ink.stats.at<int>(id, cv::CC_STAT_TOP),
          ink.stats.at<int>(id, cv::CC_STAT_WIDTH), ink.stats.at<int>(id, cv::CC_STAT_HEIGHT)};
}

// Components worth reading: no specks, nothing of the neighbouring lines that
// the padding caught, no rules or frame edges.
std::vector<Glyph> components(const Ink& ink) {
  const int rows = ink.ink.rows;
  const float box = float(rows) / 1.4f;
  const int minArea = std::max(4, int(box * box * 0.005f));
  std::vector<Glyph> out;
  for (int id = 1; id < ink.count; ++id) {
    const cv::Rect r = componentRect(ink, id);
    if (ink.stats.at<int>(id, cv::CC_STAT_AREA) < minArea) continue;
    const float centre = r.y + r.height / 2.0f;
    if ((r.y == 0 || r.y + r.height == rows) && (centre < rows * 0.2f || centre > rows * 0.8f)) continue;
    if (r.height > 1.6f * box) continue;
    if (r.height < 0.15f * box && r.width > 2.5f * box) continue;
    out.push_back({r, {id}});
  }
  std::sort(out.begin(), out.end(), [](const Glyph& a, const Glyph& b) { return a.rect.x < b.rect.x; });
  // Pieces stacked over each other (the dots of i, j, :, ; ! ?) make one glyph.
  std::vector<Glyph> merged;
  for (Glyph& g : out) {
    if (!merged.empty()) {
      Glyph& last = merged.back();
      const int overlap =
          std::min(last.rect.x + last.rect.width, g.rect.x + g.rect.width) - std::max(last.rect.x, g.rect.x);
      if (overlap >= 0.5 * std::min(last.rect.width, g.rect.width)) {
        last.rect |= g.rect;
        last.ids.insert(last.ids.end(), g.ids.begin(), g.ids.end());
        continue;
      }
    }
    merged.push_back(std::move(g));
  }
  return merged;
}

LineMetrics metricsOf(const std::vector<Glyph>& glyphs, int rows) {
  LineMetrics m;
  if (glyphs.empty()) {
    m.capTop = rows * 0.2f, m.baseline = rows * 0.8f;
    return m;
  }
  std::vector<int> heights;
  for (const auto& g : glyphs) heights.push_back(g.rect.height);
  std::sort(heights.begin(), heights.end());
  const float tallest = float(heights[std::min(heights.size() - 1, heights.size() * 85 / 100)]);
  std::vector<float> tops, bottoms;
  for (const auto& g : glyphs) {
    if (g.rect.height < 0.7f * tallest) continue;
    tops.push_back(float(g.rect.y));
    bottoms.push_back(float(g.rect.y + g.rect.height));
  }
  auto median = [](std::vector<float>& v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
  };
  m.capTop = median(tops);
  m.baseline = median(bottoms);
  return m;
}

// The glyph's features: orientation histograms and a coarse picture of its ink
// fitted (aspect kept) into a square, and its geometry against the line.
void featuresOf(const Ink& ink, const Glyph& g, const LineMetrics& m, float* out) {
  cv::Mat crop;
  ink.ink(g.rect).convertTo(crop, CV_32F);
  // Only this glyph's own components (and their soft edges): a neighbour's
  // serif or a kerned letter reaching into the box is not part of it.
  cv::Mat own = cv::Mat::zeros(g.rect.size(), CV_8U);
  const cv::Mat labels = ink.labels(g.rect);
  for (int y = 0; y < labels.rows; ++y) {
    const int* l = labels.ptr<int>(y);
    unsigned char* o = own.ptr<unsigned char>(y);
    for (int x = 0; x < labels.cols; ++x)
      if (l[x] && std::find(g.ids.begin(), g.ids.end(), l[x]) != g.ids.end()) o[x] = 255;
  }
  cv::dilate(own, own, cv::Mat());
  cv::Mat masked = cv::Mat::zeros(crop.size(), CV_32F);
  crop.copyTo(masked, own);
  double hi = 0;
  cv::minMaxLoc(masked, nullptr, &hi);
  if (hi > 0) masked *= 1.0 / hi;

  const double s = double(kGrid) / std::max(g.rect.width, g.rect.height);
  const int w = std::clamp(int(std::lround(g.rect.width * s)), 1, kGrid);
  const int h = std::clamp(int(std::lround(g.rect.height * s)), 1, kGrid);
  cv::Mat fitted = cv::Mat::zeros(kGrid, kGrid, CV_32F), scaled;
  cv::resize(masked, scaled, {w, h}, 0, 0, s < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
  scaled.copyTo(fitted(cv::Rect((kGrid - w) / 2, (kGrid - h) / 2, w, h)));

  cv::Mat gx, gy;
  cv::Sobel(fitted, gx, CV_32F, 1, 0, 3, 1, 0, cv::BORDER_CONSTANT);
  cv::Sobel(fitted, gy, CV_32F, 0, 1, 3, 1, 0, cv::BORDER_CONSTANT);
  float* hist = out;
  std::fill(hist, hist + kCells * kCells * kBins, 0.0f);
  const int cell = kGrid / kCells;
  for (int y = 0; y < kGrid; ++y) {
    for (int x = 0; x < kGrid; ++x) {
      const float dx = gx.at<float>(y, x), dy = gy.at<float>(y, x);
      const float mag = std::sqrt(dx * dx + dy * dy);
      if (mag <= 1e-6f) continue;
      float a = std::atan2(dy, dx) / float(2 * CV_PI) * kBins;
      if (a < 0) a += kBins;
      const int b0 = int(a) % kBins, b1 = (b0 + 1) % kBins;
      const float f = a - std::floor(a);
      float* c = hist + ((y / cell) * kCells + x / cell) * kBins;
      c[b0] += mag * (1 - f);
      c[b1] += mag * f;
    }
  }
  float total = 0;
  for (int i = 0; i < kCells * kCells * kBins; ++i) total += hist[i];
  for (int i = 0; i < kCells * kCells * kBins; ++i) hist[i] = total > 0 ? std::sqrt(hist[i] / total) : 0;

  cv::Mat coarse;
  cv::resize(fitted, coarse, {kCoarse, kCoarse}, 0, 0, cv::INTER_AREA);
  float* pic = out + kCells * kCells * kBins;
  for (int i = 0; i < kCoarse * kCoarse; ++i) pic[i] = coarse.at<float>(i / kCoarse, i % kCoarse);

  const float capH = m.capHeight();
  float* geo = pic + kCoarse * kCoarse;
  geo[0] = g.rect.height / capH;
  geo[1] = g.rect.width / capH;
  geo[2] = (g.rect.y - m.capTop) / capH;
  geo[3] = (g.rect.y + g.rect.height - m.baseline) / capH;
  geo[4] = std::log(float(g.rect.width) / float(g.rect.height));
}

// Some glyphs differ from others only by size, which a blurred line hardly
// tells (o O, s S, ...), or not at all in some faces (I l, O 0, l 1). Their
// word decides: a word mostly of digits holds digits, a word of letters
// letters, and a size-only letter takes the case of the word's other letters
// (its first letter aside, which a capitalised name puts in upper case).
void settleByWord(std::string& word) {
  const std::string sizeOnly = "cosuvwxzCOSUVWXZ", bars = "Il1|", rounds = "Oo0";
  int letters = 0, digits = 0, upper = 0, lower = 0;
  for (std::size_t i = 0; i < word.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(word[i]);
    if (bars.find(char(c)) != std::string::npos || rounds.find(char(c)) != std::string::npos) continue;
    if (std::isdigit(c)) ++digits;
    if (!std::isalpha(c)) continue;
    ++letters;
    if (i == 0 || sizeOnly.find(char(c)) != std::string::npos) continue;
    upper += std::isupper(c) != 0;
    lower += std::islower(c) != 0;
  }
  for (std::size_t i = 0; i < word.size(); ++i) {
    char& c = word[i];
    const bool bar = bars.find(c) != std::string::npos, round = rounds.find(c) != std::string::npos;
    if (digits > letters && (bar || round)) {
      c = bar ? '1' : '0';
      continue;
    }
    if (letters > digits && c == '0') c = 'O';
    if (letters > digits && (c == '1' || c == '|')) c = 'I';
    if (lower > upper) {
      if (c == 'l' || c == 'I')
        c = i == 0 ? 'I' : 'l';
      else if (i > 0 && sizeOnly.find(c) != std::string::npos)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    } else if (upper > lower) {
      if (c == 'l')
        c = 'I';
      else if (sizeOnly.find(c) != std::string::npos)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    }
  }
}

}  // namespace

// Linear discriminant over sub-classes (one per character and font: a
// character's shapes differ from face to face), with a shared covariance.
struct GlyphRecognizer::Model {
  std::string alphabet;             // one class per character
  cv::Mat weights;                  // kFeatures x subclasses
  cv::Mat bias;                     // 1 x subclasses
  cv::Mat precision;                // kFeatures x kFeatures: the inverse covariance
  std::vector<int> classOf;         // subclass -> class
  std::vector<bool> zoneClass;      // class may stand in a zone line
  std::vector<int> zoneEquivalent;  // class -> the zone class it reads as in a zone line (or -1)
};

GlyphRecognizer::GlyphRecognizer(std::unique_ptr<Model> model) : model_(std::move(model)) {
  alphabet_ = model_->alphabet;
}
GlyphRecognizer::~GlyphRecognizer() = default;

namespace {

struct FontSamples {
  std::vector<float> features;  // n x kFeatures
  std::vector<int> subclass;    // local subclass index per sample (character index in the font's set)
  std::string error;
};

// Renders every character of `chars` in the font `samplesPerGlyph` times with
// the damage a camera frame does, and extracts the features as readLine would.
FontSamples renderSamples(const std::string& path, const std::string& chars, int samplesPerGlyph,
                          std::uint32_t seed) {
  FontSamples out;
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  if (FT_Init_FreeType(&library) != 0) {
    out.error = "FreeType could not start";
    return out;
  }
  if (FT_New_Face(library, path.c_str(), 0, &face) != 0) {
    FT_Done_FreeType(library);
    out.error = "cannot load font " + path;
    return out;
  }
  // The capitals' height per em, from an H.
  FT_Set_Pixel_Sizes(face, 0, 100);
  float capPerEm = 0.7f;
  if (FT_Load_Char(face, 'H', FT_LOAD_NO_HINTING) == 0 && face->glyph->metrics.height > 0)
    capPerEm = float(face->glyph->metrics.height) / 64.0f / 100.0f;

  std::mt19937 rng(seed);
  auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
  const int rows = lineRows();
  std::vector<float> f(kFeatures);
  for (std::size_t c = 0; c < chars.size(); ++c) {
    for (int n = 0; n < samplesPerGlyph; ++n) {
      // Print as small as a zone line in a distant frame up to a close one.
      const double sourceCap = uniform(9, 30);
      const int em = std::max(6, int(std::lround(sourceCap / capPerEm)));
      FT_Set_Pixel_Sizes(face, 0, FT_UInt(em));
      if (FT_Load_Char(face, FT_ULong(static_cast<unsigned char>(chars[c])),
                       FT_LOAD_RENDER | FT_LOAD_NO_HINTING) != 0)
        continue;
      const FT_Bitmap& bm = face->glyph->bitmap;
      if (bm.width == 0 || bm.rows == 0) continue;
      const double cap = capPerEm * em;
      // A source canvas with the glyph on its baseline, then the camera's damage.
      const int margin = int(std::ceil(cap * 0.8)) + 4;
      const int srcRows = int(std::ceil(cap * 1.4 + 2 * margin));
      const int srcCols = int(bm.width) + 2 * margin;
      const double baselineRow = srcRows / 2.0 + cap / 2.0;
      cv::Mat alpha = cv::Mat::zeros(srcRows, srcCols, CV_32F);
      const int top = int(std::lround(baselineRow)) - face->glyph->bitmap_top;
      if (top < 0 || top + int(bm.rows) > srcRows) continue;
      // Ink spread or thin print: the coverage raised to a power.
      const double spread = uniform(0.6, 1.6);
      float coverage[256];
      for (int v = 0; v < 256; ++v) coverage[v] = float(std::pow(v / 255.0, spread));
      for (unsigned y = 0; y < bm.rows; ++y)
        for (unsigned x = 0; x < bm.width; ++x)
          alpha.at<float>(top + int(y), margin + int(x)) = coverage[bm.buffer[y * unsigned(bm.pitch) + x]];
      // Tilt, shear and stretch about the glyph's place on the baseline.
      const double angle = uniform(-2.5, 2.5) * CV_PI / 180, shear = uniform(-0.12, 0.12),
                   stretch = uniform(0.85, 1.15);
      const cv::Point2d pivot(srcCols / 2.0, baselineRow);
      cv::Matx23d a(stretch * std::cos(angle), -std::sin(angle) + shear, 0, stretch * std::sin(angle),
                    std::cos(angle), 0);
      a(0, 2) = pivot.x - a(0, 0) * pivot.x - a(0, 1) * pivot.y;
      a(1, 2) = pivot.y - a(1, 0) * pivot.x - a(1, 1) * pivot.y;
      cv::warpAffine(alpha, alpha, cv::Mat(a), alpha.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT);
      const double paper = uniform(140, 245), inkLevel = uniform(0, std::max(0.0, paper - 70));
      cv::Mat grey = paper - (paper - inkLevel) * alpha;
      const double blur = uniform(0, 1.3);
      if (blur > 0.3) cv::GaussianBlur(grey, grey, {0, 0}, blur);
      cv::Mat noise(grey.size(), CV_32F);
      cv::randn(noise, 0, uniform(0, 6));
      grey += noise;
      // Straightened to the line height readLine works at, as a line is extracted.
      const double targetCap = uniform(22, 32);
      const double scale = targetCap / cap;
      cv::Mat big;
      cv::resize(grey, big, {}, scale, scale, cv::INTER_LINEAR);
      const int bigBaseline = int(std::lround(baselineRow * scale));
      const int wantedBaseline = int(std::lround(rows / 2.0 + targetCap / 2.0 + uniform(-3, 3)));
      const int y0 = bigBaseline - wantedBaseline;
      if (y0 < 0 || y0 + rows > big.rows) continue;
      cv::Mat line;
      big(cv::Rect(0, y0, big.cols, rows)).convertTo(line, CV_8U);

      const Ink ink = inkOf(line);
      std::vector<Glyph> parts = components(ink);
      if (parts.empty()) continue;
      Glyph g = parts[0];
      for (std::size_t i = 1; i < parts.size(); ++i) {
        g.rect |= parts[i].rect;
        g.ids.insert(g.ids.end(), parts[i].ids.begin(), parts[i].ids.end());
      }
      // The line's capitals as readLine would estimate them, give or take.
      LineMetrics m;
      const double jitter = targetCap * 0.05;
      m.baseline = float(wantedBaseline + uniform(-jitter, jitter));
      m.capTop = float(wantedBaseline - targetCap + uniform(-jitter, jitter));
      featuresOf(ink, g, m, f.data());
      out.features.insert(out.features.end(), f.begin(), f.end());
      out.subclass.push_back(int(c));
    }
  }
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  return out;
}

}  // namespace

std::shared_ptr<const GlyphRecognizer> GlyphRecognizer::train(const std::string& zoneFont,
                                                              const std::vector<std::string>& printFonts,
                                                              int samplesPerGlyph) {
  auto model = std::make_unique<Model>();
  std::string& alphabet = model->alphabet;
  alphabet = kPrintAlphabet;
  alphabet += '<';
  const std::string zone = kZoneAlphabet;
  for (char ch : alphabet) model->zoneClass.push_back(zone.find(ch) != std::string::npos);
  for (char ch : alphabet) {
    // Lower-case letters shaped like their capitals read as those in a zone line.
    const char up = char(std::toupper(static_cast<unsigned char>(ch)));
    const std::string same = "cosuvwxz";
    if (model->zoneClass[alphabet.find(ch)])
      model->zoneEquivalent.push_back(int(alphabet.find(ch)));
    else if (same.find(ch) != std::string::npos)
      model->zoneEquivalent.push_back(int(alphabet.find(up)));
    else
      model->zoneEquivalent.push_back(-1);
  }

  std::vector<std::string> fonts = {zoneFont};
  fonts.insert(fonts.end(), printFonts.begin(), printFonts.end());
  std::vector<FontSamples> samples(fonts.size());
  // One font per worker at a time (a FreeType face serves one thread).
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i; (i = next++) < fonts.size();)
      samples[i] = renderSamples(fonts[i], i == 0 ? zone : std::string(kPrintAlphabet),
                                 samplesPerGlyph * (i == 0 ? 3 : 1), 1234u + std::uint32_t(i));
  };
  std::vector<std::thread> workers;
  const std::size_t helpers =
      std::min<std::size_t>(fonts.size(), std::max(1u, std::thread::hardware_concurrency())) - 1;
  for (std::size_t i = 0; i < helpers; ++i) workers.emplace_back(work);
  work();
  for (auto& w : workers) w.join();

  // Sub-classes: (font, character) pairs.
  std::vector<int> subclassOf;  // per sample
  std::vector<float> all;
  int subclasses = 0;
  for (std::size_t i = 0; i < fonts.size(); ++i) {
    if (!samples[i].error.empty()) throw std::runtime_error(samples[i].error);
    const std::string chars = i == 0 ? zone : std::string(kPrintAlphabet);
    for (int s : samples[i].subclass) subclassOf.push_back(subclasses + s);
    for (char ch : chars) model->classOf.push_back(int(alphabet.find(ch)));
    subclasses += int(chars.size());
    all.insert(all.end(), samples[i].features.begin(), samples[i].features.end());
  }
  const int n = int(subclassOf.size());
  if (n < subclasses) throw std::runtime_error("too few glyphs rendered to train the text recogniser");
  cv::Mat x(n, kFeatures, CV_32F, all.data());
  cv::Mat means = cv::Mat::zeros(subclasses, kFeatures, CV_64F);
  std::vector<int> counts(std::size_t(subclasses), 0);
  for (int i = 0; i < n; ++i) {
    cv::Mat row;
    x.row(i).convertTo(row, CV_64F);
    means.row(subclassOf[std::size_t(i)]) += row;
    ++counts[std::size_t(subclassOf[std::size_t(i)])];
  }
  for (int s = 0; s < subclasses; ++s)
    if (counts[std::size_t(s)]) means.row(s) /= counts[std::size_t(s)];
  cv::Mat centred(n, kFeatures, CV_32F);
  cv::Mat means32;
  means.convertTo(means32, CV_32F);
  for (int i = 0; i < n; ++i) cv::subtract(x.row(i), means32.row(subclassOf[std::size_t(i)]), centred.row(i));
  cv::Mat cov;
  cv::mulTransposed(centred, cov, true);
  cov.convertTo(cov, CV_64F, 1.0 / std::max(1, n - subclasses));
  // Shrunk toward its mean variance: many features are nearly constant for
  // some fonts, and the sub-class means come from few samples.
  const double shrink = 0.1, meanVariance = cv::trace(cov)[0] / kFeatures;
  cov = cov * (1 - shrink) + cv::Mat::eye(kFeatures, kFeatures, CV_64F) * (shrink * meanVariance);
  cv::Mat w;  // kFeatures x subclasses
  cv::solve(cov, means.t(), w, cv::DECOMP_CHOLESKY);
  cv::Mat bias(1, subclasses, CV_64F);
  for (int s = 0; s < subclasses; ++s) bias.at<double>(0, s) = -0.5 * means.row(s).dot(w.col(s).t());
  // A sub-class without samples never wins.
  for (int s = 0; s < subclasses; ++s)
    if (!counts[std::size_t(s)]) bias.at<double>(0, s) = -1e9;
  cv::Mat precision;
  cv::invert(cov, precision, cv::DECOMP_CHOLESKY);
  precision.convertTo(model->precision, CV_32F);
  w.convertTo(model->weights, CV_32F);
  bias.convertTo(model->bias, CV_32F);
  return std::make_shared<GlyphRecognizer>(std::move(model));
}

std::shared_ptr<const GlyphRecognizer> GlyphRecognizer::shared(std::string* why) {
  static std::once_flag once;
  // Never destroyed: a worker thread may still ask for the model while exit
  // runs the static destructors.
  static auto& recognizer = *new std::shared_ptr<const GlyphRecognizer>();
  static auto& failure = *new std::string();
  std::call_once(once, [] {
    namespace fs = std::filesystem;
    auto exists = [](const char* p) {
      std::error_code ec;
      return fs::is_regular_file(p, ec);
    };
    const char* zone = "/usr/share/fonts/opentype/ocr-b/OCRB.otf";
    if (!exists(zone)) {
      failure = std::string("the OCR-B font is missing (") + zone + "; Debian package fonts-ocr-b)";
      return;
    }
    std::vector<std::string> print;
    for (const char* p : {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                          "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
                          "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
                          "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf",
                          "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf",
                          "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf",
                          "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf",
                          "/usr/share/fonts/truetype/liberation2/LiberationSerif-Regular.ttf",
                          "/usr/share/fonts/truetype/liberation2/LiberationSerif-Bold.ttf",
                          "/usr/share/fonts/truetype/liberation2/LiberationMono-Regular.ttf"})
      if (exists(p)) print.push_back(p);
    if (print.empty()) {
      failure =
          "no font for ordinary print (Debian packages fonts-dejavu-core and fonts-liberation2 install them)";
      return;
    }
    try {
      recognizer = train(zone, print, 8);
    } catch (const std::exception& e) {
      failure = e.what();
    }
  });
  if (!recognizer && why) *why = failure;
  return recognizer;
}

GlyphLineReading GlyphRecognizer::readLine(const cv::Mat& grey) const {
  GlyphLineReading reading;
  if (grey.empty() || grey.rows < 8) return reading;
  const Ink ink = inkOf(grey);
  if (ink.count <= 1) return reading;
  std::vector<Glyph> glyphs = components(ink);
  if (glyphs.empty()) return reading;
  const LineMetrics metrics = metricsOf(glyphs, grey.rows);
  const Model& m = *model_;
  const int classes = int(m.alphabet.size());

  // Class scores (log-likelihoods up to a shared constant) of a set of glyphs,
  // and in `distance` each glyph's squared Mahalanobis distance to the nearest
  // sub-class: how much it looks like any glyph at all.
  auto score = [&](const std::vector<Glyph>& set, std::vector<float>* distance = nullptr) {
    cv::Mat f(int(set.size()), kFeatures, CV_32F);
    for (std::size_t i = 0; i < set.size(); ++i) featuresOf(ink, set[i], metrics, f.ptr<float>(int(i)));
    cv::Mat sub = f * m.weights;
    if (distance) {
      const cv::Mat q = (f * m.precision).mul(f);
      cv::Mat qs;
      cv::reduce(q, qs, 1, cv::REDUCE_SUM, CV_32F);
      distance->assign(set.size(), 0.0f);
      for (int i = 0; i < sub.rows; ++i) {
        float top = -1e30f;
        for (int k = 0; k < sub.cols; ++k) top = std::max(top, sub.at<float>(i, k) + m.bias.at<float>(0, k));
        (*distance)[std::size_t(i)] = qs.at<float>(i, 0) - 2 * top;
      }
    }
    cv::Mat best(int(set.size()), classes, CV_32F, cv::Scalar(-1e30f));
    for (int i = 0; i < sub.rows; ++i) {
      const float* s = sub.ptr<float>(i);
      const float* b = m.bias.ptr<float>(0);
      float* c = best.ptr<float>(i);
      for (int k = 0; k < sub.cols; ++k)
        c[m.classOf[std::size_t(k)]] = std::max(c[m.classOf[std::size_t(k)]], s[k] + b[k]);
    }
    return best;
  };
  // Posterior of the best class among the allowed ones.
  auto decide = [&](const float* s, bool zoneOnly, int* cls) {
    float top = -1e30f;
    for (int k = 0; k < classes; ++k) {
      if (zoneOnly && !m.zoneClass[std::size_t(k)]) continue;
      if (s[k] > top) top = s[k], *cls = k;
    }
    double sum = 0;
    for (int k = 0; k < classes; ++k)
      if (!zoneOnly || m.zoneClass[std::size_t(k)]) sum += std::exp(double(s[k] - top));
    return float(1.0 / sum);
  };

  // Neighbours that touch make one wide component: where cutting it at its
  // thinnest column reads better than the whole, cut.
  const float capH = metrics.capHeight();
  std::vector<Glyph> pieces;
  for (Glyph& g : glyphs) {
    std::vector<Glyph> todo = {g};
    for (int depth = 0; !todo.empty();) {
      Glyph cur = todo.back();
      todo.pop_back();
      if (cur.rect.width < 1.15f * capH || cur.rect.width < 8 || depth > 6) {
        pieces.push_back(cur);
        continue;
      }
      ++depth;
      cv::Mat cols;
      cv::reduce(ink.mask(cur.rect), cols, 0, cv::REDUCE_SUM, CV_32S);
      int cut = -1, least = INT32_MAX;
      for (int x = cur.rect.width * 3 / 10; x <= cur.rect.width * 7 / 10; ++x)
        if (cols.at<int>(0, x) < least) least = cols.at<int>(0, x), cut = x;
      auto tighten = [&](cv::Rect r) {
        cv::Mat rowsSum;
        cv::reduce(ink.mask(r), rowsSum, 1, cv::REDUCE_SUM, CV_32S);
        int y0 = 0, y1 = r.height;
        while (y0 < y1 && rowsSum.at<int>(y0, 0) == 0) ++y0;
        while (y1 > y0 && rowsSum.at<int>(y1 - 1, 0) == 0) --y1;
        if (y0 == y1) return r;  // no ink: keep the part as cut
        return cv::Rect(r.x, r.y + y0, r.width, y1 - y0);
      };
      Glyph left{tighten({cur.rect.x, cur.rect.y, cut, cur.rect.height}), cur.ids};
      Glyph right{tighten({cur.rect.x + cut, cur.rect.y, cur.rect.width - cut, cur.rect.height}), cur.ids};
      std::vector<float> d;
      score({cur, left, right}, &d);
      if (std::max(d[1], d[2]) < d[0]) {
        todo.push_back(right);
        todo.push_back(left);
      } else {
        pieces.push_back(cur);
      }
    }
  }
  std::sort(pieces.begin(), pieces.end(), [](const Glyph& a, const Glyph& b) { return a.rect.x < b.rect.x; });
  std::vector<float> distance;
  const cv::Mat scores = score(pieces, &distance);
  // The posterior says which class a glyph is nearest; the distance says
  // whether it looks like a glyph at all (print of another face, a pattern):
  // read glyphs lie within about 150, strange shapes far beyond.
  auto typical = [&](std::size_t i) {
    return float(std::exp(-std::max(0.0f, distance[i] - 150.0f) / 150.0f));
  };

  // A zone line is monospaced: its glyphs' centres stand at one pitch.
  std::vector<float> pitches;
  for (std::size_t i = 1; i < pieces.size(); ++i)
    pitches.push_back((pieces[i].rect.x + pieces[i].rect.width / 2.0f) -
                      (pieces[i - 1].rect.x + pieces[i - 1].rect.width / 2.0f));
  float pitch = capH;
  int regular = 0;
  if (!pitches.empty()) {
    std::vector<float> p = pitches;
    std::nth_element(p.begin(), p.begin() + p.size() / 2, p.end());
    pitch = p[p.size() / 2];
    for (float d : pitches) regular += d > 0.75f * pitch && d < 1.25f * pitch;
  }
  const bool monospaced = !pitches.empty() && regular >= 0.9 * double(pitches.size());
  int spaces = 0, zoneLike = 0;
  double confidence = 0, zoneConfidence = 0;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) {
      const int gap = pieces[i].rect.x - (pieces[i - 1].rect.x + pieces[i - 1].rect.width);
      // A word space: a gap of a third of the capitals where the centres also
      // stand apart (a narrow 1 in tabular digits leaves a wide gap at the
      // usual step), or a gap of more than half the capitals (after a
      // period); in monospaced print a step of one and a half pitches.
      const bool space = monospaced
                             ? pitches[i - 1] > 1.5f * pitch
                             : gap > 0.58f * capH || (gap > 0.3f * capH && pitches[i - 1] > 1.25f * pitch);
      if (space) {
        reading.text += ' ';
        ++spaces;
      }
    }
    int cls = 0, zoneCls = 0;
    confidence += decide(scores.ptr<float>(int(i)), false, &cls) * typical(i);
    zoneConfidence += decide(scores.ptr<float>(int(i)), true, &zoneCls) * typical(i);
    reading.text += m.alphabet[std::size_t(cls)];
    reading.zoneText += m.alphabet[std::size_t(zoneCls)];
    zoneLike += m.zoneEquivalent[std::size_t(cls)] >= 0;
  }
  // Words here are runs of letters and digits ("No." and "34602129" are two).
  std::string settled;
  for (std::size_t from = 0; from < reading.text.size();) {
    std::size_t to = from;
    while (to < reading.text.size() && std::isalnum(static_cast<unsigned char>(reading.text[to]))) ++to;
    std::string word = reading.text.substr(from, to - from);
    settleByWord(word);
    settled += word;
    if (to < reading.text.size()) settled += reading.text[to];
    from = to + 1;
  }
  reading.text = settled;
  const double count = double(pieces.size());
  reading.confidence = float(confidence / count);
  // A zone line: long, unbroken, and read almost wholly in the zone's alphabet.
  if (pieces.size() >= 20 && monospaced && spaces <= 1 && zoneLike >= 0.85 * count) {
    reading.zoneConfidence = float(zoneConfidence / count);
  } else {
    reading.zoneText.clear();
  }
  return reading;
}

}  // namespace vision::detail
