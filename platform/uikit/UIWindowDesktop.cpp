#include "morvik/platform/uikit/UIWindowDesktop.h"

#include <cstdio>
#include <mutex>
#include <unordered_map>

#include "foundation/PluginLoader.h"
#include "morvik/platform/dispatch/Dispatch.h"
#include "morvik/platform/uikit/UIWindow.h"
#include "uikit/WindowPlugin.h"

namespace uikit {

namespace {

const detail::WindowPlugin* windowPlugin() {
  static const detail::WindowPlugin* plugin = [] {
    constexpr const char* kName = "libmorvik_platform_window.so";
    void* handle = foundation::detail::loadPlugin(kName);
    auto entry = reinterpret_cast<MorvikWindowPluginEntry>(
        foundation::detail::pluginSymbol(handle, "morvik_window_plugin"));
    const detail::WindowPlugin* p = entry ? entry() : nullptr;
    if (!p || p->abi != detail::WindowPlugin::kAbi) {
      std::fprintf(stderr, "[Window] %s could not be loaded: windows are not shown on the desktop\n", kName);
      return static_cast<const detail::WindowPlugin*>(nullptr);
    }
    return p;
  }();
  return plugin;
}

// Shown windows and their plugin handles (main thread only).
std::unordered_map<const UIWindow*, void*>& shown() {
  static auto* windows = new std::unordered_map<const UIWindow*, void*>();
  return *windows;
}

void* handleOf(const UIWindow& window) {
  auto it = shown().find(&window);
  return it == shown().end() ? nullptr : it->second;
}

}  // namespace

bool showOnDesktop(const std::shared_ptr<UIWindow>& window, const DesktopWindowOptions& options) {
  dispatch::assertMainThread("showOnDesktop");
  if (!window) return false;
  if (void* h = handleOf(*window); h && windowPlugin()->isOpen(h)) return true;
  const auto* plugin = windowPlugin();
  if (!plugin) return false;
  std::string error;
  void* handle = plugin->show(window, options, error);
  if (!handle) {
    std::fprintf(stderr, "[Window] cannot show a window on the desktop: %s\n", error.c_str());
    return false;
  }
  if (void* old = handleOf(*window)) plugin->close(old);
  shown()[window.get()] = handle;
  return true;
}

bool isOnDesktop(const UIWindow& window) {
  void* h = handleOf(window);
  return h && windowPlugin()->isOpen(h);
}

void removeFromDesktop(const UIWindow& window) {
  dispatch::assertMainThread("removeFromDesktop");
  if (void* h = handleOf(window)) windowPlugin()->close(h);
}

DesktopWindowActivity desktopWindowActivity(const UIWindow& window) {
  void* h = handleOf(window);
  return h ? windowPlugin()->activity(h) : DesktopWindowActivity{};
}

}  // namespace uikit
