// Internal: libraries that only some features need (video decoding, the
// accurate text engine) are built as plugins beside the platform library and
// loaded when first asked for, so a host that never uses them never loads
// their dependency trees.
#pragma once

namespace foundation::detail {

// dlopen()s the plugin with this file name from the folder of the platform
// library (the build tree and an installation both put it there), then from
// the loader's path. Null when neither works; the caller says what is missing.
// Plugins are never unloaded. Once the process has begun to exit, nothing is
// loaded (null), and exit waits for a load in progress.
void* loadPlugin(const char* fileName);

// The symbol's address in a loaded plugin, or null.
void* pluginSymbol(void* plugin, const char* name);

}  // namespace foundation::detail
