#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "fixtures/generators/Generators.h"
#include "morvik/platform/coreimage.h"

using coreimage::CIContext;
using coreimage::CIImage;
using quartz::CGRect;

namespace {

// 200 x 100 grey image with a white 40 x 20 block in its top-left corner and
// a black 40 x 20 block in its bottom-right corner.
cv::Mat asymmetric() {
  cv::Mat image(100, 200, CV_8UC3, cv::Scalar::all(128));
  image(cv::Rect(0, 0, 40, 20)).setTo(cv::Scalar::all(255));
  image(cv::Rect(160, 80, 40, 20)).setTo(cv::Scalar::all(0));
  return image;
}

cv::Mat viewOf(const quartz::CGImageRef& image) {
  const int type = image->pixelFormat() == quartz::CGImagePixelFormat::gray8 ? CV_8UC1 : CV_8UC4;
  return cv::Mat(static_cast<int>(image->height()), static_cast<int>(image->width()), type,
                 const_cast<std::uint8_t*>(image->data()), image->bytesPerRow());
}

double meanOf(const quartz::CGImageRef& image) {
  cv::Mat v = viewOf(image);
  return v.channels() == 1 ? cv::mean(v)[0] : cv::mean(v)[1];
}

}  // namespace

TEST(CIContextTest, CropsUseTheLowerLeftOriginForBitmapsAndPixelBuffers) {
  const cv::Mat source = asymmetric();
  const std::vector<CIImage> images = {CIImage(fixtures::generators::toCGImage(source)),
                                       CIImage(fixtures::generators::toNV12(source))};
  CIContext context;
  for (const auto& image : images) {
    EXPECT_EQ(image.extent(), CGRect::make(0, 0, 200, 100));
    // The white block is at the top left: y from 80 to 100 in Core Image.
    auto white = context.createCGImage(image, CGRect::make(0, 80, 40, 20));
    ASSERT_TRUE(white);
    EXPECT_EQ(white->width(), 40u);
    EXPECT_EQ(white->height(), 20u);
    EXPECT_GT(meanOf(white), 240);
    // The black block is at the bottom right: y from 0 to 20.
    auto black = context.createCGImage(image, CGRect::make(160, 0, 40, 20));
    ASSERT_TRUE(black);
    EXPECT_LT(meanOf(black), 15);
  }
}

TEST(CIContextTest, CroppedImagesRenderOnlyWhatIsLeftAndNothingOutside) {
  CIImage image(fixtures::generators::toCGImage(asymmetric()));
  CIContext context;
  auto cropped = image.cropped(CGRect::make(150, -10, 100, 40));
  EXPECT_EQ(cropped.extent(), CGRect::make(150, 0, 50, 30));
  // Rendering the cropped image over a bigger rectangle gives only its extent.
  auto out = context.createCGImage(cropped, CGRect::make(0, 0, 200, 100));
  ASSERT_TRUE(out);
  EXPECT_EQ(out->width(), 50u);
  EXPECT_EQ(out->height(), 30u);
  // Its bottom 20 rows hold the black block's left part (x 160 to 200).
  cv::Mat v = viewOf(out);
  EXPECT_LT(cv::mean(v(cv::Rect(15, 10, 35, 20)))[0], 15);
  EXPECT_GT(cv::mean(v(cv::Rect(0, 0, 50, 10)))[0], 100);

  EXPECT_FALSE(context.createCGImage(image, CGRect::make(300, 0, 10, 10)));
  EXPECT_FALSE(context.createCGImage(CIImage(), CGRect::make(0, 0, 10, 10)));
  EXPECT_TRUE(image.cropped(CGRect::make(500, 500, 5, 5)).isEmpty());
  // Fractional edges round outward.
  auto fractional = context.createCGImage(image, CGRect::make(10.5, 10.5, 5, 5));
  ASSERT_TRUE(fractional);
  EXPECT_EQ(fractional->width(), 6u);
}

TEST(CIContextTest, OddPixelBufferCropsKeepTheirColours) {
  cv::Mat source(64, 64, CV_8UC3, cv::Scalar(0, 0, 255));        // red
  source(cv::Rect(33, 0, 31, 64)).setTo(cv::Scalar(255, 0, 0));  // blue from x 33
  CIImage image(fixtures::generators::toNV12(source));
  auto out = CIContext().createCGImage(image, CGRect::make(31, 3, 5, 7));
  ASSERT_TRUE(out);
  ASSERT_EQ(out->width(), 5u);
  cv::Mat v = viewOf(out);
  EXPECT_GT(v.at<cv::Vec4b>(3, 0)[2], 180);  // x 31: red
  EXPECT_GT(v.at<cv::Vec4b>(3, 4)[0], 180);  // x 35: blue
}
