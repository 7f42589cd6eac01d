#include <morvik/platform/uikit/UIColor.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

namespace uikit {

namespace {

quartz::CGFloat unit(quartz::CGFloat v) { return std::isnan(v) ? 0 : std::clamp<quartz::CGFloat>(v, 0, 1); }

UIColor rgb255(int r, int g, int b, double a = 1) { return {r / 255.0, g / 255.0, b / 255.0, a}; }

// A name is one path component: no separators, not "." or "..".
bool safeName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

}  // namespace

UIColor::UIColor(quartz::CGFloat red, quartz::CGFloat green, quartz::CGFloat blue, quartz::CGFloat alpha)
    : color_{unit(red), unit(green), unit(blue), unit(alpha)} {}

UIColor::UIColor(quartz::CGFloat white, quartz::CGFloat alpha)
    : color_{unit(white), unit(white), unit(white), unit(alpha)} {}

UIColor::UIColor(const quartz::CGColor& c) : UIColor(c.red, c.green, c.blue, c.alpha) {}

UIColor UIColor::withAlphaComponent(quartz::CGFloat alpha) const { return UIColor(color_.copy(alpha)); }

std::optional<UIColor> UIColor::named(const std::string& name, const std::filesystem::path& bundleDirectory,
                                      const UITraitCollection*) {
  if (!safeName(name)) return std::nullopt;
  std::ifstream in(bundleDirectory / (name + ".colorset") / "Contents.json", std::ios::binary);
  if (!in) return std::nullopt;
  const nlohmann::json doc = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
  if (!doc.is_object()) return std::nullopt;
  auto color = doc.find("color");
  if (color == doc.end() || !color->is_object()) return std::nullopt;
  double c[4] = {0, 0, 0, 1};
  const char* keys[4] = {"red", "green", "blue", "alpha"};
  for (int i = 0; i < 4; ++i) {
    auto it = color->find(keys[i]);
    if (it == color->end()) {
      if (i == 3) break;  // alpha may be left out
      return std::nullopt;
    }
    if (!it->is_number()) return std::nullopt;
    c[i] = it->get<double>();
    if (!(c[i] >= 0 && c[i] <= 1)) return std::nullopt;
  }
  return UIColor(c[0], c[1], c[2], c[3]);
}

std::optional<UIColor> UIColor::named(const std::string& name, const std::shared_ptr<foundation::Bundle>& in,
                                      const UITraitCollection* traits) {
  auto bundle = in ? in : foundation::Bundle::main();
  if (!bundle) return std::nullopt;
  auto dir = bundle->resourcePath();
  if (!dir) return std::nullopt;
  return named(name, std::filesystem::path(*dir), traits);
}

// Light-mode values of the platform's semantic colours.
UIColor UIColor::systemBackground() { return white(); }
UIColor UIColor::secondarySystemBackground() { return rgb255(242, 242, 247); }
UIColor UIColor::tertiarySystemBackground() { return white(); }
UIColor UIColor::systemGroupedBackground() { return rgb255(242, 242, 247); }
UIColor UIColor::label() { return black(); }
UIColor UIColor::secondaryLabel() { return rgb255(60, 60, 67, 0.6); }
UIColor UIColor::tertiaryLabel() { return rgb255(60, 60, 67, 0.3); }
UIColor UIColor::quaternaryLabel() { return rgb255(60, 60, 67, 0.18); }
UIColor UIColor::placeholderText() { return rgb255(60, 60, 67, 0.3); }
UIColor UIColor::separator() { return rgb255(60, 60, 67, 0.29); }
UIColor UIColor::lightText() { return {1, 0.6}; }
UIColor UIColor::darkText() { return black(); }
UIColor UIColor::link() { return rgb255(0, 122, 255); }
UIColor UIColor::systemGray() { return rgb255(142, 142, 147); }
UIColor UIColor::systemGray2() { return rgb255(174, 174, 178); }
UIColor UIColor::systemGray3() { return rgb255(199, 199, 204); }
UIColor UIColor::systemGray4() { return rgb255(209, 209, 214); }
UIColor UIColor::systemGray5() { return rgb255(229, 229, 234); }
UIColor UIColor::systemGray6() { return rgb255(242, 242, 247); }
UIColor UIColor::systemBlue() { return rgb255(0, 122, 255); }
UIColor UIColor::systemGreen() { return rgb255(52, 199, 89); }
UIColor UIColor::systemRed() { return rgb255(255, 59, 48); }
UIColor UIColor::systemYellow() { return rgb255(255, 204, 0); }
UIColor UIColor::systemOrange() { return rgb255(255, 149, 0); }

std::string toString(const UIColor& color) {
  const quartz::CGColor c = color.cgColor();
  char buf[96];
  std::snprintf(buf, sizeof buf, "UIColor(%.3g %.3g %.3g %.3g)", c.red, c.green, c.blue, c.alpha);
  return buf;
}

}  // namespace uikit
