#include "morvik/platform/uikit/UIBarButtonItem.h"

#include "morvik/platform/dispatch/Dispatch.h"

namespace uikit {

UIBarButtonItem::UIBarButtonItem(SystemItem barButtonSystemItem, const std::shared_ptr<void>& target,
                                 Action action)
    : systemItem_(barButtonSystemItem),
      target_(target),
      hasTarget_(target != nullptr),
      action_(std::move(action)) {
  if (barButtonSystemItem == SystemItem::done) style = Style::done;
}

UIBarButtonItem::UIBarButtonItem(std::optional<std::string> title_, Style style_,
                                 const std::shared_ptr<void>& target, Action action)
    : title(std::move(title_)),
      style(style_),
      target_(target),
      hasTarget_(target != nullptr),
      action_(std::move(action)) {}

UIBarButtonItem::UIBarButtonItem(std::shared_ptr<UIImage> image_, Style style_,
                                 const std::shared_ptr<void>& target, Action action)
    : image(std::move(image_)),
      style(style_),
      target_(target),
      hasTarget_(target != nullptr),
      action_(std::move(action)) {}

bool UIBarButtonItem::sendAction() {
#ifdef MORVIK_DEBUG_CHECKS
  dispatch::assertMainThread("UIBarButtonItem::sendAction");
#endif
  if (!isEnabled || !action_) return false;
  std::shared_ptr<void> target = target_.lock();
  if (hasTarget_ && !target) return false;
  auto keep = weak_from_this().lock();
  auto action = action_;
  action();
  return true;
}

std::string toString(UIBarButtonItem::SystemItem item) {
  using S = UIBarButtonItem::SystemItem;
  switch (item) {
    case S::done:
      return "done";
    case S::cancel:
      return "cancel";
    case S::edit:
      return "edit";
    case S::save:
      return "save";
    case S::add:
      return "add";
    case S::flexibleSpace:
      return "flexibleSpace";
    case S::fixedSpace:
      return "fixedSpace";
    case S::compose:
      return "compose";
    case S::reply:
      return "reply";
    case S::action:
      return "action";
    case S::organize:
      return "organize";
    case S::bookmarks:
      return "bookmarks";
    case S::search:
      return "search";
    case S::refresh:
      return "refresh";
    case S::stop:
      return "stop";
    case S::camera:
      return "camera";
    case S::trash:
      return "trash";
    case S::play:
      return "play";
    case S::pause:
      return "pause";
    case S::rewind:
      return "rewind";
    case S::fastForward:
      return "fastForward";
    case S::undo:
      return "undo";
    case S::redo:
      return "redo";
    case S::close:
      return "close";
  }
  return "?";
}

}  // namespace uikit
