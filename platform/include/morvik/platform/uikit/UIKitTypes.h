// Small value types and enumerations shared by the uikit views and
// controllers. Plain values; any thread.
#pragma once

#include <cstdint>
#include <string>

#include <morvik/platform/quartz/CGGeometry.h>

namespace uikit {

using quartz::CGAffineTransform;
using quartz::CGFloat;
using quartz::CGPoint;
using quartz::CGRect;
using quartz::CGSize;

struct UIEdgeInsets {
  CGFloat top = 0;
  CGFloat left = 0;
  CGFloat bottom = 0;
  CGFloat right = 0;
  static constexpr UIEdgeInsets zero() { return {}; }
  friend bool operator==(const UIEdgeInsets&, const UIEdgeInsets&) = default;
};
// The rectangle made smaller by the insets (UIEdgeInsetsInsetRect, rect.inset(by:)).
CGRect insetRect(const CGRect& rect, const UIEdgeInsets& insets);
std::string toString(const UIEdgeInsets& insets);

// Layout priorities 1...1000; 1000 (required) must hold, lower ones are met as
// well as their weight allows.
struct UILayoutPriority {
  float rawValue = 1000;
  constexpr UILayoutPriority() = default;
  constexpr UILayoutPriority(float value)
      : rawValue(value) {}  // NOLINT: implicit like the platform's literal
  static const UILayoutPriority required;
  static const UILayoutPriority defaultHigh;
  static const UILayoutPriority defaultLow;
  static const UILayoutPriority fittingSizeLevel;
  friend constexpr auto operator<=>(const UILayoutPriority&, const UILayoutPriority&) = default;
};
inline constexpr UILayoutPriority UILayoutPriority::required{1000};
inline constexpr UILayoutPriority UILayoutPriority::defaultHigh{750};
inline constexpr UILayoutPriority UILayoutPriority::defaultLow{250};
inline constexpr UILayoutPriority UILayoutPriority::fittingSizeLevel{50};

enum class NSLayoutConstraintAxis { horizontal, vertical };
using UILayoutConstraintAxis = NSLayoutConstraintAxis;

enum class UIViewContentMode {
  scaleToFill,
  scaleAspectFit,
  scaleAspectFill,
  redraw,
  center,
  top,
  bottom,
  left,
  right,
  topLeft,
  topRight,
  bottomLeft,
  bottomRight
};

enum class NSTextAlignment { left, center, right, justified, natural };
enum class NSLineBreakMode {
  byWordWrapping,
  byCharWrapping,
  byClipping,
  byTruncatingHead,
  byTruncatingTail,
  byTruncatingMiddle
};

// Control states and events are bit sets, as on the platform.
struct UIControlState {
  std::uint32_t rawValue = 0;
  static const UIControlState normal, highlighted, disabled, selected;
  friend constexpr bool operator==(const UIControlState&, const UIControlState&) = default;
};
inline constexpr UIControlState UIControlState::normal{0};
inline constexpr UIControlState UIControlState::highlighted{1u << 0};
inline constexpr UIControlState UIControlState::disabled{1u << 1};
inline constexpr UIControlState UIControlState::selected{1u << 2};

struct UIControlEvents {
  std::uint32_t rawValue = 0;
  static const UIControlEvents touchDown, touchUpInside, touchUpOutside, touchCancel, valueChanged,
      primaryActionTriggered, editingDidBegin, editingChanged, editingDidEnd, allEvents;
  constexpr bool intersects(UIControlEvents other) const { return (rawValue & other.rawValue) != 0; }
  friend constexpr UIControlEvents operator|(UIControlEvents a, UIControlEvents b) {
    return {a.rawValue | b.rawValue};
  }
  friend constexpr bool operator==(const UIControlEvents&, const UIControlEvents&) = default;
};
inline constexpr UIControlEvents UIControlEvents::touchDown{1u << 0};
inline constexpr UIControlEvents UIControlEvents::touchUpInside{1u << 6};
inline constexpr UIControlEvents UIControlEvents::touchUpOutside{1u << 7};
inline constexpr UIControlEvents UIControlEvents::touchCancel{1u << 8};
inline constexpr UIControlEvents UIControlEvents::valueChanged{1u << 12};
inline constexpr UIControlEvents UIControlEvents::primaryActionTriggered{1u << 13};
inline constexpr UIControlEvents UIControlEvents::editingDidBegin{1u << 16};
inline constexpr UIControlEvents UIControlEvents::editingChanged{1u << 17};
inline constexpr UIControlEvents UIControlEvents::editingDidEnd{1u << 18};
inline constexpr UIControlEvents UIControlEvents::allEvents{0xFFFFFFFFu};

enum class UIControlContentHorizontalAlignment { center, left, right, fill, leading, trailing };
enum class UIControlContentVerticalAlignment { center, top, bottom, fill };

// Animation options; recorded only: the end state is applied at once.
struct UIViewAnimationOptions {
  std::uint32_t rawValue = 0;
  static const UIViewAnimationOptions curveEaseInOut, curveEaseIn, curveEaseOut, curveLinear,
      allowUserInteraction, beginFromCurrentState;
  friend constexpr UIViewAnimationOptions operator|(UIViewAnimationOptions a, UIViewAnimationOptions b) {
    return {a.rawValue | b.rawValue};
  }
  friend constexpr bool operator==(const UIViewAnimationOptions&, const UIViewAnimationOptions&) = default;
};
inline constexpr UIViewAnimationOptions UIViewAnimationOptions::curveEaseInOut{0};
inline constexpr UIViewAnimationOptions UIViewAnimationOptions::curveEaseIn{1u << 16};
inline constexpr UIViewAnimationOptions UIViewAnimationOptions::curveEaseOut{2u << 16};
inline constexpr UIViewAnimationOptions UIViewAnimationOptions::curveLinear{3u << 16};
inline constexpr UIViewAnimationOptions UIViewAnimationOptions::allowUserInteraction{1u << 1};
inline constexpr UIViewAnimationOptions UIViewAnimationOptions::beginFromCurrentState{1u << 2};

// "No intrinsic size along this axis".
inline constexpr CGFloat UIViewNoIntrinsicMetric = -1;

}  // namespace uikit
