// Utility: functions the flows and the HTTP client share.
#pragma once

#include <morvik/platform/foundation/AttributedString.h>
#include <morvik/platform/foundation/Bundle.h>
#include <morvik/platform/uikit/UIFont.h>
#include <morvik/platform/uikit/UIViewController.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "morvik/api/models/Response.h"
#include "morvik/support/ConnectivityMonitor.h"
#include "morvik/support/LoadingOverlay.h"

namespace morvik {

class Utility {
 public:
  Utility() = delete;

  // Queues the block on the main queue, also when already on the main thread.
  // Any thread.
  static void runOnMain(std::function<void()> block);

  // Show and hide the loading overlay with the SDK's own look. Any thread:
  // the work runs later on the main queue, in the order of the calls, so a
  // hideLoader right after a showLoader hides what it showed.
  static void showLoader();
  static void hideLoader();
  // The SDK's overlay look, built afresh for every showLoader.
  static LoadingOverlay::Config loaderConfig();

  // A one-shot reading of the default route's reachability. A monitor that
  // cannot be created counts as connected. Caller's thread, but not the
  // monitor's own serial queue.
  static bool isConnectedToNetwork();
  // The same over a monitor from `makeMonitor` (which may throw
  // ConnectivityError); for tests that cannot make creation fail otherwise.
  static bool isConnectedToNetwork(const std::function<std::shared_ptr<ConnectivityMonitor>()>& makeMonitor);

  // Presents the "MorvikVerify" no-internet alert (one "Ok" action), animated,
  // from the topmost controller presented above `on` (`on` itself when it
  // presents nothing). Main thread only.
  static void showNoInternetAlert(uikit::UIViewController& on);

  // The signed-in user's record from the standard user defaults entry
  // "user_data", read afresh on every call; nothing when the entry is
  // missing, is not a dictionary, holds values JSON cannot carry (data,
  // dates) or does not decode as a LogInResponse. Caller's thread.
  static std::optional<LogInResponse> getUserData();
};

inline constexpr const char* kNoInternetAlertTitle = "MorvikVerify";
inline constexpr const char* kNoInternetAlertMessage =
    "It seems you are not connected to the internet. Kindly connect and try again";

// HTML (UTF-8) to attributed text. Nothing, after one console line with the
// error, when the HTML cannot be read. Any thread.
std::optional<foundation::NSAttributedString> convertHtmlToNSAttributedString(std::string_view text);
// The same with the body styled first: font family and size from `font`,
// then colour, line height (px) and alignment copied in as given. Without a
// font: convertHtmlToNSAttributedString(text).
std::optional<foundation::NSAttributedString> convertHtmlToAttributedStringWithCSS(
    std::string_view text, const std::optional<uikit::UIFont>& font, std::string_view csscolor,
    int lineheight, std::string_view csstextalign);
// The style prefix convertHtmlToAttributedStringWithCSS puts before the text.
std::string cssStylePrefix(const uikit::UIFont& font, std::string_view csscolor, int lineheight,
                           std::string_view csstextalign);

// A bundle whose localized strings may come from another bundle: when a path
// is set (setLanguageBundlePath) and a bundle opens there, lookups are
// answered by that bundle; otherwise by this one. Any thread.
class AnyLanguageBundle : public foundation::Bundle {
 public:
  // Bundle(path:) for this class: null unless the path names a directory.
  static std::shared_ptr<AnyLanguageBundle> open(std::string_view path);
  AnyLanguageBundle(Key key, std::string canonicalPath) : Bundle(key, std::move(canonicalPath)) {}

  // Looks `key` up in "<table>.strings" ("Localizable.strings" when the table
  // is empty) of the answering bundle; no match gives `value`, or the key
  // when `value` is empty.
  std::string localizedString(const std::string& forKey, const std::string& value,
                              const std::string& table) const;

  void setLanguageBundlePath(std::optional<std::string> path);
  std::optional<std::string> languageBundlePath() const;

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> languageBundlePath_;
};

// What a plain bundle answers for a localized string (see AnyLanguageBundle).
std::string localizedString(const foundation::Bundle& bundle, const std::string& forKey,
                            const std::string& value, const std::string& table);

}  // namespace morvik
