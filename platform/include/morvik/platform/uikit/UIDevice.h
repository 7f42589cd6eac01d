// UIDevice: the device's orientation, set by a host or test. Main thread only.
//
// While orientation notifications are being generated (begin... calls
// outnumber end... calls), a change of orientation posts
// "UIDeviceOrientationDidChangeNotification" on the default
// foundation::NotificationCenter, synchronously, with the device as object.
// Turning between portrait and landscape first swaps the screen's bounds (the
// interface follows the device), so observers see the new bounds.
#pragma once

#include <memory>
#include <string>

namespace uikit {

enum class UIDeviceOrientation {
  unknown,
  portrait,
  portraitUpsideDown,
  landscapeLeft,
  landscapeRight,
  faceUp,
  faceDown
};

inline constexpr const char* UIDeviceOrientationDidChangeNotification =
    "UIDeviceOrientationDidChangeNotification";

class UIDevice : public std::enable_shared_from_this<UIDevice> {
 public:
  static UIDevice& current();

  UIDeviceOrientation orientation() const { return orientation_; }
  void setOrientation(UIDeviceOrientation orientation);
  void beginGeneratingDeviceOrientationNotifications();
  void endGeneratingDeviceOrientationNotifications();
  bool isGeneratingDeviceOrientationNotifications() const { return generating_ > 0; }

  std::string model() const { return "iPhone"; }
  std::string systemName() const { return "iOS"; }

  UIDevice() = default;

 private:
  UIDeviceOrientation orientation_ = UIDeviceOrientation::portrait;
  int generating_ = 0;
};

}  // namespace uikit
