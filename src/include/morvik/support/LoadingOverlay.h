// LoadingOverlay: a small rounded square with a spinning arc, an optional
// one-line title and an optional centre image, shown in the middle of the
// screen over the application's key window, above a full-window cover view
// that takes the touches.
//
// Driven through class-level calls on one shared instance (show, hide,
// setConfig). Main thread only: debug builds abort when a call comes from
// another thread; other threads hop to the main queue first. Animation
// completions run on the main queue (on the dispatch clock).
//
// Ownership: the overlay owns its subviews; while shown, the key window owns
// the overlay and the cover view. The shared instance lives for the process.
#pragma once

#include <morvik/Export.h>
#include <morvik/platform/foundation/NotificationCenter.h>
#include <morvik/platform/quartz/CAShapeLayer.h>
#include <morvik/platform/uikit/UIColor.h>
#include <morvik/platform/uikit/UIFont.h>
#include <morvik/platform/uikit/UIImageView.h>
#include <morvik/platform/uikit/UILabel.h>
#include <morvik/platform/uikit/UIView.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace morvik {

class MORVIK_API LoadingOverlay : public uikit::UIView {
 public:
  using CGFloat = quartz::CGFloat;

  // The overlay's look. A plain value; any thread.
  struct Config {
    Config() = default;
    CGFloat size = 120;  // side of the square, applied by setConfig
    uikit::UIColor spinnerColor = uikit::UIColor::black();
    float spinnerLineWidth = 1.0f;
    uikit::UIColor titleTextColor = uikit::UIColor::black();
    int speed = 1;  // kept for hosts; the rotation's timing does not depend on it
    uikit::UIFont titleTextFont = uikit::UIFont::boldSystemFont(16);
    uikit::UIColor backgroundColor = uikit::UIColor::white();
    uikit::UIColor foregroundColor = uikit::UIColor::clear();  // colour of the cover view
    CGFloat foregroundAlpha = 0;
    CGFloat cornerRadius = 10;
    uikit::UIColor centerImageBackgroundColor = uikit::UIColor::white();
  };

  // The spinning arc.
  class LoadingSpinnerView : public uikit::UIView {
   public:
    explicit LoadingSpinnerView(const quartz::CGRect& frame);
    std::string className() const override { return "LoadingSpinnerView"; }

    std::optional<float> lineWidth;                         // none until set up
    std::shared_ptr<quartz::CAShapeLayer> backgroundLayer;  // the arc
    Config config;  // the defaults until the overlay's setConfig copies its own in

    void setupLayer();
    // Takes the line width and colour from `config`.
    void updateLine();
    // A ring with a tenth of a turn missing while spinning, closed otherwise.
    void drawArc(bool spinning);
    // Draws the open arc and adds an endless rotation under "rotationAnimation".
    void startSpinning();

   protected:
    void boundsDidChange() override;  // keeps the arc layer on the bounds
  };

  // --- Class-level calls: main thread only ---
  // Same as show(nullopt, "", animated).
  static void show(bool animated);
  // Shows the overlay over the key window (or updates it when already shown):
  // title none hides the label; imageName names an image of the host's main
  // bundle (no match: the image view shows only its background). Without a
  // key window nothing happens. Each call registers one orientation observer
  // on the default notification centre; hide() removes them all.
  static void show(std::optional<std::string> title, const std::string& imageName, bool animated);
  // Removes every observer registration of the shared overlay, then stops it
  // (fading out over 0.3 s when the last show was animated).
  static void hide();
  // Stores the look and resizes the overlay to config.size at once.
  static void setConfig(const Config& config);

  // The instance every class-level call works on, created on first use.
  static const std::shared_ptr<LoadingOverlay>& shared();

  explicit LoadingOverlay(const quartz::CGRect& frame);
  std::string className() const override { return "LoadingOverlay"; }

  // Setting the frame re-lays the content out.
  void setFrame(const quartz::CGRect& frame) override;

  std::shared_ptr<uikit::UIView> coverView;
  std::shared_ptr<uikit::UIImageView> bgImageView;
  std::shared_ptr<uikit::UILabel> titleLabel;
  std::shared_ptr<LoadingSpinnerView> loadingView;
  bool animated = true;
  std::optional<std::string> title;
  Config config;

  // Spins and makes the overlay visible.
  void start();
  // Makes the overlay invisible, then detaches it with its cover and image.
  void stop();
  void layoutContent();
  quartz::CGRect centerImageFrame() const;
  // Re-centres the overlay and fits the cover view to the screen.
  void rotated(const foundation::Notification& notification);

 private:
  void removeFromWindow();
  // Bumped by every stop() and every show that cancels a pending removal, so
  // that a fade-out finishing after a later show leaves the overlay alone.
  std::uint64_t stopGeneration_ = 0;
  bool removalPending_ = false;
};

}  // namespace morvik
