// The look the flow's screens give their full-width action buttons (Start,
// Continue, Retake, OK...): one title, filled, rounded, 48 points high.
#pragma once

#include <morvik/platform/uikit.h>

namespace morvik {

inline void styleActionButton(uikit::UIButton& button, const char* title, const uikit::UIColor& background,
                              const uikit::UIColor& titleColor) {
  button.setTitle(title, uikit::UIControlState::normal);
  button.setBackgroundColor(background);
  button.setTitleColor(titleColor, uikit::UIControlState::normal);
  button.titleLabel()->setFont(uikit::UIFont::systemFont(20, uikit::UIFont::Weight::semibold));
  button.layer()->setCornerRadius(8);
  button.heightAnchor().constraintEqualToConstant(48)->setActive(true);
}

}  // namespace morvik
