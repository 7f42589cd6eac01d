#include "morvik/platform/uikit/UIAlertController.h"

#include "morvik/platform/uikit/UIButton.h"
#include "morvik/platform/uikit/UILabel.h"
#include "morvik/platform/uikit/UIScreen.h"
#include "morvik/platform/uikit/UIStackView.h"

namespace uikit {

UIAlertController::UIAlertController(std::optional<std::string> title, std::optional<std::string> message,
                                     Style preferredStyle)
    : message_(std::move(message)), style_(preferredStyle) {
  setTitle(std::move(title));
}

void UIAlertController::setMessage(std::optional<std::string> message) {
  checkThread("UIAlertController::setMessage");
  message_ = std::move(message);
}

void UIAlertController::addAction(UIAlertAction action) {
  checkThread("UIAlertController::addAction");
  actions_.push_back(std::move(action));
}

UIModalPresentationStyle UIAlertController::resolvedPresentationStyle() const {
  // Alerts float over their presenter, which stays on screen.
  return UIModalPresentationStyle::overFullScreen;
}

bool UIAlertController::triggerAction(const std::string& title) {
  checkThread("UIAlertController::triggerAction");
  if (triggered_ || !presentingViewController() || isBeingDismissed()) return false;
  for (const auto& action : actions_) {
    if (action.title != title || !action.isEnabled) continue;
    triggered_ = true;
    UIAlertAction chosen = action;
    dismiss(true, [chosen] {
      if (chosen.handler) chosen.handler(chosen);
    });
    return true;
  }
  return false;
}

void UIAlertController::loadView() {
  // A simple column: title, message, one button per action.
  auto root = std::make_shared<UIView>(UIScreen::main().bounds());
  auto column = std::make_shared<UIStackView>();
  column->setAxis(NSLayoutConstraintAxis::vertical);
  column->setSpacing(8);
  column->setTranslatesAutoresizingMaskIntoConstraints(false);
  root->addSubview(column);
  NSLayoutConstraint::activate({column->centerYAnchor().constraintEqualTo(root->centerYAnchor()),
                                column->leadingAnchor().constraintEqualTo(root->leadingAnchor(), 40),
                                column->trailingAnchor().constraintEqualTo(root->trailingAnchor(), -40)});
  if (title()) {
    auto label = std::make_shared<UILabel>();
    label->setText(title());
    label->setFont(UIFont::systemFont(17, UIFont::Weight::semibold));
    label->setTextAlignment(NSTextAlignment::center);
    label->setNumberOfLines(0);
    column->addArrangedSubview(label);
  }
  if (message_) {
    auto label = std::make_shared<UILabel>();
    label->setText(message_);
    label->setFont(UIFont::systemFont(13));
    label->setTextAlignment(NSTextAlignment::center);
    label->setNumberOfLines(0);
    column->addArrangedSubview(label);
  }
  for (const auto& action : actions_) {
    auto button = std::make_shared<UIButton>(UIButton::ButtonType::system);
    button->setTitle(action.title, UIControlState::normal);
    button->setEnabled(action.isEnabled);
    std::weak_ptr<UIAlertController> weak = std::static_pointer_cast<UIAlertController>(shared_from_this());
    std::string title = action.title;
    button->addTarget(nullptr, UIControl::Action([weak, title] {
                        if (auto alert = weak.lock()) alert->triggerAction(title);
                      }),
                      UIControlEvents::touchUpInside);
    column->addArrangedSubview(button);
  }
  setView(root);
}

}  // namespace uikit
