// The X server as a person's devices: pointer and keyboard events sent with
// XTest, and what the screen shows. (Xlib's macros stay in XServer.cpp.)
#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace window_test {

class XServer {
 public:
  XServer();
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  // A display with the XTest extension.
  bool usable() const;
  // The window with this title, or 0.
  unsigned long find(const std::string& title);
  // The window's top-left corner on the screen.
  void origin(unsigned long window, int& x, int& y);
  // A press and release of the first button at a point of the screen.
  void click(int x, int y);
  // The first button pressed at a point, the pointer moved while it is held, released.
  void press(int x, int y);
  void moveTo(int x, int y);
  void release();
  // Turns the wheel at a point of the screen: `steps` down (negative: up).
  void wheel(int x, int y, int steps);
  // Types printable ASCII text, with Shift where the keymap needs it.
  void type(const std::string& text);
  // Presses and releases a key by its keysym name ("BackSpace"), `times` times.
  void press(const std::string& keysym, int times = 1);
  // Asks the window to close, as a window manager's close button does
  // (WM_DELETE_WINDOW).
  void close(unsigned long window);
  // The window's pixels as BGR (empty on failure).
  cv::Mat screenshot(unsigned long window, int width, int height);

 private:
  unsigned long find(unsigned long at, const std::string& title);
  void* display_;
};

}  // namespace window_test
