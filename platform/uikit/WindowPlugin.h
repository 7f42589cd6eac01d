// Internal: the table of entry points of the window plugin
// (libmorvik_platform_window.so, SDL2), which shows UIWindows on the desktop
// and draws them through the rendering plugin. It exports one C function,
// morvik_window_plugin(), answering this table.
#pragma once

#include <memory>
#include <string>

#include "morvik/platform/uikit/UIWindowDesktop.h"

namespace uikit::detail {

struct WindowPlugin {
  static constexpr int kAbi = 1;
  int abi = kAbi;
  // A handle for the shown window, or null with `error` set.
  void* (*show)(const std::shared_ptr<UIWindow>& window, const DesktopWindowOptions& options,
                std::string& error) = nullptr;
  bool (*isOpen)(void* handle) = nullptr;
  void (*close)(void* handle) = nullptr;
  DesktopWindowActivity (*activity)(void* handle) = nullptr;
};

}  // namespace uikit::detail

extern "C" {
using MorvikWindowPluginEntry = const uikit::detail::WindowPlugin* (*)();
}
