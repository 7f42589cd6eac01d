// Finding the SDK's resource bundle ("MorvikVerifyPackage_MorvikVerifyPackage.bundle").
//
// Two lookups with different search lists: resourceBundle() for the colour
// asset, imageBundle() for the SDK's images. Each is computed once per
// process on first use (from any thread; concurrent first calls search once)
// and never changes afterwards.
#pragma once

#include <morvik/platform/foundation/Bundle.h>
#include <morvik/platform/foundation/URL.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace morvik {

inline constexpr const char* kResourceBundleBaseName = "MorvikVerifyPackage_MorvikVerifyPackage";
inline constexpr const char* kResourceBundleExtension = "bundle";
inline constexpr const char* kResourceBundleFileName = "MorvikVerifyPackage_MorvikVerifyPackage.bundle";

// The directories the searches look in, taken from the running process or,
// in tests, made up.
struct BundleSearchPlaces {
  std::optional<foundation::URL> mainResourceURL;
  std::optional<foundation::URL> mainBundleURL;
  // The bundle that holds the SDK's code (the library's folder).
  std::shared_ptr<foundation::Bundle> classBundle;
};

// The places of this process: the executable's folder and the folder of
// libmorvik_verify.
BundleSearchPlaces currentBundleSearchPlaces();

// The searches themselves; pure apart from reading the file system and, for
// a missing resource bundle, one console line.
//
// resourceBundle: main resourceURL, class resourceURL, main bundleURL. When
// none holds the bundle, prints "unable to find bundle named
// MorvikVerifyPackage_MorvikVerifyPackage" and answers the class bundle, so
// a colour lookup in it fails softly instead of stopping the host.
std::shared_ptr<foundation::Bundle> searchResourceBundle(const BundleSearchPlaces& places);
// imageBundle: as above, then three and two levels above the class
// resourceURL, then the class bundle's own resource lookups, then the class
// bundle itself (the main bundle when even that is unknown).
std::shared_ptr<foundation::Bundle> searchImageBundle(const BundleSearchPlaces& places);

// Holds the two once-computed answers over a source of search places.
class ResourceBundleLookup {
 public:
  using PlacesProvider = std::function<BundleSearchPlaces()>;
  explicit ResourceBundleLookup(PlacesProvider places);

  // The lookup over currentBundleSearchPlaces(), kept for the process.
  static ResourceBundleLookup& shared();

  std::shared_ptr<foundation::Bundle> resourceBundle();
  std::shared_ptr<foundation::Bundle> imageBundle();

 private:
  PlacesProvider places_;
  std::once_flag resourceOnce_, imageOnce_;
  std::shared_ptr<foundation::Bundle> resource_, image_;
};

// The SDK's two lookups (ResourceBundleLookup::shared()).
std::shared_ptr<foundation::Bundle> resourceBundle();
std::shared_ptr<foundation::Bundle> imageBundle();

}  // namespace morvik
