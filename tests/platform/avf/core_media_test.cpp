#include <gtest/gtest.h>

#include "fixtures/camera/CameraTestSupport.h"
#include "morvik/platform/avf.h"

using namespace avf;

TEST(CoreMediaTest, TimesCompareAcrossTimescales) {
  EXPECT_EQ(CMTimeMake(1, 30), CMTimeMake(20, 600));
  EXPECT_LT(CMTimeMake(1, 30), CMTimeMake(21, 600));
  EXPECT_DOUBLE_EQ(CMTimeMake(1024, 44100).seconds(), 1024.0 / 44100.0);
  EXPECT_FALSE(CMTimeMake(1, 0).isValid());
  EXPECT_TRUE(std::isnan(CMTimeGetSeconds(CMTime::invalid())));
  auto dict = CMTimeCopyAsDictionary(CMTimeMake(1024, 44100), kCFAllocatorDefault);
  EXPECT_EQ(dict.at("value").integer(), 1024);
  EXPECT_EQ(dict.at("timescale").integer(), 44100);
}

TEST(CoreMediaTest, AttachmentsAreCopiedPerModeAndNullBuffersAreSafe) {
  auto buffer = CMSampleBuffer::make(nullptr, CMTimeMake(0, 30));
  EXPECT_FALSE(CMCopyDictionaryOfAttachments(kCFAllocatorDefault, buffer, kCMAttachmentMode_ShouldPropagate));
  CMSetAttachment(buffer, kCGImagePropertyExifDictionary,
                  CFValue(CFDictionary{{kCGImagePropertyExifBrightnessValue, 2.5}}),
                  kCMAttachmentMode_ShouldPropagate);
  CMSetAttachment(buffer, kCMSampleBufferAttachmentKey_TrimDurationAtStart,
                  CFValue(CMTimeCopyAsDictionary(CMTimeMake(1024, 44100))),
                  kCMAttachmentMode_ShouldNotPropagate);
  auto propagate =
      CMCopyDictionaryOfAttachments(kCFAllocatorDefault, buffer, kCMAttachmentMode_ShouldPropagate);
  ASSERT_TRUE(propagate);
  EXPECT_EQ(propagate->size(), 1u);
  EXPECT_EQ(propagate->at(kCGImagePropertyExifDictionary).dictionary()->at("BrightnessValue").number(), 2.5);
  CMAttachmentMode mode{};
  EXPECT_TRUE(CMGetAttachment(buffer, kCMSampleBufferAttachmentKey_TrimDurationAtStart, &mode));
  EXPECT_EQ(mode, kCMAttachmentMode_ShouldNotPropagate);

  const CMSampleBufferRef none;
  EXPECT_FALSE(CMGetAttachment(none, "x"));
  EXPECT_FALSE(CMSampleBufferGetImageBuffer(none));
  EXPECT_FALSE(CMSampleBufferGetPresentationTimeStamp(none).isValid());
  CMSetAttachment(none, "x", CFValue(1), kCMAttachmentMode_ShouldPropagate);  // no crash
}

TEST(CoreMediaTest, PixelBuffersHaveNV12Planes) {
  auto b = CVPixelBuffer::create(101, 51, kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange);
  ASSERT_EQ(b->planeCount(), 2u);
  EXPECT_EQ(b->widthOfPlane(1), 51u);  // odd sizes round the chroma up
  EXPECT_EQ(b->heightOfPlane(1), 26u);
  EXPECT_GE(b->bytesPerRowOfPlane(0), 101u);
  ASSERT_TRUE(b->mutablePlaneBase(1));
  // Both planes fit in the allocation: write their last bytes.
  b->mutablePlaneBase(0)[b->bytesPerRowOfPlane(0) * 50 + 100] = 1;
  b->mutablePlaneBase(1)[b->bytesPerRowOfPlane(1) * 25 + 101] = 1;
  CVPlane planes[2] = {b->plane(0), b->plane(1)};
  auto view = CVPixelBuffer::wrapPlanes(101, 51, b->pixelFormatType(), planes, 2, b);
  EXPECT_EQ(view->plane(0).base, b->plane(0).base);
  EXPECT_EQ(view->mutablePlaneBase(0), nullptr);
  EXPECT_THROW(CVPixelBuffer::create(4, 4, 0x12345678), std::invalid_argument);
}

TEST(CoreMediaTest, BrightnessValueIsAnApexScaleAroundMidGrey) {
  EXPECT_DOUBLE_EQ(brightnessValue(118, 0), 4.0);
  EXPECT_DOUBLE_EQ(brightnessValue(236, 0), 5.0);
  EXPECT_DOUBLE_EQ(brightnessValue(0, 0), brightnessValue(1, 0));  // black stays finite
  EXPECT_DOUBLE_EQ(brightnessValue(118, 0.25), 4.25);
}
