// Drives the step list inside a navigation controller in a key window, on the
// manual dispatch clock. Captures are handed to the list through the capture
// screens' own callbacks: the camera road is covered by tests/flow/capture.
#pragma once

#include <gtest/gtest.h>
#include <morvik/flow/IDCaptureVC.h>
#include <morvik/flow/IDScanStepsVC.h>
#include <morvik/platform/avf.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fixtures/generators/Generators.h"
#include "flow/preview/IDStepPreviewVC.h"
#include "flow/result/VerifiedScreen.h"
#include "flow/steps/StepCardView.h"

namespace morvik {

struct IDScanStepsVCTestAccess {
  using StepStatus = IDScanStepsVC::StepStatus;
  using Card = IDScanStepsVC::StepCardView;

  static std::size_t currentStepIndex(const IDScanStepsVC& vc) { return vc.currentStepIndex_; }
  static const std::vector<StepStatus>& statuses(const IDScanStepsVC& vc) { return vc.stepStatuses_; }
  static const std::vector<std::shared_ptr<uikit::UIImage>>& images(const IDScanStepsVC& vc) {
    return vc.capturedImages_;
  }
  static const std::vector<std::shared_ptr<Card>>& cards(const IDScanStepsVC& vc) { return vc.stepCards_; }
  static const std::shared_ptr<uikit::UIButton>& typeButton(const IDScanStepsVC& vc) {
    return vc.docTypeButton_;
  }
  static const std::shared_ptr<uikit::UILabel>& titleLabel(const IDScanStepsVC& vc) { return vc.titleLabel_; }
  static const std::shared_ptr<uikit::UIStackView>& stepsStack(const IDScanStepsVC& vc) {
    return vc.stepsStack_;
  }
  static const std::shared_ptr<uikit::UIButton>& button(const IDScanStepsVC& vc, const std::string& title) {
    for (const auto* b :
         {&vc.continueButton_, &vc.submitButton_, &vc.backButton_, &vc.resetButton_, &vc.startButton_}) {
      if ((*b)->title(uikit::UIControlState::normal) == title) return *b;
    }
    static const std::shared_ptr<uikit::UIButton> none;
    ADD_FAILURE() << "no button " << title;
    return none;
  }
};

}  // namespace morvik

namespace steptest {

using morvik::IDCaptureVC;
using morvik::IDDocumentType;
using morvik::IDScanStepsVC;
using Access = morvik::IDScanStepsVCTestAccess;
using Status = Access::StepStatus;

// A document-like image of its own size per seed, so parts can be told apart.
inline std::shared_ptr<uikit::UIImage> cardImage(std::uint32_t seed, int width) {
  namespace gen = fixtures::generators;
  const auto content = (seed % 2) ? gen::CardContent::pdf417 : gen::CardContent::printed;
  return uikit::UIImage::make(gen::toCGImage(gen::makeCardImage(seed, content, width, nullptr, nullptr)));
}

// Taps Start on `list` and has each step's capture screen, as it comes to the
// top of `navigation`, deliver a card image of its own; `settle` runs after
// every tap and delivery.
inline void captureEveryStep(const IDScanStepsVC& list, const uikit::UINavigationController& navigation,
                             const std::function<void()>& settle) {
  Access::button(list, "Start")->sendActions(uikit::UIControlEvents::touchUpInside);
  settle();
  for (std::size_t i = 0; i < list.steps().size(); ++i) {
    auto capture = std::dynamic_pointer_cast<IDCaptureVC>(navigation.topViewController());
    ASSERT_TRUE(capture) << "step " << i;
    capture->onCaptured(cardImage(static_cast<std::uint32_t>(i), 500));
    capture->onComplete();
    settle();
  }
}

class StepListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    avf::VirtualCamera::unregisterAll();  // capture screens find no camera: nothing runs behind them
    dispatch::clock::useManualClock();
  }
  void TearDown() override {
    if (scene) uikit::UIApplication::shared().disconnect(scene);
    nav.reset();
    list.reset();
    window.reset();
    settle();
    dispatch::clock::useRealClock();
  }

  void show(IDDocumentType type = IDDocumentType::driversLicenseOrIDCard) {
    list = IDScanStepsVC::make(type);
    nav = std::make_shared<uikit::UINavigationController>(list);
    scene = uikit::UIApplication::shared().connectWindowScene();
    window = scene->makeWindow();
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    settle();
  }

  // Lets transitions and animations finish without sleeping.
  static void settle() {
    dispatch::MainLoop::drain();
    dispatch::clock::advance(2.0);
    dispatch::MainLoop::drain();
  }

  void tap(const std::string& title) {
    Access::button(*list, title)->sendActions(uikit::UIControlEvents::touchUpInside);
    settle();
  }
  void tapCard(std::size_t index) {
    Access::cards(*list).at(index)->sendActions(uikit::UIControlEvents::touchUpInside);
    settle();
  }

  std::shared_ptr<uikit::UIViewController> top() const { return nav->topViewController(); }
  std::shared_ptr<IDCaptureVC> topCapture() const { return std::dynamic_pointer_cast<IDCaptureVC>(top()); }

  // The top capture screen delivers a photo (or none) as the camera road does.
  void deliver(std::shared_ptr<uikit::UIImage> image) {
    auto capture = topCapture();
    ASSERT_TRUE(capture) << "top is " << top()->className();
    capture->onCaptured(std::move(image));
    capture->onComplete();
    settle();
  }

  // Runs every step with an image of its own.
  void captureAll() {
    tap("Start");
    for (std::size_t i = 0; i < list->steps().size(); ++i)
      deliver(cardImage(static_cast<std::uint32_t>(i), 600 + 40 * int(i)));
    ASSERT_EQ(top(), list);
  }

  std::vector<Status> statuses() const { return Access::statuses(*list); }
  std::string typeTitle() const {
    return Access::typeButton(*list)->title(uikit::UIControlState::normal).value_or("");
  }
  // Titles of the shown buttons of the button row, in row order.
  std::vector<std::string> shownButtons() const {
    std::vector<std::string> out;
    for (const auto* title : {"Back", "Reset All", "Continue", "Start", "Submit"}) {
      if (!Access::button(*list, title)->isHidden()) out.emplace_back(title);
    }
    return out;
  }
  std::vector<std::string> stackClasses() const {
    std::vector<std::string> out;
    for (const auto& c : nav->viewControllers()) out.push_back(c->className());
    return out;
  }

  std::shared_ptr<IDScanStepsVC> list;
  std::shared_ptr<uikit::UINavigationController> nav;
  std::shared_ptr<uikit::UIWindowScene> scene;
  std::shared_ptr<uikit::UIWindow> window;
};

}  // namespace steptest
