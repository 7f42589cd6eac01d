#include <dlfcn.h>
#include <limits.h>
#include <morvik/platform/foundation/Bundle.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

namespace foundation {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> canonicalDirectory(const std::string& path) {
  if (path.empty()) return std::nullopt;
  std::error_code ec;
  const auto canonical = fs::canonical(path, ec);
  if (ec || !fs::is_directory(canonical, ec) || ec) return std::nullopt;
  return canonical.string();
}

std::optional<std::string> selfExecutable() {
  std::error_code ec;
  const auto exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return std::nullopt;
  return exe.string();
}

bool isPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

}  // namespace

Bundle::Bundle(Key, std::string canonicalPath)
    : path_(std::move(canonicalPath)), url_(URL::fileURLWithPath(path_, true)) {}

std::shared_ptr<Bundle> Bundle::open(std::string_view path) {
  const auto canonical = canonicalDirectory(std::string(path));
  if (!canonical) return nullptr;
  // One object per directory for the life of the process, like the platform's
  // cache.
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<Bundle>> cache;
  std::lock_guard lock(mutex);
  auto& slot = cache[*canonical];
  if (!slot) slot = std::make_shared<Bundle>(Key{}, *canonical);
  return slot;
}

std::shared_ptr<Bundle> Bundle::open(const URL& url) {
  if (!url.isFileURL()) return nullptr;
  return open(url.path());
}

std::shared_ptr<Bundle> Bundle::main() {
  const auto exe = selfExecutable();
  if (!exe) return nullptr;
  return open(fs::path(*exe).parent_path().string());
}

std::shared_ptr<Bundle> Bundle::containing(const void* address) {
  Dl_info info{};
  if (address == nullptr || ::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return nullptr;
  std::string file = info.dli_fname;
  // The main program may be reported by the name it was started with (or not at
  // all).
  std::error_code ec;
  if (file.empty() || file.find('/') == std::string::npos || !fs::exists(file, ec)) {
    const auto exe = selfExecutable();
    if (!exe) return nullptr;
    file = *exe;
  }
  const auto canonical = fs::canonical(file, ec);
  if (ec) return nullptr;
  return open(canonical.parent_path().string());
}

std::optional<std::string> Bundle::path(std::string_view forResource, std::string_view ofType) const {
  if (!isPlainName(forResource)) return std::nullopt;
  std::string file(forResource);
  if (!ofType.empty()) {
    if (ofType.find('/') != std::string_view::npos || ofType.find('\0') != std::string_view::npos) {
      return std::nullopt;
    }
    file += ".";
    file += ofType;
  }
  const std::string full = path_ + "/" + file;
  std::error_code ec;
  if (!fs::exists(full, ec)) return std::nullopt;
  return full;
}

std::optional<URL> Bundle::url(std::string_view forResource, std::string_view withExtension) const {
  const auto p = path(forResource, withExtension);
  if (!p) return std::nullopt;
  return URL::fileURLWithPath(*p);
}

}  // namespace foundation
