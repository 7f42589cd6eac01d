// UINib: an interface file, opened by name from a bundle, that builds a tree
// of views (and other registered objects) on demand.
//
// The file is "<name>.nib" in the bundle's resource directory, UTF-8 JSON:
//
//   {
//     "objects": [                       top-level objects, in order
//       {
//         "class": "UIView",             a class in the ClassRegistry
//         "frame": {"x": 0, "y": 0, "width": 320, "height": 80},   optional
//         "properties": {"backgroundColor": "#FF000080", "tag": 7},  optional
//         "subviews": [ { ...another object... } ]                  optional
//       }
//     ]
//   }
//
// Property values, by the type the class registered for the property:
//   Boolean  true / false            number  any JSON number
//   string   a JSON string           size    {"width": w, "height": h}
//   point    {"x": x, "y": y}        rect    {"x", "y", "width", "height"}
//   colour   "#RRGGBB" or "#RRGGBBAA" (hex), or {"red", "green", "blue"
//            [, "alpha"]} or {"white" [, "alpha"]} with components 0...1.
// Properties are set in the order the file lists them, after the object is
// made with its frame (its init(coder:)) and before its subviews are added.
// "frame" and "subviews" are allowed on views only. Other members of an
// object, and of the file, are errors, so a misspelt key does not vanish.
//
// Failures are values, never exceptions or aborts: a missing file, JSON that
// does not parse, a file not shaped as above, an unknown class, an unknown
// property, a value of the wrong type, and a file instantiated again while
// it is being instantiated on the same thread (an object made from it loads
// the same file, at once or through other files). Instantiation is all or
// nothing.
//
// Threads: opening and parsing may run on any thread; instantiate() makes
// views and so runs on the main thread.
#pragma once

#include <morvik/platform/foundation/Bundle.h>
#include <morvik/platform/foundation/Data.h>
#include <morvik/platform/uikit/ClassRegistry.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace uikit {

// What instantiate() answers: the top-level objects, or why there are none.
struct UINibInstantiation {
  std::vector<RuntimeObject> topLevelObjects;
  // Set exactly when instantiation failed (topLevelObjects is then empty).
  std::optional<std::string> error;
  bool ok() const { return !error.has_value(); }
};

class UINib {
 public:
  // UINib(nibName:bundle:): a null bundle means the main bundle. The file is
  // read and checked at once; a missing or malformed file is reported by
  // instantiate() (and by loadError()).
  static std::shared_ptr<UINib> make(const std::string& nibName, std::shared_ptr<foundation::Bundle> bundle);
  // UINib(data:bundle:): the file's contents in memory.
  static std::shared_ptr<UINib> make(const foundation::Data& data, std::shared_ptr<foundation::Bundle> bundle,
                                     std::string nibName = "(data)");
  ~UINib();

  const std::string& nibName() const { return name_; }
  // Why the file could not be read or parsed; nothing when it could.
  const std::optional<std::string>& loadError() const { return loadError_; }

  // instantiate(withOwner:options:): builds the objects anew on each call
  // through the shared ClassRegistry (or the one given). Our files have no
  // outlets or options: the owner and options are taken for the platform's
  // signature and not consulted.
  UINibInstantiation instantiate(const void* withOwner, const void* options = nullptr) const;
  UINibInstantiation instantiate(const void* withOwner, const ClassRegistry& registry) const;

 private:
  struct Parsed;
  UINib() = default;
  std::string name_;
  std::shared_ptr<foundation::Bundle> bundle_;
  std::optional<std::string> loadError_;
  std::shared_ptr<const Parsed> parsed_;
};

}  // namespace uikit
