// The window plugin: UIWindows shown on the desktop through SDL2, drawn by the
// rendering plugin, with the pointer as the touch screen and the keyboard.
//
// Waking: SDL is not asked for events in a loop. A watcher thread sleeps in
// poll() on the display connection's socket; when it becomes readable the
// watcher posts one block to the main queue, which takes every pending event
// (SDL_PollEvent), handles it, redraws, and only then lets the watcher poll
// again. Every display call happens on the main thread, which looks for
// events again after each present (replies to it may have brought events
// along). Redrawing is driven by the main loop: after a burst of main-queue
// work (dispatch's before-waiting point), while animations run, and while a
// preview layer shows a running camera.
#include <SDL.h>
#include <SDL_syswm.h>
#include <dlfcn.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "avf/Internal.h"
#include "dispatch/MainLoopObserver.h"
#include "morvik/platform/avf/AVCaptureSession.h"
#include "morvik/platform/avf/AVCaptureVideoPreviewLayer.h"
#include "morvik/platform/dispatch/Dispatch.h"
#include "morvik/platform/swiftui/Views.h"
#include "morvik/platform/uikit/UIBarButtonItem.h"
#include "morvik/platform/uikit/UIControl.h"
#include "morvik/platform/uikit/UINavigationController.h"
#include "morvik/platform/uikit/UIRendering.h"
#include "morvik/platform/uikit/UIScrollView.h"
#include "morvik/platform/uikit/UITextView.h"
#include "morvik/platform/uikit/UIWindow.h"
#include "uikit/WindowPlugin.h"

namespace uikit::desktop {

namespace {

using quartz::CALayer;
using quartz::CGFloat;
using quartz::CGPoint;
using quartz::CGRect;

// A touch that moves further than this (points) is a drag, not a tap.
constexpr double kDragSlop = 10;
// How far outside a control a touch still counts as inside (the platform's).
constexpr double kTouchSlop = 70;
// Points scrolled per wheel step.
constexpr double kWheelStep = 40;
constexpr double kDisplayRate = 60;

// A touch in progress: the control tracking it, or the scroll view it drags.
struct Touch {
  bool down = false;
  CGPoint start, last;
  std::shared_ptr<UIControl> control;
  bool inside = false;
  // A text field or text view: it becomes the first responder on release.
  std::shared_ptr<UIView> textInput;
  std::shared_ptr<UIScrollView> scroll;
  bool dragging = false;
  // A navigation bar item (or the back button) under the press.
  std::weak_ptr<UINavigationController> bar;
  std::shared_ptr<UIBarButtonItem> barItem;
  bool back = false;
};

class Window;

// SDL, the watcher thread and every shown window (main thread, but the
// watcher's fields under `mutex`).
class Desktop {
 public:
  static Desktop& shared() {
    static auto* desktop = new Desktop();  // lives for the process: its thread outlives statics
    return *desktop;
  }

  bool start(std::string& error);
  void add(const std::shared_ptr<Window>& window);
  void pump();
  void updateAll();
  void startWatching(int fd);

 private:
  void watch(int fd);
  void handle(const SDL_Event& event);
  std::shared_ptr<Window> byID(Uint32 id) const;

  bool started_ = false;
  std::vector<std::weak_ptr<Window>> windows_;
  std::mutex mutex_;
  std::condition_variable pumped_;
  bool pumpPending_ = false;
  bool watching_ = false;
  int stopFd_ = -1;
  std::thread watcher_;
};

class Window : public std::enable_shared_from_this<Window> {
 public:
  Window(std::shared_ptr<UIWindow> view, double scale) : view_(view), scale_(scale) {}
  ~Window() { destroy(); }

  bool open(const std::string& title, std::string& error);
  void destroy();
  bool isOpen() const { return sdl_ != nullptr; }
  Uint32 id() const { return id_; }
  SDL_Window* sdl() const { return sdl_; }
  DesktopWindowActivity activity() const { return activity_; }
  void noteWakeUp() { ++activity_.wakeUps; }

  void handle(const SDL_Event& event);
  // Compares the tree with what is shown and redraws what changed.
  void update();

 private:
  CGPoint pointOf(int x, int y) const { return {x / scale_, y / scale_}; }
  void touchBegan(CGPoint p);
  void touchMoved(CGPoint p);
  // The bar's button under the press is no longer drawn pressed.
  void releaseBar();
  void touchEnded(CGPoint p);
  void wheel(CGPoint p, double dx, double dy);
  void key(const SDL_KeyboardEvent& key);
  void text(const char* utf8);
  void present(const std::vector<CGRect>& rects);
  void presentAll();
  void scheduleFrame(double seconds);
  // Looks at layers for running animations and live previews.
  void survey(const CALayer& layer, double& nextFrame);
  void feedPreview(const avf::AVCaptureVideoPreviewLayer& preview);

  std::weak_ptr<UIWindow> view_;
  double scale_;
  SDL_Window* sdl_ = nullptr;
  Uint32 id_ = 0;
  std::unique_ptr<ViewRenderer> renderer_;
  int width_ = 0, height_ = 0;
  std::vector<std::uint8_t> pixels_;
  Touch touch_;
  bool frameScheduled_ = false;
  DesktopWindowActivity activity_;
  // Each preview layer's sample last handed to the renderer (alive until the
  // render that draws it has returned, and beyond), and the preview layers
  // of the last look.
  std::unordered_map<const CALayer*, avf::CMSampleBufferRef> shownSamples_;
  std::vector<const CALayer*> seen_;
};

// --- Helpers -----------------------------------------------------------------

std::shared_ptr<UIView> firstResponderIn(const std::shared_ptr<UIView>& view) {
  if (!view) return nullptr;
  if (view->isFirstResponder()) return view;
  for (const auto& sub : view->subviews()) {
    if (auto found = firstResponderIn(sub)) return found;
  }
  return nullptr;
}

template <class T>
std::shared_ptr<T> ancestorOrSelf(std::shared_ptr<UIView> view) {
  for (; view; view = view->superview()) {
    if (auto t = std::dynamic_pointer_cast<T>(view)) return t;
  }
  return nullptr;
}

// Scrolls within the content (and its insets), as a finger can.
void scrollBy(UIScrollView& scroll, double dx, double dy) {
  const auto offset = scroll.contentOffset();
  const auto size = scroll.contentSize(), bounds = scroll.bounds().size;
  const auto inset = scroll.contentInset();
  const double maxX = std::max(-inset.left, size.width + inset.right - bounds.width);
  const double maxY = std::max(-inset.top, size.height + inset.bottom - bounds.height);
  const CGPoint to{std::clamp(offset.x + dx, -inset.left, maxX), std::clamp(offset.y + dy, -inset.top, maxY)};
  if (to.x != offset.x || to.y != offset.y) scroll.setContentOffset(to);
}

// The innermost scroll view around `view` (or it) that is enabled and can
// move by (dx, dy) points of offset; any enabled one when none can.
std::shared_ptr<UIScrollView> scrollable(std::shared_ptr<UIView> view, double dx, double dy) {
  std::shared_ptr<UIScrollView> first;
  for (; view; view = view->superview()) {
    auto scroll = std::dynamic_pointer_cast<UIScrollView>(view);
    if (!scroll || !scroll->isScrollEnabled()) continue;
    if (!first) first = scroll;
    const auto offset = scroll->contentOffset();
    const auto size = scroll->contentSize(), bounds = scroll->bounds().size;
    const auto inset = scroll->contentInset();
    const bool canX =
        (dx > 0 && offset.x < size.width + inset.right - bounds.width) || (dx < 0 && offset.x > -inset.left);
    const bool canY = (dy > 0 && offset.y < size.height + inset.bottom - bounds.height) ||
                      (dy < 0 && offset.y > -inset.top);
    if (canX || canY) return scroll;
  }
  return first;
}

// Views that take the keyboard (text fields, editable text views) become the
// first responder when touched.
bool isTextInput(const UIView& view) { return view.canBecomeFirstResponder(); }

// The text without its last character (a whole UTF-8 sequence).
std::string withoutLast(std::string text) {
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text.back());
    text.pop_back();
    if ((byte & 0xC0) != 0x80) break;
  }
  return text;
}

// --- Desktop -------------------------------------------------------------------

bool Desktop::start(std::string& error) {
  if (started_) return true;
  // An idle window must not keep the desktop awake; the first click on an
  // unfocused window is a touch, as on a touch screen.
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    error = std::string("no display (") + SDL_GetError() + ")";
    return false;
  }
  started_ = true;
  dispatch::detail::setBeforeWaitingObserver([] { Desktop::shared().updateAll(); });
  return true;
}

void Desktop::add(const std::shared_ptr<Window>& window) {
  windows_.push_back(window);
  if (watching_) return;
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  int fd = -1;
  if (SDL_GetWindowWMInfo(window->sdl(), &info)) {
#if defined(SDL_VIDEO_DRIVER_X11)
    if (info.subsystem == SDL_SYSWM_X11) {
      // Xlib's own XConnectionNumber, from the Xlib that SDL loaded.
      using ConnectionNumber = int (*)(void*);
      void* xlib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
      if (auto fn = reinterpret_cast<ConnectionNumber>(xlib ? dlsym(xlib, "XConnectionNumber") : nullptr)) {
        fd = fn(info.info.x11.display);
      }
    }
#endif
#if defined(SDL_VIDEO_DRIVER_WAYLAND)
    if (info.subsystem == SDL_SYSWM_WAYLAND) {
      using GetFd = int (*)(void*);
      void* wl = dlopen("libwayland-client.so.0", RTLD_LAZY | RTLD_NOLOAD);
      if (auto fn = reinterpret_cast<GetFd>(wl ? dlsym(wl, "wl_display_get_fd") : nullptr)) {
        fd = fn(info.info.wl.display);
      }
    }
#endif
  }
  if (fd < 0) {
    // A display whose connection we cannot watch: ask it at the display's
    // rate, as a last resort (costs wake-ups while shown).
    std::fprintf(
        stderr, "[Window] the display's connection cannot be watched: looking for events %g times a second\n",
        kDisplayRate);
    struct Poller {
      static void tick() {
        Desktop::shared().pump();
        dispatch::DispatchQueue::main().asyncAfter(dispatch::DispatchTime::now() + 1.0 / kDisplayRate, tick);
      }
    };
    dispatch::DispatchQueue::main().async(Poller::tick);
    watching_ = true;
    return;
  }
  startWatching(fd);
}

void Desktop::startWatching(int fd) {
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  watching_ = true;
  watcher_ = std::thread([this, fd] { watch(fd); });
  watcher_.detach();
}

void Desktop::watch(int fd) {
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    const int n = poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || fds[1].revents) return;
    std::unique_lock lock(mutex_);
    pumpPending_ = true;
    dispatch::DispatchQueue::main().async([] { Desktop::shared().pump(); });
    pumped_.wait(lock, [&] { return !pumpPending_; });
    // A connection that broke stays readable: stop watching it.
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
  }
}

std::shared_ptr<Window> Desktop::byID(Uint32 id) const {
  for (const auto& weak : windows_) {
    if (auto w = weak.lock(); w && w->isOpen() && w->id() == id) return w;
  }
  return nullptr;
}

void Desktop::handle(const SDL_Event& event) {
  Uint32 id = 0;
  switch (event.type) {
    case SDL_WINDOWEVENT:
      id = event.window.windowID;
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      id = event.button.windowID;
      break;
    case SDL_MOUSEMOTION:
      id = event.motion.windowID;
      break;
    case SDL_MOUSEWHEEL:
      id = event.wheel.windowID;
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      id = event.key.windowID;
      break;
    case SDL_TEXTINPUT:
      id = event.text.windowID;
      break;
    default:
      return;
  }
  if (auto w = byID(id)) w->handle(event);
}

void Desktop::pump() {
  for (const auto& weak : windows_) {
    if (auto w = weak.lock()) w->noteWakeUp();
  }
  // Events, then the redraw they cause; a present may bring more events in.
  for (int round = 0; round < 8; ++round) {
    SDL_Event event;
    bool any = false;
    while (SDL_PollEvent(&event)) {
      any = true;
      handle(event);
    }
    if (!any && round > 0) break;
    updateAll();
  }
  {
    std::lock_guard lock(mutex_);
    pumpPending_ = false;
  }
  pumped_.notify_all();
}

void Desktop::updateAll() {
  windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                [](const std::weak_ptr<Window>& w) {
                                  auto s = w.lock();
                                  return !s || !s->isOpen();
                                }),
                 windows_.end());
  auto windows = windows_;
  for (const auto& weak : windows) {
    if (auto w = weak.lock()) w->update();
  }
}

// --- Window --------------------------------------------------------------------

bool Window::open(const std::string& title, std::string& error) {
  auto view = view_.lock();
  if (!view || !renderingAvailable()) {
    error = "the rendering plugin could not be loaded";
    return false;
  }
  const auto size = view->bounds().size;
  width_ = static_cast<int>(std::ceil(size.width * scale_ - 1e-6));
  height_ = static_cast<int>(std::ceil(size.height * scale_ - 1e-6));
  if (width_ < 1 || height_ < 1 || width_ > 16384 || height_ > 16384) {
    error = "the window has no size to show";
    return false;
  }
  sdl_ =
      SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width_, height_, 0);
  if (!sdl_) {
    error = std::string("SDL_CreateWindow: ") + SDL_GetError();
    return false;
  }
  id_ = SDL_GetWindowID(sdl_);
  renderer_ = std::make_unique<ViewRenderer>();
  pixels_.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4, 0);
  activity_.scale = scale_;
  return true;
}

void Window::destroy() {
  renderer_.reset();
  if (sdl_) SDL_DestroyWindow(sdl_);
  sdl_ = nullptr;
  releaseBar();
  touch_ = {};
  shownSamples_.clear();
}

void Window::handle(const SDL_Event& event) {
  switch (event.type) {
    case SDL_WINDOWEVENT:
      if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
        destroy();
        dispatch::MainLoop::stop();
      } else if (event.window.event == SDL_WINDOWEVENT_EXPOSED ||
                 event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
        presentAll();
      }
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (event.button.button == SDL_BUTTON_LEFT) touchBegan(pointOf(event.button.x, event.button.y));
      break;
    case SDL_MOUSEMOTION:
      if (touch_.down) touchMoved(pointOf(event.motion.x, event.motion.y));
      break;
    case SDL_MOUSEBUTTONUP:
      if (event.button.button == SDL_BUTTON_LEFT && touch_.down)
        touchEnded(pointOf(event.button.x, event.button.y));
      break;
    case SDL_MOUSEWHEEL: {
      int x = 0, y = 0;
      SDL_GetMouseState(&x, &y);
      const double dir = event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1 : 1;
      wheel(pointOf(x, y), dir * event.wheel.preciseX, dir * event.wheel.preciseY);
      break;
    }
    case SDL_KEYDOWN:
      key(event.key);
      break;
    case SDL_TEXTINPUT:
      text(event.text.text);
      break;
    default:
      break;
  }
}

void Window::touchBegan(CGPoint p) {
  auto root = view_.lock();
  if (!root) return;
  releaseBar();
  touch_ = {};
  touch_.down = true;
  touch_.start = touch_.last = p;
  auto hit = root->hitTest(p);
  if (!hit) return;
  touch_.scroll = scrollable(hit, 0, 0);
  // A navigation bar above the screen under the touch: its items take it.
  for (auto v = hit; v; v = v->superview()) {
    auto nav = std::dynamic_pointer_cast<UINavigationController>(v->owningViewController());
    if (!nav || nav->view() != v || nav->isNavigationBarHidden() || !nav->topViewController()) continue;
    const CGPoint local = v->convertFrom(p, root.get());
    const double top = v->safeAreaInsets().top;
    if (local.y < top || local.y >= top + UINavigationController::kNavigationBarHeight) break;
    const auto& items = nav->topViewController()->navigationItem();
    const bool leading = local.x < v->bounds().size.width / 2;
    touch_.bar = nav;
    if (leading && items.leftBarButtonItem) {
      touch_.barItem = items.leftBarButtonItem;
    } else if (leading && nav->viewControllers().size() > 1 && !items.hidesBackButton) {
      touch_.back = true;
    } else if (!leading && items.rightBarButtonItem) {
      touch_.barItem = items.rightBarButtonItem;
    }
    if (touch_.barItem || touch_.back) {
      nav->setHighlightedBarButton(leading ? UINavigationController::BarButton::leading
                                           : UINavigationController::BarButton::trailing);
      return;
    }
    break;
  }
  for (auto v = hit; v; v = v->superview()) {
    if (isTextInput(*v)) {
      touch_.textInput = v;
      return;
    }
  }
  touch_.control = ancestorOrSelf<UIControl>(hit);
  if (touch_.control && !touch_.control->isEnabled()) touch_.control = nullptr;
  if (touch_.control) {
    touch_.inside = true;
    touch_.control->setHighlighted(true);
    touch_.control->sendActions(UIControlEvents::touchDown);
  }
}

void Window::touchMoved(CGPoint p) {
  auto root = view_.lock();
  if (!root) return;
  const double dx = p.x - touch_.last.x, dy = p.y - touch_.last.y;
  touch_.last = p;
  if (touch_.scroll && !touch_.dragging &&
      std::hypot(p.x - touch_.start.x, p.y - touch_.start.y) > kDragSlop) {
    // The touch becomes a drag of the innermost scroll view that can move
    // that way; a control under it lets go.
    touch_.dragging = true;
    if (auto hit = root->hitTest(touch_.start)) {
      if (auto s = scrollable(hit, touch_.start.x - p.x, touch_.start.y - p.y)) touch_.scroll = s;
    }
    if (touch_.control) {
      touch_.control->setHighlighted(false);
      touch_.control->sendActions(UIControlEvents::touchCancel);
      touch_.control = nullptr;
    }
    releaseBar();
    touch_.barItem = nullptr, touch_.back = false, touch_.textInput = nullptr;
  }
  if (touch_.dragging) {
    scrollBy(*touch_.scroll, -dx, -dy);
    return;
  }
  if (touch_.control) {
    const CGPoint local = touch_.control->convertFrom(p, root.get());
    const auto b = touch_.control->bounds();
    const bool inside =
        local.x >= b.origin.x - kTouchSlop && local.x <= b.origin.x + b.size.width + kTouchSlop &&
        local.y >= b.origin.y - kTouchSlop && local.y <= b.origin.y + b.size.height + kTouchSlop;
    if (inside != touch_.inside) {
      touch_.inside = inside;
      touch_.control->setHighlighted(inside);
    }
  }
}

void Window::releaseBar() {
  if (auto nav = touch_.bar.lock()) nav->setHighlightedBarButton(UINavigationController::BarButton::none);
}

void Window::touchEnded(CGPoint p) {
  touchMoved(p);
  releaseBar();
  Touch touch = std::move(touch_);
  touch_ = {};
  if (touch.dragging) return;
  if (touch.barItem) {
    touch.barItem->sendAction();
    return;
  }
  if (touch.back) {
    if (auto nav = touch.bar.lock()) nav->popViewController(true);
    return;
  }
  if (touch.textInput) {
    touch.textInput->becomeFirstResponder();
    return;
  }
  if (!touch.control) return;
  touch.control->setHighlighted(false);
  touch.control->sendActions(touch.inside ? UIControlEvents::touchUpInside : UIControlEvents::touchUpOutside);
}

void Window::wheel(CGPoint p, double dx, double dy) {
  if (dx == 0 && dy == 0) return;
  auto root = view_.lock();
  if (!root) return;
  auto scroll = scrollable(root->hitTest(p), dx, -dy);
  if (!scroll) return;
  // Wheel up shows what is above: the offset goes down.
  scrollBy(*scroll, dx * kWheelStep, -dy * kWheelStep);
}

void Window::key(const SDL_KeyboardEvent& key) {
  auto responder = firstResponderIn(view_.lock());
  if (!responder) return;
  auto* field = dynamic_cast<UITextField*>(responder.get());
  auto* textView = dynamic_cast<UITextView*>(responder.get());
  auto* hosted = dynamic_cast<swiftui::HostedTextField*>(responder.get());
  switch (key.keysym.sym) {
    case SDLK_BACKSPACE:
      if (field) field->deleteBackward();
      if (textView) textView->deleteBackward();
      if (hosted && !hosted->text().empty()) hosted->type(withoutLast(hosted->text()));
      break;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      if (field) field->pressReturn();
      if (textView) textView->insertText("\n");
      break;
    default:
      break;
  }
}

void Window::text(const char* utf8) {
  auto responder = firstResponderIn(view_.lock());
  if (!responder || !utf8 || !*utf8) return;
  if (auto* field = dynamic_cast<UITextField*>(responder.get())) field->insertText(utf8);
  if (auto* textView = dynamic_cast<UITextView*>(responder.get())) textView->insertText(utf8);
  if (auto* hosted = dynamic_cast<swiftui::HostedTextField*>(responder.get()))
    hosted->type(hosted->text() + utf8);
}

// The newest frame of a preview layer's running session, handed to the
// renderer when it is new.
void Window::feedPreview(const avf::AVCaptureVideoPreviewLayer& preview) {
  auto session = preview.session();
  if (!session || !session->isRunning()) return;
  auto sample = session->core().latestFrame();
  const auto& buffer = sample ? sample->imageBuffer() : nullptr;
  if (!buffer || buffer->planeCount() != 2 ||
      (buffer->pixelFormatType() != corevideo::kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange &&
       buffer->pixelFormatType() != corevideo::kCVPixelFormatType_420YpCbCr8BiPlanarFullRange)) {
    return;
  }
  // The sample shown is kept: a new one cannot take its address.
  auto& shown = shownSamples_[&preview];
  if (shown == sample) return;
  shown = sample;
  NV12Frame frame;
  frame.y = buffer->plane(0).base, frame.yStride = buffer->plane(0).bytesPerRow;
  frame.cbcr = buffer->plane(1).base, frame.cbcrStride = buffer->plane(1).bytesPerRow;
  frame.width = static_cast<int>(buffer->width()), frame.height = static_cast<int>(buffer->height());
  // The sensor is landscape: the preview connection turns it upright (and
  // mirrors a front camera), as the platform's preview layer does.
  using O = quartz::CGImagePropertyOrientation;
  auto connection = preview.connection();
  const bool mirrored = connection && connection->isVideoMirrored();
  switch (connection ? connection->videoOrientation() : avf::AVCaptureVideoOrientation::portrait) {
    case avf::AVCaptureVideoOrientation::portrait:
      frame.orientation = mirrored ? O::leftMirrored : O::right;
      break;
    case avf::AVCaptureVideoOrientation::portraitUpsideDown:
      frame.orientation = mirrored ? O::rightMirrored : O::left;
      break;
    case avf::AVCaptureVideoOrientation::landscapeLeft:
      frame.orientation = mirrored ? O::downMirrored : O::down;
      break;
    case avf::AVCaptureVideoOrientation::landscapeRight:
      frame.orientation = mirrored ? O::upMirrored : O::up;
      break;
  }
  renderer_->setVideoFrame(preview, frame);
}

void Window::survey(const CALayer& layer, double& nextFrame) {
  if (layer.isHidden()) return;
  for (const auto& key : layer.animationKeys()) {
    const auto* animation = layer.animation(key);
    if (animation && (animation->isRemovedOnCompletion || !std::isfinite(animation->totalDuration()))) {
      nextFrame = std::min(nextFrame, 1.0 / kDisplayRate);
    }
  }
  if (auto* preview = dynamic_cast<const avf::AVCaptureVideoPreviewLayer*>(&layer)) {
    seen_.push_back(preview);
    feedPreview(*preview);
    if (auto session = preview->session(); session && session->isRunning()) {
      double rate = 30;
      for (const auto& input : session->inputs()) {
        if (auto device = std::dynamic_pointer_cast<avf::AVCaptureDeviceInput>(input)) {
          const auto& info = device->device()->core().info;
          if (!info.stepMode && info.frameRate > 0) rate = std::min(info.frameRate, 120.0);
        }
      }
      nextFrame = std::min(nextFrame, 1.0 / rate);
    }
  }
  for (const auto& sub : layer.sublayers()) survey(*sub, nextFrame);
}

void Window::scheduleFrame(double seconds) {
  if (frameScheduled_) return;
  frameScheduled_ = true;
  std::weak_ptr<Window> weak = weak_from_this();
  dispatch::DispatchQueue::main().asyncAfter(dispatch::DispatchTime::now() + seconds, [weak] {
    if (auto w = weak.lock()) w->frameScheduled_ = false;
    // The block itself is main-queue work: the main loop's before-waiting
    // point redraws every window next.
  });
}

void Window::update() {
  if (!sdl_) return;
  auto view = view_.lock();
  if (!view) {
    destroy();
    return;
  }
  // A window resized by its host: the desktop window follows.
  const auto size = view->bounds().size;
  const int w = static_cast<int>(std::ceil(size.width * scale_ - 1e-6));
  const int h = static_cast<int>(std::ceil(size.height * scale_ - 1e-6));
  if (w >= 1 && h >= 1 && w <= 16384 && h <= 16384 && (w != width_ || h != height_)) {
    width_ = w, height_ = h;
    SDL_SetWindowSize(sdl_, w, h);
    pixels_.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4, 0);
  }
  // Running animations and live previews (whose new frames go to the
  // renderer) decide when to look again.
  view->layoutIfNeeded();
  double nextFrame = 1e9;
  seen_.clear();
  survey(*view->layer(), nextFrame);
  for (auto it = shownSamples_.begin(); it != shownSamples_.end();) {
    it = std::find(seen_.begin(), seen_.end(), it->first) == seen_.end() ? shownSamples_.erase(it)
                                                                         : std::next(it);
  }
  ++activity_.looks;
  const RenderBuffer buffer{pixels_.data(), width_, height_, width_ * 4};
  auto rects = renderer_->render(*view, scale_, buffer);
  if (!rects.empty()) present(rects);
  if (nextFrame < 1e9) scheduleFrame(nextFrame);
}

void Window::present(const std::vector<CGRect>& rects) {
  SDL_Surface* surface = SDL_GetWindowSurface(sdl_);
  if (!surface || surface->w < width_ || surface->h < height_) return presentAll();
  std::vector<SDL_Rect> areas;
  std::uint64_t pixels = 0;
  if (SDL_MUSTLOCK(surface)) SDL_LockSurface(surface);
  for (const auto& r : rects) {
    const int x0 = std::clamp(static_cast<int>(std::floor(r.origin.x * scale_)), 0, width_);
    const int y0 = std::clamp(static_cast<int>(std::floor(r.origin.y * scale_)), 0, height_);
    const int x1 = std::clamp(static_cast<int>(std::ceil((r.origin.x + r.size.width) * scale_)), 0, width_);
    const int y1 = std::clamp(static_cast<int>(std::ceil((r.origin.y + r.size.height) * scale_)), 0, height_);
    if (x1 <= x0 || y1 <= y0) continue;
    const auto* from =
        pixels_.data() + static_cast<std::size_t>(y0) * width_ * 4 + static_cast<std::size_t>(x0) * 4;
    auto* to = static_cast<std::uint8_t*>(surface->pixels) + static_cast<std::size_t>(y0) * surface->pitch +
               static_cast<std::size_t>(x0) * surface->format->BytesPerPixel;
    SDL_ConvertPixels(x1 - x0, y1 - y0, SDL_PIXELFORMAT_ARGB8888, from, width_ * 4, surface->format->format,
                      to, surface->pitch);
    areas.push_back({x0, y0, x1 - x0, y1 - y0});
    pixels += static_cast<std::uint64_t>(x1 - x0) * static_cast<std::uint64_t>(y1 - y0);
  }
  if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  if (areas.empty()) return;
  SDL_UpdateWindowSurfaceRects(sdl_, areas.data(), static_cast<int>(areas.size()));
  ++activity_.redraws;
  activity_.pixelsRedrawn += pixels;
  activity_.lastPixelsRedrawn = pixels;
}

void Window::presentAll() {
  if (!sdl_) return;
  SDL_Surface* surface = SDL_GetWindowSurface(sdl_);
  if (!surface) return;
  if (SDL_MUSTLOCK(surface)) SDL_LockSurface(surface);
  const int w = std::min(width_, surface->w), h = std::min(height_, surface->h);
  SDL_ConvertPixels(w, h, SDL_PIXELFORMAT_ARGB8888, pixels_.data(), width_ * 4, surface->format->format,
                    surface->pixels, surface->pitch);
  if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  SDL_UpdateWindowSurface(sdl_);
}

// --- The table -----------------------------------------------------------------

// Handles stay for the process (a closed window is a closed handle), so the
// platform library may ask about any handle it was given.
struct Handle {
  std::shared_ptr<Window> window;
};

void* show(const std::shared_ptr<UIWindow>& view, const DesktopWindowOptions& options, std::string& error) {
  auto& desktop = Desktop::shared();
  if (!desktop.start(error)) return nullptr;
  double scale = options.scale;
  if (!(scale > 0) || !std::isfinite(scale)) {
    scale = 2;
    SDL_Rect usable;
    if (SDL_GetDisplayUsableBounds(0, &usable) == 0 &&
        (view->bounds().size.height * 2 > usable.h || view->bounds().size.width * 2 > usable.w)) {
      scale = 1;
    }
  }
  auto window = std::make_shared<Window>(view, std::min(scale, 8.0));
  if (!window->open(options.title, error)) return nullptr;
  desktop.add(window);
  window->update();
  return new Handle{window};
}

bool isOpen(void* handle) { return static_cast<Handle*>(handle)->window->isOpen(); }
void close(void* handle) { static_cast<Handle*>(handle)->window->destroy(); }
DesktopWindowActivity activity(void* handle) { return static_cast<Handle*>(handle)->window->activity(); }

const detail::WindowPlugin kPlugin = [] {
  detail::WindowPlugin p;
  p.show = show;
  p.isOpen = isOpen;
  p.close = close;
  p.activity = activity;
  return p;
}();

}  // namespace

}  // namespace uikit::desktop

extern "C" __attribute__((visibility("default"))) const uikit::detail::WindowPlugin* morvik_window_plugin() {
  return &uikit::desktop::kPlugin;
}
