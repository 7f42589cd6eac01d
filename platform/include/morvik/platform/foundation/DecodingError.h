// DecodingError: what decoding a keyed record from JSON throws (JSONCoding.h).
#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

// Thrown by decodeJSON (JSONCoding.h) on the thread that called it, for the first problem found:
// the whole value fails, no partial record is returned.
class DecodingError : public std::exception {
 public:
  enum class Kind {
    typeMismatch,   // a member holds the wrong JSON type (a string for an integer, 1 for a Boolean ...)
    valueNotFound,  // null where a record is required (the whole body, an element of a list)
    dataCorrupted,  // not JSON at all, nested too deeply, or a number that is not a 64-bit whole number
  };

  // One step of the path: a member name, or an array element (stringValue "Index 3", intValue 3).
  struct CodingKey {
    std::string stringValue;
    std::optional<std::size_t> intValue;
  };

  // The longest what(), and the longest excerpt of the decoded text a description keeps.
  static constexpr std::size_t kMaxDescriptionLength = 200;
  static constexpr std::size_t kMaxExcerptLength = 40;

  // `debugDescription` is kept escaped (bytes outside printable ASCII as \xNN) with any text quoted
  // from the data cut to its last kMaxExcerptLength characters, so a description stays one short
  // line that carries none of the data's contents.
  DecodingError(Kind kind, std::vector<CodingKey> codingPath, std::string debugDescription);

  Kind kind() const noexcept { return kind_; }
  // Member names (and array indices) from the outermost value down to the offending one; empty when
  // the problem lies in the body as a whole.
  const std::vector<CodingKey>& codingPath() const noexcept { return codingPath_; }
  const std::string& debugDescription() const noexcept { return debugDescription_; }

  // The path written as "data.items[0].status" ("" at the top).
  std::string pathDescription() const;

  // Kind, path and description on one line of at most kMaxDescriptionLength characters, e.g.
  // typeMismatch at "data.id": Expected to decode Int64 but found a string instead.
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  static std::string boundedText(std::string_view text);

  Kind kind_;
  std::vector<CodingKey> codingPath_;
  std::string debugDescription_;
  std::string description_;
};

const char* description(DecodingError::Kind kind) noexcept;

}  // namespace foundation
