// UIImage: an immutable image made of a bitmap (quartz::CGImage), a scale
// (pixels per point) and an orientation telling how the stored pixels are to
// be shown. Reference type: share it through std::shared_ptr; it never
// changes after creation, so any thread may read or encode it.
//
// Failures are values: constructors named after the platform's failable
// initialisers answer null, encoders answer nothing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <morvik/platform/foundation/Bundle.h>
#include <morvik/platform/foundation/Data.h>
#include <morvik/platform/quartz/CGGeometry.h>
#include <morvik/platform/quartz/CGImage.h>
#include <morvik/platform/uikit/UIColor.h>
#include <morvik/platform/uikit/UIFont.h>

namespace uikit {

class UITraitCollection;

class UIImage : public std::enable_shared_from_this<UIImage> {
 public:
  // The platform's raw values 0..7 (not the EXIF numbering).
  enum class Orientation { up, down, left, right, upMirrored, downMirrored, leftMirrored, rightMirrored };
  enum class RenderingMode { automatic, alwaysOriginal, alwaysTemplate };

  // Size and weight of a system symbol.
  struct SymbolConfiguration {
    quartz::CGFloat pointSize = 17;
    UIFont::Weight weight = UIFont::Weight::regular;
    friend bool operator==(const SymbolConfiguration&, const SymbolConfiguration&) = default;
  };

  // Wraps a bitmap (UIImage(cgImage:scale:orientation:)); null when the
  // bitmap is null or the scale is not positive.
  static std::shared_ptr<UIImage> make(quartz::CGImageRef cgImage, quartz::CGFloat scale = 1,
                                       Orientation orientation = Orientation::up);

  // A PNG from a bundle directory: `<name>.png`, else `<name>@2x.png`
  // (scale 2), else `<name>@3x.png` (scale 3); a name that already ends in
  // ".png" is used as it is. Names may hold spaces and '#'. Null when nothing
  // decodes. The traits are accepted for the platform's signature only.
  static std::shared_ptr<UIImage> named(const std::string& name, const std::filesystem::path& bundleDirectory,
                                        const UITraitCollection* compatibleWith = nullptr);
  // The same from a bundle's resource directory; a null bundle means the
  // main bundle (the running executable's folder).
  static std::shared_ptr<UIImage> named(const std::string& name,
                                        const std::shared_ptr<foundation::Bundle>& in,
                                        const UITraitCollection* compatibleWith = nullptr);
  // From the main bundle (UIImage(named:)).
  static std::shared_ptr<UIImage> named(const std::string& name);

  // A system symbol drawn as a template image (black on transparent, meant
  // to be tinted): a square of 1.2 x the configuration's point size, at scale 3.
  // Known names: "chevron.right", "chevron.left", "checkmark.circle.fill",
  // "person.crop.circle", "camera.fill", "bolt.fill". Null for any other name.
  static std::shared_ptr<UIImage> systemName(const std::string& name);
  static std::shared_ptr<UIImage> systemName(const std::string& name,
                                             const SymbolConfiguration& withConfiguration);

  // Decodes JPEG or PNG bytes at scale 1. A JPEG's EXIF orientation tag
  // (APP1) is honoured the platform's way: pixels stay as stored and
  // imageOrientation tells how to show them. Null when undecodable.
  static std::shared_ptr<UIImage> fromData(const foundation::Data& data, quartz::CGFloat scale = 1);
  // Reads and decodes a file; null when unreadable or undecodable.
  static std::shared_ptr<UIImage> contentsOfFile(const std::filesystem::path& path);

  UIImage(quartz::CGImageRef cgImage, quartz::CGFloat scale, Orientation orientation);

  // Size in points, as shown: pixel size / scale, width and height swapped
  // for the left and right orientations.
  quartz::CGSize size() const;
  quartz::CGFloat scale() const { return scale_; }
  Orientation imageOrientation() const { return orientation_; }
  quartz::CGImageRef cgImage() const { return cgImage_; }
  RenderingMode renderingMode() const { return renderingMode_; }
  bool isSymbolImage() const { return !symbolName_.empty(); }
  // The system name a symbol image was made from; empty otherwise.
  const std::string& symbolName() const { return symbolName_; }

  // A copy sharing the pixels with another rendering mode.
  std::shared_ptr<UIImage> withRenderingMode(RenderingMode mode) const;
  // The image's alpha filled with the colour (always original rendering).
  std::shared_ptr<UIImage> withTintColor(const UIColor& color) const;

  // JPEG bytes of the pixels as stored, quality 0..1 (clamped) mapped to
  // OpenCV's 0..100. When the orientation is not up, an APP1 segment with the
  // EXIF orientation tag follows SOI, so decoding restores the orientation.
  // Transparent pixels are written over black. Nothing for an empty image.
  std::optional<foundation::Data> jpegData(quartz::CGFloat compressionQuality) const;
  // PNG bytes of the image redrawn upright (PNG carries no orientation here);
  // alpha is kept.
  std::optional<foundation::Data> pngData() const;

  // This image drawn upright (orientation up, same scale and size); itself
  // when already up.
  std::shared_ptr<UIImage> uprightImage() const;

  // Draws into the current image context (UIGraphics.h), oriented; does
  // nothing without one.
  void draw(const quartz::CGRect& in) const;
  void draw(const quartz::CGPoint& at) const;

 private:
  quartz::CGImageRef cgImage_;
  quartz::CGFloat scale_;
  Orientation orientation_;
  RenderingMode renderingMode_ = RenderingMode::automatic;
  std::string symbolName_;
};

// EXIF orientation (1..8) for a UIImage orientation and back.
quartz::CGImagePropertyOrientation cgOrientation(UIImage::Orientation orientation);
UIImage::Orientation uiOrientation(quartz::CGImagePropertyOrientation orientation);

}  // namespace uikit
