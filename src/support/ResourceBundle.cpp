#include "support/ResourceBundle.h"

#include <morvik/platform/foundation/Console.h>

#include "morvik/support/RuntimeAdditions.h"

namespace morvik {
namespace {

using foundation::Bundle;
using foundation::URL;

// Anchors the class bundle: its address lies in libmorvik_verify's code.
struct BundleFinder {
  static void anchor() {}
};

std::shared_ptr<Bundle> firstBundleIn(const std::vector<std::optional<URL>>& candidates) {
  for (const auto& candidate : candidates) {
    if (!candidate) continue;
    if (auto bundle = Bundle::open(candidate->appendingPathComponent(kResourceBundleFileName))) return bundle;
  }
  return nullptr;
}

std::optional<URL> classResourceURL(const BundleSearchPlaces& places) {
  if (!places.classBundle) return std::nullopt;
  return places.classBundle->resourceURL();
}

}  // namespace

BundleSearchPlaces currentBundleSearchPlaces() {
  BundleSearchPlaces places;
  if (const auto main = Bundle::main()) {
    places.mainResourceURL = main->resourceURL();
    places.mainBundleURL = main->bundleURL();
  }
  places.classBundle = Bundle::containing(reinterpret_cast<const void*>(&BundleFinder::anchor));
  return places;
}

std::shared_ptr<Bundle> searchResourceBundle(const BundleSearchPlaces& places) {
  if (auto bundle = firstBundleIn({places.mainResourceURL, classResourceURL(places), places.mainBundleURL})) {
    return bundle;
  }
  // A missing bundle is a packaging mistake of the host; say so and let the
  // colour lookup fail softly rather than stopping the host's process.
  foundation::print(std::string("unable to find bundle named ") + kResourceBundleBaseName);
  return places.classBundle;
}

std::shared_ptr<Bundle> searchImageBundle(const BundleSearchPlaces& places) {
  const auto classResource = classResourceURL(places);
  std::optional<URL> threeUp, twoUp;
  if (classResource) {
    twoUp = classResource->deletingLastPathComponent().deletingLastPathComponent();
    threeUp = twoUp->deletingLastPathComponent();
  }
  if (auto bundle =
          firstBundleIn({places.mainResourceURL, classResource, places.mainBundleURL, threeUp, twoUp})) {
    return bundle;
  }
  if (places.classBundle) {
    if (const auto url = places.classBundle->url(kResourceBundleBaseName, kResourceBundleExtension)) {
      if (auto bundle = Bundle::open(*url)) return bundle;
    }
    if (const auto path = places.classBundle->path(kResourceBundleBaseName, kResourceBundleExtension)) {
      if (auto bundle = Bundle::open(*path)) return bundle;
    }
    return places.classBundle;
  }
  // Without a class bundle (the library's folder could not be found) the
  // main bundle is the nearest thing: image lookups then simply find nothing.
  return places.mainBundleURL ? Bundle::open(*places.mainBundleURL) : nullptr;
}

ResourceBundleLookup::ResourceBundleLookup(PlacesProvider places) : places_(std::move(places)) {}

ResourceBundleLookup& ResourceBundleLookup::shared() {
  // Every screen looks its images and colours up here: a way into the SDK.
  loadRuntimeAdditions();
  static ResourceBundleLookup* const lookup = new ResourceBundleLookup(&currentBundleSearchPlaces);
  return *lookup;
}

std::shared_ptr<Bundle> ResourceBundleLookup::resourceBundle() {
  std::call_once(resourceOnce_, [this] { resource_ = searchResourceBundle(places_()); });
  return resource_;
}

std::shared_ptr<Bundle> ResourceBundleLookup::imageBundle() {
  std::call_once(imageOnce_, [this] { image_ = searchImageBundle(places_()); });
  return image_;
}

std::shared_ptr<Bundle> resourceBundle() { return ResourceBundleLookup::shared().resourceBundle(); }
std::shared_ptr<Bundle> imageBundle() { return ResourceBundleLookup::shared().imageBundle(); }

}  // namespace morvik
