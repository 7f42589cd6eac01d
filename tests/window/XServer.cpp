#include "window/XServer.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace window_test {

namespace {
Display* dpy(void* d) { return static_cast<Display*>(d); }
}  // namespace

XServer::XServer() : display_(XOpenDisplay(nullptr)) {}

XServer::~XServer() {
  if (display_) XCloseDisplay(dpy(display_));
}

bool XServer::usable() const {
  int event = 0, error = 0, major = 0, minor = 0;
  return display_ && XTestQueryExtension(dpy(display_), &event, &error, &major, &minor);
}

unsigned long XServer::find(const std::string& title) {
  return find(DefaultRootWindow(dpy(display_)), title);
}

unsigned long XServer::find(unsigned long at, const std::string& title) {
  XTextProperty name;
  if (XGetWMName(dpy(display_), at, &name) && name.value) {
    const bool same = std::string(reinterpret_cast<const char*>(name.value)) == title;
    XFree(name.value);
    if (same) return at;
  }
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(dpy(display_), at, &root, &parent, &children, &count)) return 0;
  unsigned long found = 0;
  for (unsigned i = 0; i < count && !found; ++i) found = find(children[i], title);
  if (children) XFree(children);
  return found;
}

void XServer::origin(unsigned long window, int& x, int& y) {
  Window child = 0;
  XTranslateCoordinates(dpy(display_), window, DefaultRootWindow(dpy(display_)), 0, 0, &x, &y, &child);
}

void XServer::click(int x, int y) {
  Display* d = dpy(display_);
  XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
  XTestFakeButtonEvent(d, 1, True, CurrentTime);
  XTestFakeButtonEvent(d, 1, False, CurrentTime);
  XFlush(d);
}

void XServer::wheel(int x, int y, int steps) {
  Display* d = dpy(display_);
  XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
  // Buttons 4 and 5 are the wheel's steps up and down.
  const unsigned button = steps > 0 ? 5 : 4;
  for (int i = 0; i < (steps > 0 ? steps : -steps); ++i) {
    XTestFakeButtonEvent(d, button, True, CurrentTime);
    XTestFakeButtonEvent(d, button, False, CurrentTime);
  }
  XFlush(d);
}

void XServer::press(int x, int y) {
  XTestFakeMotionEvent(dpy(display_), -1, x, y, CurrentTime);
  XTestFakeButtonEvent(dpy(display_), 1, True, CurrentTime);
  XFlush(dpy(display_));
}

void XServer::moveTo(int x, int y) {
  XTestFakeMotionEvent(dpy(display_), -1, x, y, CurrentTime);
  XFlush(dpy(display_));
}

void XServer::release() {
  XTestFakeButtonEvent(dpy(display_), 1, False, CurrentTime);
  XFlush(dpy(display_));
}

void XServer::type(const std::string& text) {
  Display* d = dpy(display_);
  const KeyCode shift = XKeysymToKeycode(d, XK_Shift_L);
  for (char c : text) {
    // Printable ASCII characters are their own keysyms.
    const KeySym sym = static_cast<KeySym>(static_cast<unsigned char>(c));
    const KeyCode code = XKeysymToKeycode(d, sym);
    if (!code) continue;
    const bool shifted = XkbKeycodeToKeysym(d, code, 0, 0) != sym;
    if (shifted) XTestFakeKeyEvent(d, shift, True, CurrentTime);
    XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, False, CurrentTime);
    if (shifted) XTestFakeKeyEvent(d, shift, False, CurrentTime);
  }
  XFlush(d);
}

void XServer::press(const std::string& keysym, int times) {
  Display* d = dpy(display_);
  const KeyCode code = XKeysymToKeycode(d, XStringToKeysym(keysym.c_str()));
  for (int i = 0; i < times && code; ++i) {
    XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, False, CurrentTime);
  }
  XFlush(d);
}

void XServer::close(unsigned long window) {
  Display* d = dpy(display_);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, window, False, NoEventMask, &event);
  XFlush(d);
}

cv::Mat XServer::screenshot(unsigned long window, int width, int height) {
  Display* d = dpy(display_);
  XSync(d, False);
  XImage* image = XGetImage(d, window, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                            AllPlanes, ZPixmap);
  if (!image) return {};
  cv::Mat out(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned long p = XGetPixel(image, x, y);
      out.at<cv::Vec3b>(y, x) = {static_cast<std::uint8_t>(p & image->blue_mask),
                                 static_cast<std::uint8_t>((p & image->green_mask) >> 8),
                                 static_cast<std::uint8_t>((p & image->red_mask) >> 16)};
    }
  }
  XDestroyImage(image);
  return out;
}

}  // namespace window_test
