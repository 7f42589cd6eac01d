// UIBarButtonItem and UINavigationItem: what a controller shows in its
// navigation bar. Main thread only.
//
// The item's target is held weakly; a null target means the action has no
// owner to outlive. sendAction() is how a host or a test taps the item.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <morvik/platform/uikit/UIColor.h>
#include <morvik/platform/uikit/UIImage.h>

namespace uikit {

class UIBarButtonItem : public std::enable_shared_from_this<UIBarButtonItem> {
 public:
  enum class SystemItem {
    done,
    cancel,
    edit,
    save,
    add,
    flexibleSpace,
    fixedSpace,
    compose,
    reply,
    action,
    organize,
    bookmarks,
    search,
    refresh,
    stop,
    camera,
    trash,
    play,
    pause,
    rewind,
    fastForward,
    undo,
    redo,
    close
  };
  enum class Style { plain, done };
  using Action = std::function<void()>;

  UIBarButtonItem(SystemItem barButtonSystemItem, const std::shared_ptr<void>& target, Action action);
  UIBarButtonItem(std::optional<std::string> title, Style style, const std::shared_ptr<void>& target,
                  Action action);
  UIBarButtonItem(std::shared_ptr<UIImage> image, Style style, const std::shared_ptr<void>& target,
                  Action action);

  std::optional<SystemItem> systemItem() const { return systemItem_; }
  std::optional<std::string> title;
  std::shared_ptr<UIImage> image;
  Style style = Style::plain;
  std::optional<UIColor> tintColor;
  bool isEnabled = true;

  // Runs the action unless the item is disabled or its target has gone;
  // answers whether it ran.
  bool sendAction();
  bool hasTarget() const { return hasTarget_; }

 private:
  std::optional<SystemItem> systemItem_;
  std::weak_ptr<void> target_;
  bool hasTarget_ = false;
  Action action_;
};

std::string toString(UIBarButtonItem::SystemItem item);

class UINavigationItem {
 public:
  std::optional<std::string> title;
  std::shared_ptr<UIBarButtonItem> leftBarButtonItem;
  std::shared_ptr<UIBarButtonItem> rightBarButtonItem;
  bool hidesBackButton = false;
};

}  // namespace uikit
