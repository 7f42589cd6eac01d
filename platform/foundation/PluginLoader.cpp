#include "foundation/PluginLoader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace foundation::detail {

namespace {

// Loading a plugin while the process exits runs its dependencies'
// initialisers against a runtime that is being torn down, which crashed a
// camera thread that asked for the face scan as a test ended. So once exit
// begins no plugin is loaded, and exit waits for a load in progress. Never
// destroyed: worker threads may still ask during exit. Recursive, in case a
// plugin's initialiser asks for another plugin.
std::recursive_mutex& loadLock() {
  static auto* lock = new std::recursive_mutex;
  return *lock;
}
bool processExiting = false;  // guarded by loadLock()

void refuseLoadsFromNowOn() {
  std::lock_guard lock(loadLock());
  processExiting = true;
}

// Registered when the library loads, so that a first load asked for while
// the process already exits is refused too...
const bool refusedAtExit = std::atexit(refuseLoadsFromNowOn) == 0;

}  // namespace

void* loadPlugin(const char* fileName) {
  // ...and again on first use, after the host's and the libraries' lazily
  // made objects, so that exit stops loads before their destructors run.
  static const bool refusedEarlier = std::atexit(refuseLoadsFromNowOn) == 0;
  (void)refusedEarlier;
  (void)refusedAtExit;
  std::lock_guard lock(loadLock());
  if (processExiting) return nullptr;
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
