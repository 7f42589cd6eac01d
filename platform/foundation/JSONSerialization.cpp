#include <morvik/platform/foundation/JSONSerialization.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>

namespace foundation {
namespace {

using nlohmann::json;

constexpr int kPropertyListWriteInvalid = 3851;
constexpr int kPropertyListReadCorrupt = 3840;

// Why a value cannot be JSON, or empty when it can.
std::string invalidReason(const PropertyListValue& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, double>) {
          return std::isfinite(v) ? std::string()
                                  : std::string(
                                        "Invalid number value (NaN or "
                                        "infinity) in JSON write");
        } else if constexpr (std::is_same_v<T, std::string>) {
          return isValidUTF8(v) ? std::string() : std::string("Invalid string (not UTF-8) in JSON write");
        } else if constexpr (std::is_same_v<T, Data>) {
          return "Invalid type in JSON write (Data)";
        } else if constexpr (std::is_same_v<T, Date>) {
          return "Invalid type in JSON write (Date)";
        } else if constexpr (std::is_same_v<T, PropertyListArray>) {
          for (const auto& item : v) {
            if (auto why = invalidReason(item); !why.empty()) return why;
          }
          return {};
        } else if constexpr (std::is_same_v<T, PropertyListDictionary>) {
          for (const auto& [key, item] : v) {
            if (!isValidUTF8(key)) return "Invalid key (not UTF-8) in JSON write";
            if (auto why = invalidReason(item); !why.empty()) return why;
          }
          return {};
        } else {
          return {};
        }
      },
      value.storage());
}

json toJSON(const PropertyListValue& value) {
  return std::visit(
      [](const auto& v) -> json {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, PropertyListNull>) {
          return nullptr;
        } else if constexpr (std::is_same_v<T, PropertyListArray>) {
          json out = json::array();
          for (const auto& item : v) out.push_back(toJSON(item));
          return out;
        } else if constexpr (std::is_same_v<T, PropertyListDictionary>) {
          json out = json::object();
          for (const auto& [key, item] : v) out[key] = toJSON(item);
          return out;
        } else if constexpr (std::is_same_v<T, Data> || std::is_same_v<T, Date>) {
          return nullptr;  // rejected before conversion
        } else {
          return json(v);
        }
      },
      value.storage());
}

PropertyListValue fromJSON(const json& j) {
  switch (j.type()) {
    case json::value_t::null:
      return PropertyListNull{};
    case json::value_t::boolean:
      return j.get<bool>();
    case json::value_t::number_integer:
      return j.get<std::int64_t>();
    case json::value_t::number_unsigned: {
      const auto u = j.get<std::uint64_t>();
      if (u <= static_cast<std::uint64_t>(INT64_MAX)) return static_cast<std::int64_t>(u);
      return static_cast<double>(u);
    }
    case json::value_t::number_float:
      return j.get<double>();
    case json::value_t::string:
      return j.get<std::string>();
    case json::value_t::array: {
      PropertyListArray out;
      out.reserve(j.size());
      for (const auto& item : j) out.push_back(fromJSON(item));
      return out;
    }
    case json::value_t::object: {
      PropertyListDictionary out;
      for (const auto& [key, item] : j.items()) out.insert_or_assign(key, fromJSON(item));
      return out;
    }
    default:
      return PropertyListNull{};
  }
}

// Nesting deeper than this is refused before parsing: the conversion below
// recurses, and hostile input must not exhaust the stack.
constexpr int kMaximumDepth = 512;

bool nestsTooDeep(const std::string& text) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaximumDepth) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

}  // namespace

bool JSONSerialization::isValidJSONObject(const PropertyListValue& value) {
  return (value.isArray() || value.isDictionary()) && invalidReason(value).empty();
}

Data JSONSerialization::data(const PropertyListValue& withJSONObject, unsigned options) {
  if (!(options & fragmentsAllowed) && !withJSONObject.isArray() && !withJSONObject.isDictionary()) {
    throw NSError(NSCocoaErrorDomain, kPropertyListWriteInvalid, "Invalid top-level type in JSON write");
  }
  if (auto why = invalidReason(withJSONObject); !why.empty()) {
    throw NSError(NSCocoaErrorDomain, kPropertyListWriteInvalid, why);
  }
  const json j = toJSON(withJSONObject);
  std::string text;
  try {
    // Invalid UTF-8 in a text is an error, as on the platform, not a silent
    // replacement.
    text = j.dump((options & prettyPrinted) ? 2 : -1, ' ', false, json::error_handler_t::strict);
  } catch (const json::exception&) {
    throw NSError(NSCocoaErrorDomain, kPropertyListWriteInvalid, "Invalid string (not UTF-8) in JSON write");
  }
  if (!(options & withoutEscapingSlashes)) {
    // '/' can only occur inside strings in JSON text, so every one can be
    // escaped.
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
      if (c == '/') escaped.push_back('\\');
      escaped.push_back(c);
    }
    text = std::move(escaped);
  }
  return Data::fromString(text);
}

PropertyListValue JSONSerialization::jsonObject(const Data& with, unsigned options) {
  const std::string text = with.rawString();
  if (nestsTooDeep(text)) {
    throw NSError(NSCocoaErrorDomain, kPropertyListReadCorrupt,
                  "The data couldn't be read because it nests arrays or "
                  "objects too deeply.");
  }
  json j;
  try {
    j = json::parse(text);
  } catch (const json::exception& e) {
    throw NSError(NSCocoaErrorDomain, kPropertyListReadCorrupt,
                  std::string("The data couldn't be read because it isn't in "
                              "the correct format. (") +
                      e.what() + ")");
  }
  if (!(options & readingFragmentsAllowed) && !j.is_array() && !j.is_object()) {
    throw NSError(NSCocoaErrorDomain, kPropertyListReadCorrupt,
                  "JSON text did not start with array or object and option to "
                  "allow fragments not set.");
  }
  return fromJSON(j);
}

}  // namespace foundation
