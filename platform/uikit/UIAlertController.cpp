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
  // As the platform shows an alert: the screen dimmed, a rounded panel 270
  // points wide in the middle with the title and message, then one row per
  // action under a hairline.
  auto root = std::make_shared<UIView>(UIScreen::main().bounds());
  root->setBackgroundColor(UIColor(0, 0.2));
  auto panel = std::make_shared<UIView>();
  panel->setTranslatesAutoresizingMaskIntoConstraints(false);
  panel->setBackgroundColor(UIColor(0.95, 0.95, 0.96, 1));
  panel->layer()->setCornerRadius(14);
  panel->setClipsToBounds(true);
  root->addSubview(panel);
  auto column = std::make_shared<UIStackView>();
  column->setAxis(NSLayoutConstraintAxis::vertical);
  column->setTranslatesAutoresizingMaskIntoConstraints(false);
  panel->addSubview(column);
  NSLayoutConstraint::activate({panel->centerYAnchor().constraintEqualTo(root->centerYAnchor()),
                                panel->centerXAnchor().constraintEqualTo(root->centerXAnchor()),
                                panel->widthAnchor().constraintEqualToConstant(270),
                                column->topAnchor().constraintEqualTo(panel->topAnchor()),
                                column->bottomAnchor().constraintEqualTo(panel->bottomAnchor()),
                                column->leadingAnchor().constraintEqualTo(panel->leadingAnchor()),
                                column->trailingAnchor().constraintEqualTo(panel->trailingAnchor())});
  auto texts = std::make_shared<UIStackView>();
  texts->setAxis(NSLayoutConstraintAxis::vertical);
  texts->setSpacing(4);
  texts->setTranslatesAutoresizingMaskIntoConstraints(false);
  auto textBox = std::make_shared<UIView>();
  textBox->addSubview(texts);
  NSLayoutConstraint::activate({texts->topAnchor().constraintEqualTo(textBox->topAnchor(), 20),
                                texts->bottomAnchor().constraintEqualTo(textBox->bottomAnchor(), -20),
                                texts->leadingAnchor().constraintEqualTo(textBox->leadingAnchor(), 16),
                                texts->trailingAnchor().constraintEqualTo(textBox->trailingAnchor(), -16)});
  column->addArrangedSubview(textBox);
  if (title()) {
    auto label = std::make_shared<UILabel>();
    label->setText(title());
    label->setFont(UIFont::systemFont(17, UIFont::Weight::semibold));
    label->setTextAlignment(NSTextAlignment::center);
    label->setNumberOfLines(0);
    texts->addArrangedSubview(label);
  }
  if (message_) {
    auto label = std::make_shared<UILabel>();
    label->setText(message_);
    label->setFont(UIFont::systemFont(13));
    label->setTextAlignment(NSTextAlignment::center);
    label->setNumberOfLines(0);
    texts->addArrangedSubview(label);
  }
  for (const auto& action : actions_) {
    auto separator = std::make_shared<UIView>();
    separator->setBackgroundColor(UIColor::separator());
    separator->setTranslatesAutoresizingMaskIntoConstraints(false);
    separator->heightAnchor().constraintEqualToConstant(0.5)->setActive(true);
    column->addArrangedSubview(separator);
    auto button = std::make_shared<UIButton>(UIButton::ButtonType::system);
    button->setTitle(action.title, UIControlState::normal);
    button->titleLabel()->setFont(UIFont::systemFont(17, action.style == UIAlertAction::Style::cancel
                                                             ? UIFont::Weight::semibold
                                                             : UIFont::Weight::regular));
    if (action.style == UIAlertAction::Style::destructive)
      button->setTitleColor(UIColor::systemRed(), UIControlState::normal);
    button->setEnabled(action.isEnabled);
    button->setTranslatesAutoresizingMaskIntoConstraints(false);
    button->heightAnchor().constraintEqualToConstant(44)->setActive(true);
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
