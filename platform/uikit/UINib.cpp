#include "morvik/platform/uikit/UINib.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>

#include "morvik/platform/uikit/UIView.h"

namespace uikit {

using Json = nlohmann::ordered_json;

struct UINib::Parsed {
  Json root;
  // What names the file across UINib objects: its path when it was read
  // from a bundle, else empty (the parsed tree itself then names it).
  std::string path;
};

namespace {

constexpr std::size_t kMaxDepth = 256;

// The files being instantiated on this thread, outermost first. A class made
// from a file may load a file itself (a NibView does); when that is a file
// already on this list, building it again would never end.
thread_local std::vector<std::string> instantiating;

class Instantiating {
 public:
  explicit Instantiating(std::string key) { instantiating.push_back(std::move(key)); }
  ~Instantiating() { instantiating.pop_back(); }
  Instantiating(const Instantiating&) = delete;
  Instantiating& operator=(const Instantiating&) = delete;
};

// Thrown inside instantiation only, to unwind a half-built tree; callers get
// the message as a value.
struct NibError {
  std::string message;
};

std::string show(const Json& value) {
  std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (text.size() > 60) text = text.substr(0, 57) + "...";
  return text;
}

std::optional<double> component(const Json& object, const char* key, bool required) {
  auto it = object.find(key);
  if (it == object.end()) return required ? std::nullopt : std::optional<double>(1.0);
  if (!it->is_number()) return std::nullopt;
  double v = it->get<double>();
  if (!(v >= 0 && v <= 1)) return std::nullopt;
  return v;
}

std::optional<UIColor> colorValue(const Json& value) {
  if (value.is_string()) {
    const auto& s = value.get_ref<const std::string&>();
    if ((s.size() != 7 && s.size() != 9) || s[0] != '#') return std::nullopt;
    double c[4] = {0, 0, 0, 1};
    for (std::size_t i = 1, k = 0; i < s.size(); i += 2, ++k) {
      if (!std::isxdigit(static_cast<unsigned char>(s[i])) ||
          !std::isxdigit(static_cast<unsigned char>(s[i + 1]))) {
        return std::nullopt;
      }
      c[k] = std::stoi(s.substr(i, 2), nullptr, 16) / 255.0;
    }
    return UIColor(c[0], c[1], c[2], c[3]);
  }
  if (!value.is_object()) return std::nullopt;
  for (auto it = value.begin(); it != value.end(); ++it) {
    static const char* const known[] = {"red", "green", "blue", "alpha", "white"};
    if (std::find(std::begin(known), std::end(known), it.key()) == std::end(known)) return std::nullopt;
  }
  auto alpha = component(value, "alpha", false);
  if (!alpha) return std::nullopt;
  if (value.contains("white")) {
    if (value.contains("red") || value.contains("green") || value.contains("blue")) return std::nullopt;
    auto white = component(value, "white", true);
    if (!white) return std::nullopt;
    return UIColor(*white, *alpha);
  }
  auto r = component(value, "red", true), g = component(value, "green", true),
       b = component(value, "blue", true);
  if (!r || !g || !b) return std::nullopt;
  return UIColor(*r, *g, *b, *alpha);
}

// An object with exactly these number members.
std::optional<std::vector<double>> numbers(const Json& value, std::initializer_list<const char*> keys) {
  if (!value.is_object() || value.size() != keys.size()) return std::nullopt;
  std::vector<double> out;
  for (const char* key : keys) {
    auto it = value.find(key);
    if (it == value.end() || !it->is_number()) return std::nullopt;
    double v = it->get<double>();
    if (!std::isfinite(v)) return std::nullopt;
    out.push_back(v);
  }
  return out;
}

std::optional<InterfaceValue> convert(const Json& value, InterfaceValueType type) {
  switch (type) {
    case InterfaceValueType::boolean:
      if (value.is_boolean()) return InterfaceValue(value.get<bool>());
      break;
    case InterfaceValueType::number:
      if (value.is_number()) return InterfaceValue(static_cast<CGFloat>(value.get<double>()));
      break;
    case InterfaceValueType::string:
      if (value.is_string()) return InterfaceValue(value.get<std::string>());
      break;
    case InterfaceValueType::color:
      if (auto c = colorValue(value)) return InterfaceValue(*c);
      break;
    case InterfaceValueType::size:
      if (auto n = numbers(value, {"width", "height"})) return InterfaceValue(CGSize{(*n)[0], (*n)[1]});
      break;
    case InterfaceValueType::point:
      if (auto n = numbers(value, {"x", "y"})) return InterfaceValue(CGPoint{(*n)[0], (*n)[1]});
      break;
    case InterfaceValueType::rect:
      if (auto n = numbers(value, {"x", "y", "width", "height"})) {
        return InterfaceValue(CGRect{{(*n)[0], (*n)[1]}, {(*n)[2], (*n)[3]}});
      }
      break;
  }
  return std::nullopt;
}

// Deep nesting would exhaust the stack in the recursive walks below (and in
// the JSON library's printing), so it is refused before parsing.
bool nestsTooDeep(const foundation::Data& data) {
  std::size_t depth = 0;
  bool inString = false, escaped = false;
  for (std::size_t i = 0; i < data.count(); ++i) {
    const char c = static_cast<char>(data[i]);
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth * 2 + 8) return true;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return false;
}

class Builder {
 public:
  Builder(const std::string& nibName, const ClassRegistry& registry) : name_(nibName), registry_(registry) {}

  RuntimeObject build(const Json& spec, const std::string& path, std::size_t depth) {
    if (depth > kMaxDepth) fail(path, "views nest deeper than " + std::to_string(kMaxDepth));
    if (!spec.is_object()) fail(path, "an object must be a JSON object, not " + show(spec));
    auto cls = spec.find("class");
    if (cls == spec.end() || !cls->is_string()) fail(path, "an object needs a \"class\" string");
    const std::string className = cls->get<std::string>();
    if (!registry_.contains(className)) fail(path, "unknown class \"" + className + "\"");
    const bool isView = registry_.isViewClass(className);
    for (auto it = spec.begin(); it != spec.end(); ++it) {
      const auto& key = it.key();
      if (key == "class" || key == "properties") continue;
      if (key == "frame" || key == "subviews") {
        if (!isView) fail(path, "\"" + key + "\" is for views; \"" + className + "\" is not a view");
        continue;
      }
      fail(path, "unknown member \"" + key + "\"");
    }

    CGRect frame;
    if (auto f = spec.find("frame"); f != spec.end()) {
      auto n = numbers(*f, {"x", "y", "width", "height"});
      if (!n) fail(path, "\"frame\" wants {\"x\", \"y\", \"width\", \"height\"} numbers, got " + show(*f));
      frame = CGRect{{(*n)[0], (*n)[1]}, {(*n)[2], (*n)[3]}};
    }
    auto made = registry_.make(className, frame);
    if (!made) fail(path, "class \"" + className + "\" could not make an instance");

    if (auto props = spec.find("properties"); props != spec.end()) {
      if (!props->is_object()) fail(path, "\"properties\" must be a JSON object");
      for (auto it = props->begin(); it != props->end(); ++it) {
        auto property = registry_.property(className, it.key());
        if (!property) fail(path, "class \"" + className + "\" has no property \"" + it.key() + "\"");
        auto value = convert(it.value(), property->type);
        if (!value) {
          fail(path, "property \"" + it.key() + "\" of \"" + className + "\" wants " +
                         describe(property->type) + ", got " + show(it.value()));
        }
        property->setter(*made, *value);
      }
    }

    if (auto subs = spec.find("subviews"); subs != spec.end()) {
      if (!subs->is_array()) fail(path, "\"subviews\" must be a JSON array");
      for (std::size_t i = 0; i < subs->size(); ++i) {
        auto child = build((*subs)[i], path + ".subviews[" + std::to_string(i) + "]", depth + 1);
        if (!child.view)
          fail(path, "subview " + std::to_string(i) + " (\"" + child.className + "\") is not a view");
        made->view->addSubview(child.view);
      }
    }
    return *made;
  }

  [[noreturn]] void fail(const std::string& path, const std::string& what) const {
    throw NibError{"Interface file \"" + name_ + "\": " + path + ": " + what};
  }

 private:
  const std::string& name_;
  const ClassRegistry& registry_;
};

}  // namespace

std::shared_ptr<UINib> UINib::make(const std::string& nibName, std::shared_ptr<foundation::Bundle> bundle) {
  auto b = bundle ? bundle : foundation::Bundle::main();
  std::optional<foundation::URL> url;
  if (b) url = b->url(nibName, "nib");
  if (!url) {
    std::shared_ptr<UINib> nib(new UINib());
    nib->name_ = nibName;
    nib->bundle_ = b;
    nib->loadError_ = "Could not load the interface file \"" + nibName + ".nib\" in bundle \"" +
                      (b ? b->bundlePath() : std::string("(none)")) + "\"";
    return nib;
  }
  foundation::Data data;
  try {
    data = foundation::Data::contentsOf(*url);
  } catch (const std::exception& e) {
    // Found but unreadable: a folder of that name, no permission, gone since.
    std::shared_ptr<UINib> nib(new UINib());
    nib->name_ = nibName;
    nib->bundle_ = b;
    nib->loadError_ = "Could not read the interface file \"" + nibName + ".nib\": " + e.what();
    return nib;
  }
  auto nib = make(data, b, nibName);
  if (nib->parsed_) {
    auto parsed = std::const_pointer_cast<Parsed>(nib->parsed_);
    parsed->path = url->path();
  }
  return nib;
}

std::shared_ptr<UINib> UINib::make(const foundation::Data& data, std::shared_ptr<foundation::Bundle> bundle,
                                   std::string nibName) {
  std::shared_ptr<UINib> nib(new UINib());
  nib->name_ = std::move(nibName);
  nib->bundle_ = std::move(bundle);
  const std::string prefix = "Interface file \"" + nib->name_ + "\" ";
  if (nestsTooDeep(data)) {
    nib->loadError_ = prefix + "nests deeper than " + std::to_string(kMaxDepth) + " views";
    return nib;
  }
  Json root = Json::parse(data.bytes(), data.bytes() + data.count(), nullptr, false);
  if (root.is_discarded()) {
    nib->loadError_ = prefix + "is not valid JSON";
    return nib;
  }
  if (!root.is_object()) {
    nib->loadError_ = prefix + "must hold a JSON object";
    return nib;
  }
  for (auto it = root.begin(); it != root.end(); ++it) {
    if (it.key() != "objects") {
      nib->loadError_ = prefix + "has an unknown member \"" + it.key() + "\"";
      return nib;
    }
  }
  auto objects = root.find("objects");
  if (objects == root.end() || !objects->is_array()) {
    nib->loadError_ = prefix + "needs an \"objects\" array";
    return nib;
  }
  nib->parsed_ = std::make_shared<Parsed>(Parsed{std::move(root), {}});
  return nib;
}

UINib::~UINib() = default;

UINibInstantiation UINib::instantiate(const void* withOwner, const void* options) const {
  (void)options;
  return instantiate(withOwner, ClassRegistry::shared());
}

UINibInstantiation UINib::instantiate(const void*, const ClassRegistry& registry) const {
  UINibInstantiation result;
  if (loadError_ || !parsed_) {
    result.error = loadError_.value_or("Interface file \"" + name_ + "\" is empty");
    return result;
  }
  const std::string key = parsed_->path.empty()
                              ? "data:" + std::to_string(reinterpret_cast<std::uintptr_t>(parsed_.get()))
                              : parsed_->path;
  if (std::find(instantiating.begin(), instantiating.end(), key) != instantiating.end()) {
    result.error = "Interface file \"" + name_ +
                   "\" is already being instantiated: an object in it loads the file again";
    return result;
  }
  Instantiating entered(key);
  Builder builder(name_, registry);
  try {
    const auto& objects = parsed_->root.at("objects");
    for (std::size_t i = 0; i < objects.size(); ++i) {
      result.topLevelObjects.push_back(builder.build(objects[i], "objects[" + std::to_string(i) + "]", 0));
    }
  } catch (const NibError& e) {
    result.topLevelObjects.clear();
    result.error = e.message;
  }
  return result;
}

}  // namespace uikit
