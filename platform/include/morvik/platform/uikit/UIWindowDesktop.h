// A UIWindow shown on the desktop: a window of the desktop (X11 or Wayland,
// through SDL2) of the window's size in points times the scale, showing its
// view tree as drawn by the rendering plugin and taking the pointer and the
// keyboard. Main thread only. SDL2 is loaded with the first window shown
// (libmorvik_platform_window.so), so hosts that show nothing never load it.
//
// Input, as the platform's touch screen and keyboard would give it:
// - a press of the primary pointer button is a touch: the control under it
//   (hit-testing of the views) highlights, follows the pointer in and out,
//   and sends its actions on a release inside (touchUpInside; outside:
//   touchUpOutside); navigation bar items and the back button take taps too;
//   a text field or text view touched becomes the first responder;
// - dragging inside a scroll view scrolls it (a touch that moves further
//   than a few points stops being a tap), and so does the wheel;
// - typed text goes to the first responder; Backspace deletes backward;
//   Return is the keyboard's return key (a text field's delegate decides).
// Closing the desktop window takes it off the desktop and stops the main
// loop (dispatch::MainLoop::stop), so a host's run() returns.
//
// Drawing: only what changed, and only when something changed: the tree is
// looked at after main-queue work ran (never while the loop sleeps), while
// an animation runs (at the display's rate) and while a camera preview
// layer shows a running session (at the camera's rate, its frames drawn
// into the layer, scaled to fill it). An idle window costs no CPU.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <morvik/platform/quartz/CGGeometry.h>

namespace uikit {

class UIWindow;

struct DesktopWindowOptions {
  // Pixels per point; 0 picks 2, or 1 when the display is too small for 2.
  quartz::CGFloat scale = 0;
  std::string title = "UIWindow";
};

// Shows the window on the desktop (a second call for the same window does
// nothing and answers true). False, with the reason on stderr, when there is
// no display or the plugin cannot be loaded. The desktop window holds the
// UIWindow weakly: it closes when the UIWindow goes. As on the platform, a
// hidden window (a new one, before makeKeyAndVisible) shows nothing.
bool showOnDesktop(const std::shared_ptr<UIWindow>& window, const DesktopWindowOptions& options = {});
// True while the window is shown on the desktop (false once closed).
bool isOnDesktop(const UIWindow& window);
// Closes the desktop window (the main loop is not stopped).
void removeFromDesktop(const UIWindow& window);

// What a shown window has done so far, for benchmarks and checks.
struct DesktopWindowActivity {
  quartz::CGFloat scale = 0;        // pixels per point
  std::uint64_t wakeUps = 0;        // times the display woke the main thread
  std::uint64_t looks = 0;          // times the tree was compared with what is shown
  std::uint64_t redraws = 0;        // of those, the ones that drew something
  std::uint64_t pixelsRedrawn = 0;  // in all redraws
  std::uint64_t lastPixelsRedrawn = 0;
};
DesktopWindowActivity desktopWindowActivity(const UIWindow& window);

}  // namespace uikit
