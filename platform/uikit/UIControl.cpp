#include "morvik/platform/uikit/UIControl.h"

#include <algorithm>

namespace uikit {

UIControl::UIControl(const CGRect& frame) : UIView(frame) {}

void UIControl::setEnabled(bool enabled) {
  checkThread("UIControl::setEnabled");
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  stateDidChange();
}

void UIControl::setSelected(bool selected) {
  checkThread("UIControl::setSelected");
  if (selected_ == selected) return;
  selected_ = selected;
  stateDidChange();
}

void UIControl::setHighlighted(bool highlighted) {
  checkThread("UIControl::setHighlighted");
  if (highlighted_ == highlighted) return;
  highlighted_ = highlighted;
  stateDidChange();
}

UIControlState UIControl::state() const {
  std::uint32_t raw = 0;
  if (!enabled_) raw |= UIControlState::disabled.rawValue;
  if (selected_) raw |= UIControlState::selected.rawValue;
  if (highlighted_) raw |= UIControlState::highlighted.rawValue;
  return UIControlState{raw};
}

void UIControl::setContentHorizontalAlignment(UIControlContentHorizontalAlignment alignment) {
  checkThread("UIControl::setContentHorizontalAlignment");
  horizontalAlignment_ = alignment;
  setNeedsLayout();
}

void UIControl::setContentVerticalAlignment(UIControlContentVerticalAlignment alignment) {
  checkThread("UIControl::setContentVerticalAlignment");
  verticalAlignment_ = alignment;
  setNeedsLayout();
}

void UIControl::addTarget(const std::shared_ptr<void>& target, SenderAction action, UIControlEvents events) {
  checkThread("UIControl::addTarget");
  if (!action) return;
  entries_.push_back(Entry{target, target.get(), target != nullptr, std::move(action), events});
}

void UIControl::addTarget(const std::shared_ptr<void>& target, Action action, UIControlEvents events) {
  if (!action) return;
  addTarget(target, SenderAction([action = std::move(action)](UIControl&) { action(); }), events);
}

void UIControl::removeTarget(const void* target, UIControlEvents events) {
  checkThread("UIControl::removeTarget");
  for (auto& e : entries_) {
    if (target && e.targetAddress != target) continue;
    e.events.rawValue &= ~events.rawValue;
  }
  entries_.erase(
      std::remove_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.events.rawValue == 0; }),
      entries_.end());
}

std::size_t UIControl::actionCount(UIControlEvents events) const {
  return static_cast<std::size_t>(std::count_if(entries_.begin(), entries_.end(),
                                                [&](const Entry& e) { return e.events.intersects(events); }));
}

void UIControl::sendActions(UIControlEvents forEvents) {
  checkThread("UIControl::sendActions");
  if (!enabled_ || isHidden() || !isUserInteractionEnabled()) return;
  auto keepSelf = shared_from_this();
  // Actions may add or remove targets while running: work on a copy.
  auto entries = entries_;
  for (auto& e : entries) {
    if (!e.events.intersects(forEvents)) continue;
    std::shared_ptr<void> target = e.target.lock();
    if (e.hasTarget && !target) continue;
    e.action(*this);
  }
}

std::string UIControl::descriptionFields() const { return enabled_ ? "" : "; enabled = NO"; }

}  // namespace uikit
