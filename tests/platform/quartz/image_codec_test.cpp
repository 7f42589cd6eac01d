// The platform's own JPEG/PNG/BMP codec against OpenCV's, on the variants
// real files come in, and on hostile headers.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>

#include "quartz/ImageCodec.h"

namespace {

using quartz::codec::decodeImage;

cv::Mat noiseImage(int type, int w = 37, int h = 23) {
  cv::Mat m(h, w, type);
  cv::randu(m, 0, 255);
  cv::GaussianBlur(m, m, {5, 5}, 0);  // photographic rather than pure noise
  return m;
}

double maxDifference(const cv::Mat& a, const cv::Mat& b) {
  if (a.size() != b.size() || a.type() != b.type()) return 1e9;
  return cv::norm(a, b, cv::NORM_INF);
}

cv::Mat decode(const std::vector<std::uint8_t>& bytes) { return decodeImage(bytes.data(), bytes.size()); }

TEST(ImageCodecTest, DecodesWhatOpenCVWritesTheWayOpenCVReadsIt) {
  struct Case {
    const char* what;
    const char* extension;
    int type;
    std::vector<int> params;
    double tolerance;  // JPEG decoders may round differently by a level or two
  };
  const Case cases[] = {
      {"colour jpeg", ".jpg", CV_8UC3, {cv::IMWRITE_JPEG_QUALITY, 90}, 2},
      {"grey jpeg", ".jpg", CV_8UC1, {}, 2},
      {"progressive jpeg", ".jpg", CV_8UC3, {cv::IMWRITE_JPEG_PROGRESSIVE, 1}, 2},
      {"colour png", ".png", CV_8UC3, {}, 0},
      {"grey png", ".png", CV_8UC1, {}, 0},
      {"png with alpha", ".png", CV_8UC4, {}, 0},
      {"16-bit png", ".png", CV_16UC3, {}, 1},
      {"bmp", ".bmp", CV_8UC3, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    cv::Mat source = c.type == CV_16UC3 ? noiseImage(CV_8UC3) : noiseImage(c.type);
    if (c.type == CV_16UC3) source.convertTo(source, CV_16UC3, 257.0);
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(cv::imencode(c.extension, source, bytes, c.params));
    cv::Mat expected = cv::imdecode(bytes, cv::IMREAD_UNCHANGED);
    if (expected.depth() == CV_16U) expected.convertTo(expected, CV_8U, 1.0 / 257.0);
    EXPECT_LE(maxDifference(decode(bytes), expected), c.tolerance);
  }
}

TEST(ImageCodecTest, EncodedImagesReadBackInOpenCV) {
  const cv::Mat colour = noiseImage(CV_8UC3), grey = noiseImage(CV_8UC1), alpha = noiseImage(CV_8UC4);
  const auto jpeg = quartz::codec::encodeJPEG(colour, 95);
  EXPECT_LE(maxDifference(cv::imdecode(jpeg, cv::IMREAD_UNCHANGED), colour),
            40);  // lossy, but the same picture
  EXPECT_LT(cv::norm(cv::imdecode(jpeg, cv::IMREAD_UNCHANGED), colour, cv::NORM_L1) / (colour.total() * 3),
            8.0);
  EXPECT_EQ(cv::imdecode(quartz::codec::encodeJPEG(grey, 50), cv::IMREAD_UNCHANGED).channels(), 1);
  EXPECT_EQ(cv::imdecode(quartz::codec::encodeJPEG(alpha, 50), cv::IMREAD_UNCHANGED).channels(), 3);
  for (const cv::Mat* m : {&colour, &grey, &alpha})
    EXPECT_EQ(maxDifference(cv::imdecode(quartz::codec::encodePNG(*m), cv::IMREAD_UNCHANGED), *m), 0);
  // Quality is clamped into libjpeg's range rather than refused.
  EXPECT_FALSE(quartz::codec::encodeJPEG(colour, 0).empty());
  EXPECT_FALSE(quartz::codec::encodeJPEG(colour, 500).empty());
  EXPECT_TRUE(quartz::codec::encodeJPEG(cv::Mat(), 50).empty());
  EXPECT_TRUE(quartz::codec::encodePNG(cv::Mat(4, 4, CV_32FC1)).empty());
}

TEST(ImageCodecTest, TruncatedCorruptAndHostileBytesNeverCrashOrAllocateWildly) {
  const cv::Mat colour = noiseImage(CV_8UC3);
  for (const char* ext : {".jpg", ".png", ".bmp"}) {
    SCOPED_TRACE(ext);
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(cv::imencode(ext, colour, bytes));
    std::mt19937 rng(3);
    for (std::size_t n = 0; n < bytes.size(); n += 1 + bytes.size() / 97) {
      auto cut = std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
      const cv::Mat m = decode(cut);
      if (!m.empty()) {
        EXPECT_EQ(m.cols, colour.cols);
      }
      auto flipped = bytes;
      flipped[n] ^= static_cast<std::uint8_t>(1 + rng() % 255);
      const cv::Mat f = decode(flipped);
      if (!f.empty()) {
        EXPECT_GT(f.total(), 0u);
      }
    }
  }
  // Headers that claim a 60000 x 60000 picture are refused before any allocation.
  std::vector<std::uint8_t> bmp;
  ASSERT_TRUE(cv::imencode(".bmp", colour, bmp));
  bmp[18] = 0x60, bmp[19] = 0xEA, bmp[20] = 0, bmp[21] = 0;  // width 60000
  bmp[22] = 0x60, bmp[23] = 0xEA, bmp[24] = 0, bmp[25] = 0;  // height 60000
  EXPECT_TRUE(decode(bmp).empty());
  std::vector<std::uint8_t> png;
  ASSERT_TRUE(cv::imencode(".png", colour, png));
  png[16] = 0, png[17] = 0, png[18] = 0xEA, png[19] = 0x60;  // IHDR width 60000 (CRC now wrong as well)
  EXPECT_TRUE(decode(png).empty());
}

}  // namespace
