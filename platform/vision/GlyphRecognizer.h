// Internal: the fast text level's own recogniser. A straightened text line is
// cut into glyphs (connected components of the ink, merged where they stack
// and split where neighbours touch), and each glyph is classified from its
// shape (orientation histograms and a coarse picture) and its place on the
// line (height, top and bottom against the line's capitals and baseline).
//
// The classifier is trained once per process, on first use, from glyphs the
// machine's own fonts render (OCR-B for machine-readable zones, DejaVu and
// Liberation for ordinary print), blurred, tilted, noised and faded the way
// camera frames are. Nothing is downloaded or read besides the fonts.
#pragma once

#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace vision::detail {

struct GlyphLineReading {
  std::string text;  // empty when the line holds no glyph
  // 0 to 1: the mean over the glyphs of the class's posterior, lowered for
  // shapes unlike any trained glyph.
  float confidence = 0;
  // The same line read as a machine-readable-zone line (only A-Z, 0-9 and
  // '<', no spaces); empty unless the line looks like one.
  std::string zoneText;
  float zoneConfidence = 0;
};

class GlyphRecognizer {
 public:
  // The process's recogniser, trained on the first call (about a second;
  // thread-safe, later calls wait for it). Null when the fonts are missing,
  // with `why` telling which.
  static std::shared_ptr<const GlyphRecognizer> shared(std::string* why = nullptr);

  // Trains from the given font files: the first is the zone face (OCR-B) and
  // is trained on the zone alphabet only; the others on ordinary print.
  static std::shared_ptr<const GlyphRecognizer> train(const std::string& zoneFont,
                                                      const std::vector<std::string>& printFonts,
                                                      int samplesPerGlyph);

  // Reads one straightened grey line (dark print on a lighter ground; the
  // text about kLineHeight pixels high, the line padded as extracted).
  GlyphLineReading readLine(const cv::Mat& grey) const;

  // Height (pixels) of a line's box that readLine expects.
  static constexpr int kLineHeight = 32;

  // The classes known, in classifier order (one UTF-8 character each).
  const std::string& alphabet() const { return alphabet_; }

  struct Model;  // the trained discriminant (defined in the .cpp)
  explicit GlyphRecognizer(std::unique_ptr<Model> model);
  ~GlyphRecognizer();

 private:
  std::unique_ptr<Model> model_;
  std::string alphabet_;
};

}  // namespace vision::detail
