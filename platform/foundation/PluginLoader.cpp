#include "foundation/PluginLoader.h"

#include <dlfcn.h>

#include <filesystem>

namespace foundation::detail {

void* loadPlugin(const char* fileName) {
  void* handle = nullptr;
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&loadPlugin), &self) && self.dli_fname) {
    const auto beside = std::filesystem::path(self.dli_fname).parent_path() / fileName;
    handle = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (!handle) handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
  return handle;
}

void* pluginSymbol(void* plugin, const char* name) { return plugin ? dlsym(plugin, name) : nullptr; }

}  // namespace foundation::detail
