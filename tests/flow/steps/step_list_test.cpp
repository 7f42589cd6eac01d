// The step list's screens, statuses and navigation.
#include <gtest/gtest.h>

#include "ScreenFit.h"
#include "StepListTestSupport.h"
#include "morvik/flow/IDDocumentSteps.h"
#include "support/ResourceBundle.h"

namespace steptest {
namespace {

using uikit::UIColor;

std::optional<foundation::Data> pngOf(const std::shared_ptr<uikit::UIImage>& image) {
  return image ? image->pngData() : std::nullopt;
}

std::optional<foundation::Data> bundlePng(const std::string& name) {
  return pngOf(uikit::UIImage::named(name, morvik::imageBundle()));
}

struct NewListCase {
  IDDocumentType type;
  std::vector<std::string> placeholders;  // asset per step
};

TEST_F(StepListTest, NewListShowsItsStepsFirstInProgressAndOnlyStart) {
  const NewListCase cases[] = {
      {IDDocumentType::driversLicenseOrIDCard,
       {"DRIVER LICENSE - FRONT", "DRIVER LICENSE - BACK", "ic_face"}},
      {IDDocumentType::passport, {"PASSPORT - FRONT", "ic_face"}},
      {IDDocumentType::passportCard, {"PASSPORT CARD - BACK", "PASSPORT CARD - FRONT", "ic_face"}},
      {IDDocumentType::internationalID, {"INTERNATIONAL ID - BACK", "ic_face"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type.title()));
    show(c.type);
    EXPECT_EQ(list->title(), "ID Validation");
    EXPECT_EQ(typeTitle(), morvik::steps(c.type)[0].title());
    EXPECT_EQ(shownButtons(), (std::vector<std::string>{"Back", "Start"}));
    const auto& cards = Access::cards(*list);
    ASSERT_EQ(cards.size(), morvik::steps(c.type).size());
    ASSERT_EQ(Access::stepsStack(*list)->arrangedSubviews().size(), cards.size());
    for (std::size_t i = 0; i < cards.size(); ++i) {
      const auto& card = *cards[i];
      SCOPED_TRACE(i);
      EXPECT_EQ(card.tag(), int(i));
      EXPECT_EQ(card.titleLabel->text(), morvik::steps(c.type)[i].title());
      EXPECT_EQ(card.stepLabel->text(), "Step " + std::to_string(i + 1));
      EXPECT_TRUE(card.statusIcon->isHidden());
      EXPECT_EQ(pngOf(card.imageView->image()), bundlePng(c.placeholders[i]));
      EXPECT_NEAR(card.frame().height(), 96, 1e-6);
      if (i == 0) {
        EXPECT_EQ(card.stepLabel->textColor(), UIColor::systemBlue());
        EXPECT_EQ(card.container->layer()->borderColor(),
                  UIColor::systemBlue().withAlphaComponent(0.6).cgColor());
        EXPECT_EQ(card.alpha(), 1.0);
        EXPECT_TRUE(card.isUserInteractionEnabled());
      } else {
        EXPECT_EQ(card.stepLabel->textColor(), UIColor::systemGray());
        EXPECT_EQ(card.container->backgroundColor(), UIColor::systemGray6());
        EXPECT_NEAR(card.alpha(), 0.9, 1e-9);
        EXPECT_FALSE(card.isUserInteractionEnabled());
      }
    }
    // Shown buttons share the row; the column starts under the bar.
    const auto& back = Access::button(*list, "Back");
    const auto& start = Access::button(*list, "Start");
    EXPECT_NEAR(back->frame().width(), start->frame().width(), 1e-6);
    EXPECT_NEAR(back->frame().height(), 48, 1e-6);
    EXPECT_NEAR(Access::typeButton(*list)->frame().height(), 32, 1e-6);
    uikit::UIApplication::shared().disconnect(scene);
    scene.reset();
    settle();
  }
}

// The column needs about 622 points of safe-area height: on smaller screens
// every card and button must still be reachable, and none under another.
TEST_F(StepListTest, EveryCardAndButtonCanBeReachedOnSmallScreensAndLandscape) {
  struct Case {
    double width, height;
    bool fits;  // then the buttons stay at the bottom of the safe area
  };
  const Case cases[] = {{320, 568, false}, {375, 667, false}, {568, 320, false}, {390, 844, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(int(c.width)) + "x" + std::to_string(int(c.height)));
    uikit::UIScreen::main().setBounds({{0, 0}, {c.width, c.height}});
    show();
    for (const bool captured : {false, true}) {
      SCOPED_TRACE(captured ? "all captured" : "new");
      if (captured) captureAll();
      std::vector<std::shared_ptr<uikit::UIView>> buttons;
      for (const auto& title : shownButtons()) buttons.push_back(Access::button(*list, title));
      std::vector<std::shared_ptr<uikit::UIView>> content{Access::typeButton(*list)};
      for (const auto& card : Access::cards(*list)) content.push_back(card);
      const auto safe = screenfit::safeArea(*window);
      for (const auto* views : {&content, &buttons}) {
        for (const auto& view : *views) screenfit::expectReachable(view, *window, buttons, false);
      }
      if (c.fits) {
        EXPECT_NEAR(buttons.back()->convert(buttons.back()->bounds(), window.get()).maxY(), safe.maxY() - 16,
                    1e-6);
      }
    }
    uikit::UIApplication::shared().disconnect(scene);
    scene.reset();
    settle();
  }
  uikit::UIScreen::main().setBounds({{0, 0}, {390, 844}});
}

TEST_F(StepListTest, StartChainsCapturesAndTheFaceStepReturnsToTheList) {
  show();
  tap("Start");
  ASSERT_TRUE(topCapture());
  EXPECT_EQ(topCapture()->stepIndex(), 0);
  EXPECT_EQ(topCapture()->step().title(), "Document Front");

  deliver(cardImage(1, 640));
  // The next capture goes on top of the previous one; the list stays covered.
  EXPECT_EQ(stackClasses(), (std::vector<std::string>{"IDScanStepsVC", "IDCaptureVC", "IDCaptureVC"}));
  EXPECT_EQ(topCapture()->step().title(), "Back of Document");
  EXPECT_FALSE(list->isVisible());
  EXPECT_EQ(statuses(), (std::vector<Status>{Status::completed, Status::inProgress, Status::pending}));

  deliver(cardImage(2, 660));
  EXPECT_EQ(topCapture()->step().title(), "Face");
  EXPECT_EQ(nav->viewControllers().size(), 4u);

  deliver(cardImage(3, 480));
  EXPECT_EQ(stackClasses(), (std::vector<std::string>{"IDScanStepsVC"}));
  EXPECT_TRUE(list->isVisible());
  EXPECT_EQ(statuses(), std::vector<Status>(3, Status::completed));
  for (const auto& card : Access::cards(*list)) {
    EXPECT_EQ(card->stepLabel->text(), "Complete");
    EXPECT_FALSE(card->statusIcon->isHidden());
    EXPECT_EQ(card->container->layer()->borderColor(),
              UIColor::systemGreen().withAlphaComponent(0.6).cgColor());
  }
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(Access::cards(*list)[i]->imageView->image(), Access::images(*list)[i]);
  EXPECT_EQ(shownButtons(), (std::vector<std::string>{"Back", "Reset All", "Submit"}));
  EXPECT_EQ(Access::currentStepIndex(*list), 3u);
  EXPECT_EQ(typeTitle(), "Driver's License or ID Card");
}

TEST_F(StepListTest, PassportCardCapturesItsBackFirst) {
  show(IDDocumentType::passportCard);
  tap("Start");
  EXPECT_EQ(topCapture()->step().title(), "Back of Passport Card");
  deliver(cardImage(1, 600));
  EXPECT_EQ(topCapture()->step().title(), "Passport Front");
}

TEST_F(StepListTest, CardTapsFollowTheStepStatus) {
  show();
  tapCard(1);  // pending: takes no touch
  EXPECT_EQ(top(), list);
  tapCard(0);  // in progress: its capture
  ASSERT_TRUE(topCapture());
  EXPECT_EQ(topCapture()->stepIndex(), 0);
  const auto image = cardImage(5, 500);
  deliver(image);
  nav->popToRootViewController(false);  // the user leaves step 2's capture
  settle();

  tapCard(0);  // completed: its preview
  auto preview = std::dynamic_pointer_cast<morvik::IDStepPreviewVC>(top());
  ASSERT_TRUE(preview);
  EXPECT_EQ(preview->image(), image);
  EXPECT_EQ(preview->stepTitle(), "Document Front");
  EXPECT_EQ(preview->docTitle(), "Driver's License or ID Card");
  preview->acceptButton()->sendActions(uikit::UIControlEvents::touchUpInside);
  settle();
  EXPECT_EQ(top(), list);
  EXPECT_EQ(statuses(), (std::vector<Status>{Status::completed, Status::inProgress, Status::pending}));

  // The step left through its own back navigation is still in progress.
  EXPECT_EQ(shownButtons(), (std::vector<std::string>{"Back", "Reset All", "Continue"}));
  tap("Continue");
  ASSERT_TRUE(topCapture());
  EXPECT_EQ(topCapture()->stepIndex(), 1);
}

TEST_F(StepListTest, RetakeWhileEveryStepIsCompletedComesBackToTheList) {
  show();
  captureAll();
  const auto old = Access::images(*list);
  tapCard(0);
  ASSERT_TRUE(std::dynamic_pointer_cast<morvik::IDStepPreviewVC>(top()));
  std::dynamic_pointer_cast<morvik::IDStepPreviewVC>(top())->retakeButton()->sendActions(
      uikit::UIControlEvents::touchUpInside);
  settle();
  EXPECT_EQ(stackClasses(), (std::vector<std::string>{"IDScanStepsVC", "IDCaptureVC"}));
  EXPECT_EQ(topCapture()->stepIndex(), 0);
  EXPECT_EQ(statuses()[0], Status::inProgress);
  EXPECT_EQ(Access::images(*list)[0], old[0]);  // kept until the new photo arrives
  EXPECT_EQ(shownButtons(), (std::vector<std::string>{"Back", "Reset All", "Continue"}));

  const auto fresh = cardImage(9, 700);
  deliver(fresh);
  EXPECT_EQ(top(), list);
  EXPECT_EQ(statuses(), std::vector<Status>(3, Status::completed));
  EXPECT_EQ(Access::images(*list)[0], fresh);
  EXPECT_EQ(Access::images(*list)[1], old[1]);
  EXPECT_EQ(shownButtons(), (std::vector<std::string>{"Back", "Reset All", "Submit"}));
}

TEST_F(StepListTest, RetakeWhileALaterStepIsInProgressGoesOnToThatStep) {
  show();
  tap("Start");
  deliver(cardImage(1, 600));
  nav->popToRootViewController(false);
  settle();
  tapCard(0);
  std::dynamic_pointer_cast<morvik::IDStepPreviewVC>(top())->retakeButton()->sendActions(
      uikit::UIControlEvents::touchUpInside);
  settle();
  deliver(cardImage(2, 600));
  ASSERT_TRUE(topCapture());
  EXPECT_EQ(topCapture()->stepIndex(), 1);
  EXPECT_EQ(stackClasses(), (std::vector<std::string>{"IDScanStepsVC", "IDCaptureVC", "IDCaptureVC"}));
}

TEST_F(StepListTest, LastStepRetakenAfterAnAbandonedRetakeLeavesContinueToAnEmptyResult) {
  show();
  captureAll();
  tapCard(0);
  std::dynamic_pointer_cast<morvik::IDStepPreviewVC>(top())->retakeButton()->sendActions(
      uikit::UIControlEvents::touchUpInside);
  settle();
  nav->popToRootViewController(false);  // step 1's retake abandoned
  settle();
  tapCard(2);
  std::dynamic_pointer_cast<morvik::IDStepPreviewVC>(top())->retakeButton()->sendActions(
      uikit::UIControlEvents::touchUpInside);
  settle();
  deliver(cardImage(4, 480));
  EXPECT_EQ(top(), list);
  EXPECT_EQ(Access::currentStepIndex(*list), 3u);
  EXPECT_EQ(shownButtons(), (std::vector<std::string>{"Back", "Reset All", "Continue"}));
  tap("Continue");
  auto result = std::dynamic_pointer_cast<morvik::VerifiedScreen>(top());
  ASSERT_TRUE(result);
  EXPECT_FALSE(result->verificationData);
}

TEST_F(StepListTest, ResetAllEmptiesEverySlotAndOffersStartAgain) {
  show();
  captureAll();
  tap("Reset All");
  EXPECT_EQ(top(), list);  // no capture starts
  EXPECT_EQ(statuses(), (std::vector<Status>{Status::inProgress, Status::pending, Status::pending}));
  for (const auto& image : Access::images(*list)) EXPECT_FALSE(image);
  EXPECT_EQ(pngOf(Access::cards(*list)[0]->imageView->image()), bundlePng("DRIVER LICENSE - FRONT"));
  EXPECT_EQ(typeTitle(), "Document Front");
  EXPECT_EQ(shownButtons(), (std::vector<std::string>{"Back", "Start"}));
  tap("Start");
  EXPECT_EQ(topCapture()->stepIndex(), 0);
}

TEST_F(StepListTest, ACaptureWithoutAnImageStillCompletesItsStep) {
  show(IDDocumentType::passport);
  tap("Start");
  deliver(nullptr);
  EXPECT_EQ(statuses(), (std::vector<Status>{Status::completed, Status::inProgress}));
  EXPECT_FALSE(Access::images(*list)[0]);
  EXPECT_EQ(pngOf(Access::cards(*list)[0]->imageView->image()), bundlePng("PASSPORT - FRONT"));
  EXPECT_EQ(topCapture()->step().title(), "Face");
}

TEST_F(StepListTest, BackAndTheTypeButtonLeaveTheRootListAsItIs) {
  show();
  tap("Back");
  Access::typeButton(*list)->sendActions(uikit::UIControlEvents::touchUpInside);
  settle();
  EXPECT_EQ(stackClasses(), (std::vector<std::string>{"IDScanStepsVC"}));
  EXPECT_EQ(statuses()[0], Status::inProgress);
}

TEST_F(StepListTest, CallbacksArrivingAfterTheListIsGoneDoNothing) {
  show();
  tap("Start");
  auto capture = topCapture();
  // Drop the whole flow while the capture screen is still held elsewhere.
  uikit::UIApplication::shared().disconnect(scene);
  scene.reset();
  window.reset();
  nav.reset();
  std::weak_ptr<IDScanStepsVC> weak = list;
  list.reset();
  settle();
  ASSERT_TRUE(weak.expired());
  capture->onCaptured(cardImage(1, 300));
  capture->onComplete();
  settle();
}

}  // namespace
}  // namespace steptest
