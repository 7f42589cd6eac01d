// Bundle: a directory of resources, looked up by name.
#pragma once

#include <morvik/platform/foundation/URL.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace foundation {

// Our bundles are plain directories, flat: resources sit directly inside, so
// resourceURL is the bundle's own directory.
//
// Identity: opening the same directory (after resolving symbolic links, "."
// and "..") answers the same object for the life of the process, as the
// platform's bundle cache does. Opening still checks that the directory
// exists each time: a directory that has gone away opens as null.
//
// Thread-safe: every call may come from any thread. Lookups read the file
// system afresh on each call.
class Bundle : public std::enable_shared_from_this<Bundle> {
 public:
  // Bundle(url:): null unless the URL is a file URL naming an existing directory.
  static std::shared_ptr<Bundle> open(const URL& url);
  // Bundle(path:): null unless the path names an existing directory.
  static std::shared_ptr<Bundle> open(std::string_view path);

  // The folder of the running executable (/proc/self/exe). Null only when
  // that cannot be read.
  static std::shared_ptr<Bundle> main();
  // The folder of the shared library (or executable) whose code or data holds
  // the address: the equivalent of the bundle for a class. Null when the
  // address belongs to no loaded object.
  static std::shared_ptr<Bundle> containing(const void* address);

  const URL& bundleURL() const { return url_; }
  std::optional<URL> resourceURL() const { return url_; }
  const std::string& bundlePath() const { return path_; }
  std::optional<std::string> resourcePath() const { return path_; }

  // The URL of "<name>.<ext>" (or "<name>" when ext is empty) when such a file
  // or directory exists in the bundle; nothing otherwise, and nothing for a
  // name that holds "/" or is "." or "..", so lookups never leave the bundle.
  std::optional<URL> url(std::string_view forResource, std::string_view withExtension = "") const;
  std::optional<std::string> path(std::string_view forResource, std::string_view ofType = "") const;

  // Public for make_shared; use open().
  struct Key {};
  Bundle(Key, std::string canonicalPath);

 private:
  std::string path_;
  URL url_;
};

}  // namespace foundation
