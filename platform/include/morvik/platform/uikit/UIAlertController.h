// UIAlertController: a title, a message and actions, presented like any
// controller (over its presenter, which stays visible). Main thread only.
#pragma once

#include <morvik/platform/uikit/UIViewController.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace uikit {

struct UIAlertAction {
  enum class Style { default_, cancel, destructive };
  std::string title;
  Style style = Style::default_;
  std::function<void(const UIAlertAction&)> handler;
  bool isEnabled = true;
};

class UIAlertController : public UIViewController {
 public:
  enum class Style { actionSheet, alert };

  UIAlertController(std::optional<std::string> title, std::optional<std::string> message,
                    Style preferredStyle);
  std::string className() const override { return "UIAlertController"; }

  Style preferredStyle() const { return style_; }
  const std::optional<std::string>& message() const { return message_; }
  void setMessage(std::optional<std::string> message);
  void addAction(UIAlertAction action);
  const std::vector<UIAlertAction>& actions() const { return actions_; }

  // Taps the first enabled action with the title, as a user would: the alert
  // is dismissed (animated) and the handler runs when the dismissal has
  // completed. False when there is no such action or the alert is not
  // presented.
  bool triggerAction(const std::string& title);

  void loadView() override;

 protected:
  UIModalPresentationStyle resolvedPresentationStyle() const override;

 private:
  std::optional<std::string> message_;
  Style style_;
  std::vector<UIAlertAction> actions_;
  bool triggered_ = false;
};

}  // namespace uikit
