#include "api/Utility.h"

#include <morvik/platform/dispatch.h>
#include <morvik/platform/foundation/Console.h>
#include <morvik/platform/foundation/Error.h>
#include <morvik/platform/foundation/JSONSerialization.h>
#include <morvik/platform/foundation/UserDefaults.h>
#include <morvik/platform/uikit/UIAlertController.h>
#include <morvik/platform/uikit/UIApplication.h>

#include <cctype>
#include <charconv>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "morvik/api/models/JSONCoding.h"
#include "morvik/api/models/Response.h"

namespace morvik {

// ---------------------------------------------------------------------------
// Main queue and the loader

void Utility::runOnMain(std::function<void()> block) {
  if (!block) return;
  dispatch::DispatchQueue::main().async(std::move(block));
}

LoadingOverlay::Config Utility::loaderConfig() {
  const uikit::UIColor brand(84.0 / 255.0, 183.0 / 255.0, 197.0 / 255.0, 1);
  LoadingOverlay::Config config;
  config.size = 200;
  config.spinnerColor = brand;
  config.spinnerLineWidth = 2;
  config.titleTextColor = brand;
  config.speed = 1;
  config.titleTextFont = uikit::UIFont::boldSystemFont(16);
  config.backgroundColor = uikit::UIColor::white();
  config.foregroundColor = uikit::UIColor::black();
  config.foregroundAlpha = 0.4;
  config.cornerRadius = 10;
  config.centerImageBackgroundColor = uikit::UIColor::clear();
  return config;
}

void Utility::showLoader() {
  runOnMain([] {
    uikit::UIApplication::shared().setNetworkActivityIndicatorVisible(true);
    LoadingOverlay::setConfig(loaderConfig());
    LoadingOverlay::show(std::nullopt, "ic_logo", false);
  });
}

void Utility::hideLoader() {
  runOnMain([] {
    uikit::UIApplication::shared().setNetworkActivityIndicatorVisible(false);
    const auto& overlay = LoadingOverlay::shared();
    // Also drops the orientation observers that every show adds.
    foundation::NotificationCenter::defaultCenter()->removeObserver(static_cast<const void*>(overlay.get()));
    overlay->stop();
  });
}

// ---------------------------------------------------------------------------
// Connectivity and the alert

bool Utility::isConnectedToNetwork() {
  return isConnectedToNetwork([] {
    return ConnectivityMonitor::create(dispatch::DispatchQoS::default_, std::nullopt,
                                       dispatch::DispatchQueue::main());
  });
}

bool Utility::isConnectedToNetwork(const std::function<std::shared_ptr<ConnectivityMonitor>()>& makeMonitor) {
  std::shared_ptr<ConnectivityMonitor> monitor;
  try {
    monitor = makeMonitor();
  } catch (const ConnectivityError&) {
    // Without a monitor there is nothing to say the network is down.
    return true;
  }
  if (!monitor) return true;
  return monitor->connection() != ConnectivityMonitor::Connection::unavailable;
}

void Utility::showNoInternetAlert(uikit::UIViewController& on) {
  auto alert = std::make_shared<uikit::UIAlertController>(kNoInternetAlertTitle, kNoInternetAlertMessage,
                                                          uikit::UIAlertController::Style::alert);
  alert->addAction({"Ok", uikit::UIAlertAction::Style::default_, nullptr});
  // A controller that already presents refuses another presentation, which
  // would lose the alert: present from the top of the chain instead.
  uikit::UIViewController* presenter = &on;
  while (auto presented = presenter->presentedViewController()) presenter = presented.get();
  presenter->present(alert, true);
}

// ---------------------------------------------------------------------------
// The user record

std::optional<LogInResponse> Utility::getUserData() {
  auto entry = foundation::UserDefaults::standard()->object("user_data");
  if (!entry || !entry->isDictionary()) return std::nullopt;
  try {
    foundation::Data json = foundation::JSONSerialization::data(*entry);
    return decodeJSON<LogInResponse>(std::span<const std::uint8_t>(json.bytes(), json.count()));
  } catch (const std::exception&) {
    // Not representable as JSON, or not a user record: the record counts as absent.
    return std::nullopt;
  }
}

// ---------------------------------------------------------------------------
// HTML

std::optional<foundation::NSAttributedString> convertHtmlToNSAttributedString(std::string_view text) {
  try {
    return foundation::NSAttributedString::fromHTML(foundation::Data::fromString(text));
  } catch (const foundation::NSError& error) {
    foundation::print(error.localizedDescription());
  } catch (const std::exception& error) {
    foundation::print(error.what());
  }
  return std::nullopt;
}

namespace {

// A double as the platform prints it: shortest round-trip digits, and ".0"
// on whole numbers (16 -> "16.0").
std::string decimalText(double value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(std::begin(buffer), std::end(buffer), value);
  if (ec != std::errc{}) return "0.0";
  std::string text(buffer, end);
  if (text.find_first_of(".eEin") == std::string::npos) text += ".0";
  return text;
}

}  // namespace

std::string cssStylePrefix(const uikit::UIFont& font, std::string_view csscolor, int lineheight,
                           std::string_view csstextalign) {
  std::string css = "<style>body{font-family: '";
  css += font.fontName();
  css += "'; font-size:";
  css += decimalText(font.pointSize());
  css += "px; color: ";
  css += csscolor;
  css += "; line-height: ";
  css += std::to_string(lineheight);
  css += "px; text-align: ";
  css += csstextalign;
  css += "; }</style>";
  return css;
}

std::optional<foundation::NSAttributedString> convertHtmlToAttributedStringWithCSS(
    std::string_view text, const std::optional<uikit::UIFont>& font, std::string_view csscolor,
    int lineheight, std::string_view csstextalign) {
  if (!font) return convertHtmlToNSAttributedString(text);
  std::string html = cssStylePrefix(*font, csscolor, lineheight, csstextalign);
  html += text;
  return convertHtmlToNSAttributedString(html);
}

// ---------------------------------------------------------------------------
// Localized strings

namespace {

// Reads a quoted string at `i` (just past the opening quote), unescaping.
bool readQuoted(const std::string& s, std::size_t& i, std::string& out) {
  out.clear();
  while (i < s.size()) {
    char c = s[i++];
    if (c == '"') return true;
    if (c == '\\' && i < s.size()) {
      char e = s[i++];
      out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
    } else {
      out += c;
    }
  }
  return false;
}

void skipSpaceAndComments(const std::string& s, std::size_t& i) {
  while (i < s.size()) {
    if (std::isspace(static_cast<unsigned char>(s[i]))) {
      ++i;
    } else if (s.compare(i, 2, "//") == 0) {
      i = s.find('\n', i);
      if (i == std::string::npos) i = s.size();
    } else if (s.compare(i, 2, "/*") == 0) {
      i = s.find("*/", i + 2);
      i = i == std::string::npos ? s.size() : i + 2;
    } else {
      return;
    }
  }
}

// The value for `key` in a `"key" = "value";` strings file; nothing when the
// file is missing, malformed before the key, or lacks it.
std::optional<std::string> lookUpStrings(const std::string& file, const std::string& key) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string s = buffer.str();
  std::size_t i = 0;
  std::string k, v;
  while (true) {
    skipSpaceAndComments(s, i);
    if (i >= s.size() || s[i] != '"') return std::nullopt;
    ++i;
    if (!readQuoted(s, i, k)) return std::nullopt;
    skipSpaceAndComments(s, i);
    if (i >= s.size() || s[i] != '=') return std::nullopt;
    ++i;
    skipSpaceAndComments(s, i);
    if (i >= s.size() || s[i] != '"') return std::nullopt;
    ++i;
    if (!readQuoted(s, i, v)) return std::nullopt;
    skipSpaceAndComments(s, i);
    if (i >= s.size() || s[i] != ';') return std::nullopt;
    ++i;
    if (k == key) return v;
  }
}

}  // namespace

std::string localizedString(const foundation::Bundle& bundle, const std::string& forKey,
                            const std::string& value, const std::string& table) {
  const std::string name = table.empty() ? "Localizable" : table;
  if (auto file = bundle.path(name, "strings")) {
    if (auto found = lookUpStrings(*file, forKey)) return *found;
  }
  return value.empty() ? forKey : value;
}

std::shared_ptr<AnyLanguageBundle> AnyLanguageBundle::open(std::string_view path) {
  std::error_code error;
  auto canonical = std::filesystem::canonical(std::filesystem::path(path), error);
  if (error || !std::filesystem::is_directory(canonical, error)) return nullptr;
  return std::make_shared<AnyLanguageBundle>(Key{}, canonical.string());
}

void AnyLanguageBundle::setLanguageBundlePath(std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  languageBundlePath_ = std::move(path);
}

std::optional<std::string> AnyLanguageBundle::languageBundlePath() const {
  std::lock_guard lock(mutex_);
  return languageBundlePath_;
}

std::string AnyLanguageBundle::localizedString(const std::string& forKey, const std::string& value,
                                               const std::string& table) const {
  if (auto path = languageBundlePath()) {
    if (auto other = foundation::Bundle::open(*path))
      return morvik::localizedString(*other, forKey, value, table);
  }
  return morvik::localizedString(*this, forKey, value, table);
}

}  // namespace morvik
