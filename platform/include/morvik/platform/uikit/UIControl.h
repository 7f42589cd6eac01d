// UIControl: target-action for buttons and other controls. Main thread only.
//
// sendActions(for:) is how a host or a test taps a control: it runs, in the
// order added, every action registered for any of the events. A disabled,
// hidden or non-interactive control ignores it, as it would ignore a touch.
// Targets are held weakly: an action whose target has gone does nothing. A
// null target means the action has no owner to outlive and always runs.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <morvik/platform/uikit/UIView.h>

namespace uikit {

class UIControl : public UIView {
 public:
  using Action = std::function<void()>;
  using SenderAction = std::function<void(UIControl& sender)>;

  explicit UIControl(const CGRect& frame = {});
  std::string className() const override { return "UIControl"; }

  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);
  bool isSelected() const { return selected_; }
  void setSelected(bool selected);
  bool isHighlighted() const { return highlighted_; }
  void setHighlighted(bool highlighted);
  // normal, or a combination of disabled, selected and highlighted.
  UIControlState state() const;

  UIControlContentHorizontalAlignment contentHorizontalAlignment() const { return horizontalAlignment_; }
  void setContentHorizontalAlignment(UIControlContentHorizontalAlignment alignment);
  UIControlContentVerticalAlignment contentVerticalAlignment() const { return verticalAlignment_; }
  void setContentVerticalAlignment(UIControlContentVerticalAlignment alignment);

  void addTarget(const std::shared_ptr<void>& target, SenderAction action, UIControlEvents events);
  void addTarget(const std::shared_ptr<void>& target, Action action, UIControlEvents events);
  // Removes the target's actions for the events (null target: every action).
  void removeTarget(const void* target, UIControlEvents events = UIControlEvents::allEvents);
  std::size_t actionCount(UIControlEvents events = UIControlEvents::allEvents) const;

  void sendActions(UIControlEvents forEvents);

 protected:
  // Called after enabled, selected or highlighted changed.
  virtual void stateDidChange() {}
  std::string descriptionFields() const override;

 private:
  struct Entry {
    std::weak_ptr<void> target;
    const void* targetAddress;
    bool hasTarget;
    SenderAction action;
    UIControlEvents events;
  };
  std::vector<Entry> entries_;
  bool enabled_ = true;
  bool selected_ = false;
  bool highlighted_ = false;
  UIControlContentHorizontalAlignment horizontalAlignment_ = UIControlContentHorizontalAlignment::center;
  UIControlContentVerticalAlignment verticalAlignment_ = UIControlContentVerticalAlignment::center;
};

}  // namespace uikit
