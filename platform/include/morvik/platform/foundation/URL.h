// URL: an absolute or relative URL, or a file URL made from a path.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

// One "name=value" pair of a query. A name without "=" has no value.
struct URLQueryItem {
  std::string name;
  std::optional<std::string> value;
  friend bool operator==(const URLQueryItem&, const URLQueryItem&) = default;
};

// A value type; any thread.
//
// The text is kept as given (percent-escapes included) and split into scheme,
// authority, path, query and fragment. Accessors that name a path (path,
// lastPathComponent, pathExtension) answer percent-decoded text; the
// appending calls percent-encode what they add.
//
// Path rules, as on the platform:
// - path drops a trailing "/" except for the root: "file:///tmp/a/" -> "/tmp/a".
// - lastPathComponent of "/" is "/"; of an empty path it is "".
// - deletingLastPathComponent answers a directory URL (trailing "/"):
//   "/a/b" -> "/a/", "/a" -> "/", and "/" stays "/"; a relative path of one
//   component becomes empty.
// - appendingPathComponent adds one "/" between the path and the component
//   (never two) and a trailing "/" when isDirectory is true.
class URL {
 public:
  // Parses a URL text (URL(string:)): nothing for an empty text, for
  // characters that may not appear in a URL (spaces, controls, non-ASCII,
  // <>"{}|\^`), for a bad percent-escape, a bad scheme or a bad port.
  static std::optional<URL> string(std::string_view text);
  // A file URL for a path (URL(fileURLWithPath:)). A relative path is taken
  // against the current working directory. When isDirectory is not given,
  // the file system is asked, and an existing directory gets a trailing "/".
  static URL fileURLWithPath(std::string_view path, std::optional<bool> isDirectory = std::nullopt);

  const std::string& absoluteString() const { return text_; }
  std::optional<std::string> scheme() const;  // as written
  std::optional<std::string> host() const;    // percent-decoded; IPv6 without brackets
  std::optional<int> port() const;
  std::optional<std::string> user() const;
  std::optional<std::string> password() const;
  std::string path() const;
  std::optional<std::string> query() const;     // the raw text after "?"
  std::optional<std::string> fragment() const;  // the raw text after "#"
  std::string lastPathComponent() const;
  std::string pathExtension() const;  // "" when none; a leading dot does not start an extension
  bool isFileURL() const;
  bool hasDirectoryPath() const;  // the path ends with "/"

  URL appendingPathComponent(std::string_view component, bool isDirectory = false) const;
  URL deletingLastPathComponent() const;
  URL appendingPathExtension(std::string_view extension) const;

  // Decoded query items, in order ("+" is not a space here, as on the platform).
  std::vector<URLQueryItem> queryItems() const;
  // A copy with the items appended to the query (names and values encoded).
  URL appendingQueryItems(const std::vector<URLQueryItem>& items) const;

  friend bool operator==(const URL& a, const URL& b) { return a.text_ == b.text_; }

 private:
  struct Parts {
    std::size_t schemeEnd = std::string::npos;  // index of ':' or npos
    bool hasAuthority = false;
    std::size_t authorityBegin = 0, authorityEnd = 0;
    std::size_t pathBegin = 0, pathEnd = 0;
    std::size_t queryBegin = std::string::npos;     // after '?'
    std::size_t fragmentBegin = std::string::npos;  // after '#'
  };
  URL(std::string text, Parts parts) : text_(std::move(text)), parts_(parts) {}
  URL withPath(std::string_view encodedPath) const;
  std::string rawPath() const;

  std::string text_;
  Parts parts_;

  friend struct URLParser;
};

// Percent-encodes every byte outside the unreserved set and `allowed`.
std::string percentEncode(std::string_view text, std::string_view allowed = "");
// Decodes %XX escapes; nothing when an escape is malformed.
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace foundation

template <>
struct std::hash<foundation::URL> {
  std::size_t operator()(const foundation::URL& url) const noexcept {
    return std::hash<std::string>()(url.absoluteString());
  }
};
