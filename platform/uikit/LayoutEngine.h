// The layout pass: turns a view tree's constraints, stack views, intrinsic
// sizes and fixed frames into solver rows, solves them and hands the frames
// to layoutSubviews. Internal to the uikit layer.
#pragma once

#include <cstdint>
#include <string>

namespace uikit {

class UIView;
class UILayoutGuide;

// A coordinate for descriptions: integers without decimals.
std::string formatCoordinate(double value);

struct LayoutEngineAccess {
  class Pass;
  static UIView* guideOwner(const UILayoutGuide& guide);
  // Lays out the tree rooted at `root` (solve, then layoutSubviews top-down).
  static void layoutTree(UIView& root);
  // Applies the frames the current pass solved for the view's subviews.
  static void applySolvedFrames(UIView& parent);
  // For a window root: lays it out on the main queue's next turn.
  static void scheduleWindowLayout(UIView& root);
  // Something that feeds the solver changed (constraints, content, tree).
  static void noteInputChange();
  static bool applyingFrames();
  static bool inLayoutPass();
};

}  // namespace uikit
