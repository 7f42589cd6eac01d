#include "flow/capture/CaptureRules.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace morvik::capture;
using quartz::CGPoint;
using quartz::CGRect;
using quartz::CGSize;

namespace {

// A quad from a normalised box with the given edge tilt applied to its corners.
Quad quadFromBox(double x, double y, double w, double h) {
  Quad q;
  q.boundingBox = CGRect{{x, y}, {w, h}};
  q.topLeft = {x, y + h};
  q.topRight = {x + w, y + h};
  q.bottomLeft = {x, y};
  q.bottomRight = {x + w, y};
  return q;
}

Quad shifted(Quad q, double dx, double dy) {
  for (CGPoint* p : {&q.topLeft, &q.topRight, &q.bottomLeft, &q.bottomRight}) {
    p->x += dx;
    p->y += dy;
  }
  q.boundingBox.origin.x += dx;
  q.boundingBox.origin.y += dy;
  return q;
}

}  // namespace

TEST(ProgressTest, NineGoodFramesFillEightDoNot) {
  double p = 0;
  for (int i = 0; i < 8; ++i) p = nextProgress(p, true);
  EXPECT_LT(p, 1.0);
  EXPECT_NEAR(p, 0.96, 1e-9);
  p = nextProgress(p, true);
  EXPECT_GE(p, 1.0);
}

TEST(ProgressTest, BadFrameTakesBackAndStaysClamped) {
  double p = nextProgress(nextProgress(0, true), true);  // 0.24
  p = nextProgress(p, false);
  EXPECT_NEAR(p, 0.16, 1e-9);
  EXPECT_EQ(nextProgress(0, false), 0.0);
  double full = 1;
  EXPECT_EQ(nextProgress(full, true), 1.0);
}

TEST(BrightnessTest, DeviationNeedsEightValuesAndUsesPopulationFormula) {
  BrightnessHistory h;
  for (int i = 0; i < 7; ++i) h.append(i % 2 ? 1.0 : 0.0);
  EXPECT_EQ(h.standardDeviation(), 0.0);
  h.append(1.0);  // 8 values: four 0s, four 1s -> population deviation 0.5
  EXPECT_NEAR(h.standardDeviation(), 0.5, 1e-12);
}

TEST(BrightnessTest, FortyFirstValuePushesOutTheFirst) {
  BrightnessHistory h;
  for (int i = 0; i < 41; ++i) h.append(i);
  EXPECT_EQ(h.size(), 40u);
  EXPECT_EQ(h.values().front(), 1.0);
  EXPECT_EQ(h.values().back(), 40.0);
}

TEST(RectangleGeometryTest, WellPlacedCardPassesEveryTest) {
  const auto v = evaluateRectangle(quadFromBox(0.2, 0.3, 0.6, 0.38));
  EXPECT_TRUE(v.aspectOK);
  EXPECT_TRUE(v.fillOK);
  EXPECT_TRUE(v.angleOK);
  EXPECT_TRUE(v.detected);
}

TEST(RectangleGeometryTest, LimitsOfAspectFillCentringAndAngle) {
  EXPECT_FALSE(evaluateRectangle(quadFromBox(0.3, 0.3, 0.4, 0.4)).aspectOK);     // square: ratio 1
  EXPECT_FALSE(evaluateRectangle(quadFromBox(0.0, 0.4, 0.9, 0.3)).aspectOK);     // ratio 3
  EXPECT_FALSE(evaluateRectangle(quadFromBox(0.0, 0.0, 0.99, 0.95)).fillOK);     // > 90 %
  EXPECT_FALSE(evaluateRectangle(quadFromBox(0.45, 0.45, 0.15, 0.09)).fillOK);   // < 5 %
  // Centre x 0.77 is 0.27 from the middle: still centred; 0.31 is not.
  EXPECT_TRUE(evaluateRectangle(quadFromBox(0.55, 0.3, 0.44, 0.3)).centred);
  EXPECT_FALSE(evaluateRectangle(quadFromBox(0.62, 0.3, 0.38, 0.25)).centred);  // 0.31 off
  Quad tilted = quadFromBox(0.2, 0.3, 0.6, 0.38);
  const double rise = std::tan(40 * M_PI / 180) * 0.6;  // both edges at 40 degrees
  tilted.topRight.y += rise;
  tilted.bottomRight.y += rise;
  EXPECT_FALSE(evaluateRectangle(tilted).angleOK);
  tilted.bottomRight.y -= rise;  // one edge flat is enough
  EXPECT_TRUE(evaluateRectangle(tilted).angleOK);
}

TEST(RectangleGeometryTest, ADocumentTheFrameCutsOffIsNotDetected) {
  // Corners reach the frame's edge (where the detector keeps an outline that runs past it), or stay
  // within 1 % of it.
  struct Case {
    double x, y, w, h;
    bool inside;
  } cases[] = {
      {0.2, 0.3, 0.6, 0.38, true},  {0.0, 0.3, 0.6, 0.38, false},   {0.005, 0.3, 0.6, 0.38, false},
      {0.02, 0.3, 0.6, 0.38, true}, {0.35, 0.3, 0.65, 0.38, false}, {0.2, 0.55, 0.6, 0.45, false},
      {0.2, 0.0, 0.6, 0.45, false}, {0.2, 0.3, 0.795, 0.38, false},
  };
  for (const auto& c : cases) {
    const auto v = evaluateRectangle(quadFromBox(c.x, c.y, c.w, c.h));
    EXPECT_TRUE(v.aspectOK && v.fillOK && v.angleOK && v.centred) << c.x << " " << c.y;
    EXPECT_EQ(v.insideFrame, c.inside) << c.x << " " << c.y;
    EXPECT_EQ(v.detected, c.inside) << c.x << " " << c.y;
  }
  // One corner is enough: a card cut at a corner of the frame.
  Quad corner = quadFromBox(0.2, 0.3, 0.6, 0.38);
  corner.topRight = {1.0, 0.75};
  EXPECT_FALSE(evaluateRectangle(corner).detected);
}

TEST(StabilityWindowTest, NeedsThreeConsecutiveStableDetections) {
  StabilityWindow w;
  const CGSize preview{390, 600};
  const Quad q = quadFromBox(0.2, 0.3, 0.6, 0.38);
  EXPECT_FALSE(w.append(q, preview));
  EXPECT_FALSE(w.append(shifted(q, 0.01, 0), preview));  // 3.9 points
  EXPECT_TRUE(w.append(shifted(q, 0.015, 0.01), preview));
  EXPECT_EQ(w.size(), 3u);
  // A fourth drops the oldest; still three.
  EXPECT_TRUE(w.append(shifted(q, 0.015, 0.01), preview));
  EXPECT_EQ(w.size(), 3u);
}

TEST(StabilityWindowTest, EightPointsIsTooFarAndNoPreviewIsNeverStable) {
  const CGSize preview{400, 800};
  const Quad q = quadFromBox(0.2, 0.3, 0.6, 0.38);
  EXPECT_FALSE(isStableRectangle(q, shifted(q, 8.0 / 400, 0), preview));  // exactly 8: not less
  EXPECT_TRUE(isStableRectangle(q, shifted(q, 7.9 / 400, 0), preview));
  EXPECT_FALSE(isStableRectangle(q, shifted(q, 0, 8.0 / 800), preview));
  StabilityWindow w;
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(w.append(q, std::nullopt));
}

TEST(StabilityWindowTest, ClearingNeedsThreeNewDetections) {
  StabilityWindow w;
  const CGSize preview{390, 600};
  const Quad q = quadFromBox(0.2, 0.3, 0.6, 0.38);
  for (int i = 0; i < 3; ++i) w.append(q, preview);
  w.clear();
  EXPECT_FALSE(w.append(q, preview));
  EXPECT_FALSE(w.append(q, preview));
  EXPECT_TRUE(w.append(q, preview));
}

TEST(PreviewPointTest, FlipsTheVerticalAxis) {
  const auto p = toPreviewPoint({0.25, 0.25}, {400, 800});
  EXPECT_DOUBLE_EQ(p.x, 100);
  EXPECT_DOUBLE_EQ(p.y, 600);
}

TEST(MRZTest, AcceptanceRules) {
  EXPECT_TRUE(isAcceptedMRZLine("P<anything"));
  EXPECT_TRUE(isAcceptedMRZLine("p<utoERIKSSON"));          // upper-cased first
  EXPECT_TRUE(isAcceptedMRZLine("ABCDEFGHIJKLMNOPQRS<"));   // 20 chars, one filler
  EXPECT_FALSE(isAcceptedMRZLine("ABCDEFGHIJKLM<"));        // 14 chars: too short
  EXPECT_TRUE(isAcceptedMRZLine("ABCDEFGH<<<IJK"));         // but rule 2 finds "<<<"
  EXPECT_FALSE(isAcceptedMRZLine("ABCDEFGHIJKLMNOPQRST"));  // no filler
  EXPECT_FALSE(isAcceptedMRZLine("A B C D E F G H <"));     // too many spaces
  EXPECT_TRUE(isAcceptedMRZLine("ID something"));
  EXPECT_TRUE(mrzDetected({"hello", "V<UTO"}));
  EXPECT_FALSE(mrzDetected({}));
}

TEST(DocumentVerdictTest, BackStepsNeedTheirCode) {
  DocumentFrameInputs in{true, true, false, false};
  EXPECT_TRUE(isGoodDocumentFrame(BackRequirement::none, in));
  EXPECT_FALSE(isGoodDocumentFrame(BackRequirement::barcode, in));
  EXPECT_FALSE(isGoodDocumentFrame(BackRequirement::mrz, in));
  in.barcodeDetected = true;
  EXPECT_TRUE(isGoodDocumentFrame(BackRequirement::barcode, in));
  in.settled = false;
  EXPECT_FALSE(isGoodDocumentFrame(BackRequirement::barcode, in));
}

class LivenessTest : public ::testing::Test {
 protected:
  LivenessEffects centred(float yaw = 0) { return m.faceFound(0.5f, 0.8f, yaw, false); }
  LivenessEffects turned(float yaw) { return m.faceFound(0.5f, 0.8f, yaw, false); }
  void runToLookLeft() {
    for (int i = 0; i < 5; ++i) centred();
    ASSERT_EQ(m.stage(), LivenessStage::lookLeft);
  }
  LivenessMachine m;
};

TEST_F(LivenessTest, FiveCentredFramesAdvanceAndAnOffCentreFrameRestartsTheHold) {
  for (int i = 0; i < 4; ++i) EXPECT_EQ(centred().texts, std::vector<std::string>{kTextCenter});
  m.faceFound(0.75f, 0.8f, 0.f, false);  // off centre
  EXPECT_EQ(m.stageHoldCount(), 0);
  EXPECT_EQ(m.stage(), LivenessStage::center);
  for (int i = 0; i < 4; ++i) centred();
  const auto e = centred();
  EXPECT_EQ(m.stage(), LivenessStage::lookLeft);
  EXPECT_EQ(e.texts, std::vector<std::string>{kTextLeft});
  EXPECT_EQ(m.stageFrameCount(), 0);
}

TEST_F(LivenessTest, FullSequenceCompletesOnceAndDoneSaysAllGood) {
  runToLookLeft();
  for (int i = 0; i < 5; ++i) turned(-0.4f);
  EXPECT_EQ(m.stage(), LivenessStage::lookRight);
  for (int i = 0; i < 5; ++i) turned(0.4f);
  EXPECT_EQ(m.stage(), LivenessStage::center2);
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(centred().complete);
  const auto done = centred();
  EXPECT_TRUE(done.complete);
  EXPECT_TRUE(done.texts.empty());
  EXPECT_TRUE(m.passed());
  EXPECT_EQ(m.stage(), LivenessStage::done);
  EXPECT_EQ(m.stageHoldCount(), 5);
  const auto after = centred();
  EXPECT_FALSE(after.complete);
  EXPECT_EQ(after.texts, std::vector<std::string>{kTextAllGood});
}

TEST_F(LivenessTest, MirroredPreviewNegatesYaw) {
  runToLookLeft();
  for (int i = 0; i < 5; ++i) m.faceFound(0.5f, 0.8f, 0.4f, true);  // 0.4 mirrored = -0.4: left
  EXPECT_EQ(m.stage(), LivenessStage::lookRight);
}

TEST_F(LivenessTest, WrongWayFramesCountAndResetAfterThirtyOne) {
  runToLookLeft();
  turned(-0.4f);
  turned(-0.4f);
  EXPECT_EQ(m.stageHoldCount(), 2);
  turned(0.2f);  // neither way: hold cleared, not wrong
  EXPECT_EQ(m.stageHoldCount(), 0);
  EXPECT_EQ(m.wrongFrameCount(), 0);
  for (int i = 0; i < 31; ++i) turned(0.4f);
  EXPECT_EQ(m.wrongFrameCount(), 31);
  EXPECT_EQ(m.stage(), LivenessStage::lookLeft);
  const auto e = turned(-0.4f);
  EXPECT_EQ(m.stage(), LivenessStage::center);
  EXPECT_EQ(e.texts, std::vector<std::string>{kTextCenter});
}

TEST_F(LivenessTest, StageNotCompletedWithinSixtyFramesResetsOnTheSixtyFirst) {
  runToLookLeft();
  for (int i = 0; i < 60; ++i) turned(0.0f);
  EXPECT_EQ(m.stage(), LivenessStage::lookLeft);
  turned(0.0f);
  EXPECT_EQ(m.stage(), LivenessStage::center);
  EXPECT_EQ(m.stageFrameCount(), 0);
}

TEST_F(LivenessTest, MissingFaceForTwentyOneFramesResetsAndAFoundFaceClearsTheCount) {
  runToLookLeft();
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(m.faceMissing().texts.empty());
  turned(0.0f);
  EXPECT_EQ(m.missingFaceCount(), 0);
  for (int i = 0; i < 20; ++i) m.faceMissing();
  EXPECT_EQ(m.stage(), LivenessStage::lookLeft);
  const auto e = m.faceMissing();
  EXPECT_EQ(m.stage(), LivenessStage::center);
  EXPECT_EQ(e.texts, std::vector<std::string>{kTextCenter});
  EXPECT_EQ(m.faceMissing().texts, std::vector<std::string>{kTextCenter});  // every further frame resets
}

TEST_F(LivenessTest, ResetKeepsTheHoldCountSoOneCentredFrameAdvancesAfterDone) {
  runToLookLeft();
  for (int i = 0; i < 5; ++i) turned(-0.4f);
  for (int i = 0; i < 5; ++i) turned(0.4f);
  for (int i = 0; i < 5; ++i) centred();
  ASSERT_EQ(m.stage(), LivenessStage::done);
  // done keeps counting from center2's count (5) until it exceeds 60.
  for (int i = 0; i < 55; ++i) centred();
  EXPECT_EQ(m.stage(), LivenessStage::done);
  centred();  // 61st: reset
  EXPECT_EQ(m.stage(), LivenessStage::center);
  EXPECT_FALSE(m.passed());
  EXPECT_EQ(m.stageHoldCount(), 5);
  centred();
  EXPECT_EQ(m.stage(), LivenessStage::lookLeft);
}

TEST_F(LivenessTest, MissingYawAndQualityReuseTheLastValues) {
  m.faceFound(0.5f, 0.7f, 0.3f, false);
  m.faceFound(0.5f, std::nullopt, std::nullopt, false);
  EXPECT_FLOAT_EQ(m.lastYaw(), 0.3f);
  EXPECT_FLOAT_EQ(m.faceQuality(), 0.7f);
}

TEST(FaceReadinessTest, QualityLightAndLiveness) {
  FaceFrameInputs in{0, true, true, 0.07};
  EXPECT_TRUE(isGoodFaceFrame(in));  // no quality reported does not block
  in.faceQuality = 0.3f;
  EXPECT_FALSE(isGoodFaceFrame(in));
  in.faceQuality = 0.45f;
  EXPECT_TRUE(isGoodFaceFrame(in));
  in.brightnessDeviation = 0.05;  // uniform light
  EXPECT_FALSE(isGoodFaceFrame(in));
  in.brightnessDeviation = 0.06;
  in.livenessPassed = false;
  EXPECT_FALSE(isGoodFaceFrame(in));
}

TEST(CutoutTest, CardAndCircleOnA390By600Overlay) {
  const auto card = cutoutRect({390, 600}, false);
  EXPECT_DOUBLE_EQ(card.size.width, 358);
  EXPECT_NEAR(card.size.height, 225.7, 0.05);
  EXPECT_DOUBLE_EQ(card.origin.x, 16);
  EXPECT_NEAR(card.origin.y, 187.1, 0.05);
  const auto face = cutoutRect({390, 600}, true);
  EXPECT_NEAR(face.size.width, 304.2, 1e-9);
  EXPECT_DOUBLE_EQ(face.size.width, face.size.height);
  // A short overlay limits the card by height.
  EXPECT_DOUBLE_EQ(cutoutRect({390, 200}, false).size.height, 150);
}

TEST(CropTest, MarginGrowsTheBoxAndTheEdgeCutsIt) {
  const CGRect extent{{0, 0}, {1000, 800}};
  auto r = documentCropRect({{0.2, 0.3}, {0.6, 0.4}}, extent, 0.1);
  ASSERT_TRUE(r);
  EXPECT_NEAR(r->origin.x, 140, 1e-9);
  EXPECT_NEAR(r->origin.x + r->size.width, 860, 1e-9);
  EXPECT_NEAR(r->origin.y, 208, 1e-9);
  EXPECT_NEAR(r->origin.y + r->size.height, 592, 1e-9);
  r = documentCropRect({{0, 0}, {0.5, 0.5}}, extent, 0.1);
  ASSERT_TRUE(r);
  EXPECT_NEAR(r->origin.x, 0, 1e-9);
  EXPECT_NEAR(r->size.width, 550, 1e-9);
  EXPECT_NEAR(r->size.height, 440, 1e-9);
  EXPECT_FALSE(documentCropRect({{0.5, 0.5}, {0.005, 0.5}}, extent, 0.1));  // 6 px wide
  EXPECT_FALSE(documentCropRect({{1.5, 1.5}, {0.2, 0.2}}, extent, 0.1));    // outside
}

TEST(ShortTitleTest, SideWordsThenFirstWord) {
  EXPECT_EQ(shortTitle("Document Front"), "Front");
  EXPECT_EQ(shortTitle("Back of Document"), "Back");
  EXPECT_EQ(shortTitle("FACE"), "Face");
  EXPECT_EQ(shortTitle("front and back"), "Front");
  EXPECT_EQ(shortTitle("  Selfie photo"), "Selfie");
  EXPECT_EQ(shortTitle("   "), "   ");
  EXPECT_EQ(shortTitle(""), "");
}
