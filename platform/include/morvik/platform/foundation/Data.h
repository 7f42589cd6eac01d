// Data: an immutable-by-default byte buffer with value semantics.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

class URL;

// A value type backed by a std::vector; copies are independent. Safe to use
// from any thread as long as one value is not written while read elsewhere.
class Data {
 public:
  Data() = default;
  explicit Data(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  Data(const void* bytes, std::size_t count);
  // The bytes of a text, as they are (UTF-8 for our callers).
  static Data fromString(std::string_view text);

  // Reads a whole file. Throws NSError (NSCocoaErrorDomain, with the file
  // name and the system's reason) when the URL is not a file URL or the file
  // cannot be read.
  static Data contentsOf(const URL& url);
  // Writes the bytes to a file (replacing it; written to a temporary file in
  // the same directory first, then renamed, so a failed write leaves an
  // existing file untouched). Throws NSError on failure.
  void write(const URL& to) const;

  std::size_t count() const { return bytes_.size(); }
  bool isEmpty() const { return bytes_.empty(); }
  const std::uint8_t* bytes() const { return bytes_.data(); }
  std::uint8_t* mutableBytes() { return bytes_.data(); }
  const std::vector<std::uint8_t>& vector() const { return bytes_; }
  std::vector<std::uint8_t>& vector() { return bytes_; }

  void append(const void* bytes, std::size_t count);
  void append(const Data& other) { append(other.bytes(), other.count()); }
  void append(std::string_view text) { append(text.data(), text.size()); }

  // The bytes as text when they are valid UTF-8 (String(data:encoding:.utf8)),
  // nothing otherwise.
  std::optional<std::string> utf8String() const;
  // The bytes as they are, whatever they hold.
  std::string rawString() const { return std::string(bytes_.begin(), bytes_.end()); }

  std::uint8_t operator[](std::size_t i) const { return bytes_[i]; }
  auto begin() const { return bytes_.begin(); }
  auto end() const { return bytes_.end(); }

  friend bool operator==(const Data&, const Data&) = default;

 private:
  std::vector<std::uint8_t> bytes_;
};

// True when the bytes form valid UTF-8 (no overlongs, no surrogates).
bool isValidUTF8(std::string_view bytes);

}  // namespace foundation
