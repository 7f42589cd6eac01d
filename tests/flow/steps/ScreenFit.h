// What a person can see of a screen's views on a given phone: views are
// scrolled into sight as far as their scroll views allow, and only the part
// inside every scroll view above them counts as seen.
#pragma once

#include <morvik/platform/uikit.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace screenfit {

// The part of `view` in sight, in window coordinates (null when none is).
inline uikit::CGRect visibleRect(const uikit::UIView& view, const uikit::UIWindow& window) {
  auto rect = view.convert(view.bounds(), &window);
  for (auto v = view.superview(); v; v = v->superview()) {
    if (auto scroll = std::dynamic_pointer_cast<uikit::UIScrollView>(v)) {
      rect = rect.intersection(scroll->convert(scroll->bounds(), &window));
    }
  }
  return rect;
}

// Scrolls the scroll views above `view`, no further than their content
// allows, to bring its top (or its bottom) edge into sight.
inline void scrollTo(const uikit::UIView& view, bool bottomEdge) {
  for (auto v = view.superview(); v; v = v->superview()) {
    auto scroll = std::dynamic_pointer_cast<uikit::UIScrollView>(v);
    if (!scroll) continue;
    const auto rect = view.convert(view.bounds(), scroll.get());
    const double height = scroll->bounds().height();
    const double target = bottomEdge ? rect.maxY() - height : rect.minY();
    const double most = std::max(0.0, scroll->contentSize().height - height);
    scroll->setContentOffset({scroll->contentOffset().x, std::clamp(target, 0.0, most)});
    scroll->layoutIfNeeded();
  }
}

inline uikit::CGRect safeArea(const uikit::UIWindow& window) {
  const auto insets = window.safeAreaInsets();
  const auto b = window.bounds();
  return {{insets.left, insets.top},
          {b.width() - insets.left - insets.right, b.height() - insets.top - insets.bottom}};
}

// Scrolls `view` to its top and to its bottom edge: each must come fully into
// the safe area and lie under none of `buttons` (fixed buttons must also stay
// in sight meanwhile).
template <class Buttons>
void expectReachable(const std::shared_ptr<uikit::UIView>& view, const uikit::UIWindow& window,
                     const Buttons& buttons, bool buttonsFixed) {
  const auto safe = safeArea(window);
  for (const bool bottom : {false, true}) {
    scrollTo(*view, bottom);
    const auto full = view->convert(view->bounds(), &window);
    const auto seen = visibleRect(*view, window);
    EXPECT_TRUE(safe.contains(seen)) << view->className();
    EXPECT_NEAR(bottom ? seen.maxY() : seen.minY(), bottom ? full.maxY() : full.minY(), 1e-6)
        << view->className() << (bottom ? " bottom" : " top") << " out of reach";
    for (const auto& button : buttons) {
      if (button == view) continue;
      if (buttonsFixed) {
        EXPECT_TRUE(safe.contains(visibleRect(*button, window)));
      }
      EXPECT_TRUE(seen.intersection(visibleRect(*button, window)).isEmpty()) << view->className() << " under a button";
    }
  }
}

}  // namespace screenfit
