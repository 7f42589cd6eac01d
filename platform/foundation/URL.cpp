#include <morvik/platform/foundation/URL.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <system_error>

namespace foundation {
namespace {

bool isUnreserved(unsigned char c) { return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~'; }

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return (std::tolower(static_cast<unsigned char>(c)) - 'a') + 10;
}

// Characters a URL text may hold as they are (RFC 3986 reserved and unreserved,
// and '%').
bool isURLCharacter(unsigned char c) {
  if (isUnreserved(c)) return true;
  static constexpr std::string_view kReserved = ":/?#[]@!$&'()*+,;=%";
  return kReserved.find(static_cast<char>(c)) != std::string_view::npos;
}

// Characters kept unescaped in a path we build (besides the unreserved ones).
constexpr std::string_view kPathAllowed = "/!$&'()*+,;=:@";
// In query names and values we escape '&', '=', '+' and '#', which would change
// the meaning.
constexpr std::string_view kQueryAllowed = "!$'()*,;:@/?";

}  // namespace

std::string percentEncode(std::string_view text, std::string_view allowed) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (isUnreserved(c) || allowed.find(ch) != std::string_view::npos) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kDigits[c >> 4]);
      out.push_back(kDigits[c & 0xF]);
    }
  }
  return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return std::nullopt;
    out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
    i += 2;
  }
  return out;
}

struct URLParser {
  static std::optional<URL> parse(std::string text) {
    if (text.empty()) return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (!isURLCharacter(c)) return std::nullopt;
      if (c == '%' && (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])))
        return std::nullopt;
    }
    URL::Parts p;
    const std::size_t firstDelimiter = text.find_first_of(":/?#");
    std::size_t pos = 0;
    if (firstDelimiter != std::string::npos && text[firstDelimiter] == ':') {
      // A scheme: a letter, then letters, digits, '+', '-' or '.'.
      if (firstDelimiter == 0 || !std::isalpha(static_cast<unsigned char>(text[0]))) return std::nullopt;
      for (std::size_t i = 1; i < firstDelimiter; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
      }
      p.schemeEnd = firstDelimiter;
      pos = firstDelimiter + 1;
    }
    if (text.compare(pos, 2, "//") == 0) {
      p.hasAuthority = true;
      p.authorityBegin = pos + 2;
      p.authorityEnd = text.find_first_of("/?#", p.authorityBegin);
      if (p.authorityEnd == std::string::npos) p.authorityEnd = text.size();
      pos = p.authorityEnd;
      if (!validAuthority(
              std::string_view(text).substr(p.authorityBegin, p.authorityEnd - p.authorityBegin))) {
        return std::nullopt;
      }
    }
    p.pathBegin = pos;
    p.pathEnd = text.find_first_of("?#", pos);
    if (p.pathEnd == std::string::npos) p.pathEnd = text.size();
    pos = p.pathEnd;
    if (pos < text.size() && text[pos] == '?') {
      p.queryBegin = pos + 1;
      pos = text.find('#', pos);
      if (pos == std::string::npos) pos = text.size();
    }
    if (pos < text.size() && text[pos] == '#') {
      p.fragmentBegin = pos + 1;
      // A second '#' is not allowed in a URL.
      if (text.find('#', p.fragmentBegin) != std::string::npos) return std::nullopt;
    }
    return URL(std::move(text), p);
  }

  struct Authority {
    std::string_view userinfo, host, port;
    bool hasUserinfo = false, hasPort = false, malformed = false;
  };

  static Authority split(std::string_view authority) {
    Authority a;
    const auto at = authority.rfind('@');
    if (at != std::string_view::npos) {
      a.hasUserinfo = true;
      a.userinfo = authority.substr(0, at);
      authority.remove_prefix(at + 1);
    }
    std::size_t hostEnd = authority.size();
    if (!authority.empty() && authority.front() == '[') {
      const auto close = authority.find(']');
      hostEnd = close == std::string_view::npos ? authority.size() : close + 1;
    } else {
      const auto colon = authority.find(':');
      if (colon != std::string_view::npos) hostEnd = colon;
    }
    a.host = authority.substr(0, hostEnd);
    if (hostEnd < authority.size()) {
      a.malformed = authority[hostEnd] != ':';
      a.hasPort = true;
      a.port = authority.substr(hostEnd + 1);
    }
    return a;
  }

  static bool validAuthority(std::string_view authority) {
    const auto a = split(authority);
    if (!a.host.empty() && a.host.front() == '[' && a.host.back() != ']') return false;
    if (a.host.find_first_of("[]") != std::string_view::npos && a.host.front() != '[') return false;
    if (a.malformed) return false;
    if (a.port.size() > 5) return false;
    int port = 0;
    for (char c : a.port) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
      port = port * 10 + (c - '0');
    }
    return port <= 65535;
  }
};

std::optional<URL> URL::string(std::string_view text) { return URLParser::parse(std::string(text)); }

URL URL::fileURLWithPath(std::string_view path, std::optional<bool> isDirectory) {
  std::string absolute(path);
  if (absolute.empty() || absolute.front() != '/') {
    std::error_code ec;
    auto cwd = std::filesystem::current_path(ec).string();
    if (ec || cwd.empty()) cwd = "/";
    if (cwd.back() != '/') cwd.push_back('/');
    absolute = cwd + absolute;
  }
  bool directory = false;
  if (isDirectory) {
    directory = *isDirectory;
  } else {
    std::error_code ec;
    directory = std::filesystem::is_directory(absolute, ec);
  }
  std::string encoded = percentEncode(absolute, kPathAllowed);
  if (directory && encoded.back() != '/') encoded.push_back('/');
  auto url = URLParser::parse("file://" + encoded);
  return *url;  // every byte of the path is encoded, so this always parses
}

std::optional<std::string> URL::scheme() const {
  if (parts_.schemeEnd == std::string::npos) return std::nullopt;
  return text_.substr(0, parts_.schemeEnd);
}

std::optional<std::string> URL::host() const {
  if (!parts_.hasAuthority) return std::nullopt;
  auto a = URLParser::split(
      std::string_view(text_).substr(parts_.authorityBegin, parts_.authorityEnd - parts_.authorityBegin));
  std::string_view host = a.host;
  if (host.size() >= 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
  if (host.empty()) return std::nullopt;
  return percentDecode(host);
}

std::optional<int> URL::port() const {
  if (!parts_.hasAuthority) return std::nullopt;
  auto a = URLParser::split(
      std::string_view(text_).substr(parts_.authorityBegin, parts_.authorityEnd - parts_.authorityBegin));
  if (!a.hasPort || a.port.empty()) return std::nullopt;
  return std::stoi(std::string(a.port));
}

std::optional<std::string> URL::user() const {
  if (!parts_.hasAuthority) return std::nullopt;
  auto a = URLParser::split(
      std::string_view(text_).substr(parts_.authorityBegin, parts_.authorityEnd - parts_.authorityBegin));
  if (!a.hasUserinfo) return std::nullopt;
  return percentDecode(a.userinfo.substr(0, a.userinfo.find(':')));
}

std::optional<std::string> URL::password() const {
  if (!parts_.hasAuthority) return std::nullopt;
  auto a = URLParser::split(
      std::string_view(text_).substr(parts_.authorityBegin, parts_.authorityEnd - parts_.authorityBegin));
  const auto colon = a.userinfo.find(':');
  if (!a.hasUserinfo || colon == std::string_view::npos) return std::nullopt;
  return percentDecode(a.userinfo.substr(colon + 1));
}

std::string URL::rawPath() const { return text_.substr(parts_.pathBegin, parts_.pathEnd - parts_.pathBegin); }

std::string URL::path() const {
  std::string p = percentDecode(rawPath()).value_or(std::string());
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

std::optional<std::string> URL::query() const {
  if (parts_.queryBegin == std::string::npos) return std::nullopt;
  const auto end = parts_.fragmentBegin == std::string::npos ? text_.size() : parts_.fragmentBegin - 1;
  return text_.substr(parts_.queryBegin, end - parts_.queryBegin);
}

std::optional<std::string> URL::fragment() const {
  if (parts_.fragmentBegin == std::string::npos) return std::nullopt;
  return text_.substr(parts_.fragmentBegin);
}

std::string URL::lastPathComponent() const {
  const std::string p = path();
  if (p.empty() || p == "/") return p;
  const auto slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string URL::pathExtension() const {
  const std::string last = lastPathComponent();
  const auto dot = last.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == last.size()) return {};
  return last.substr(dot + 1);
}

bool URL::isFileURL() const {
  const auto s = scheme();
  if (!s || s->size() != 4) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    if (std::tolower(static_cast<unsigned char>((*s)[i])) != "file"[i]) return false;
  }
  return true;
}

bool URL::hasDirectoryPath() const {
  const std::string raw = rawPath();
  return !raw.empty() && raw.back() == '/';
}

URL URL::withPath(std::string_view encodedPath) const {
  std::string text = text_.substr(0, parts_.pathBegin);
  text += encodedPath;
  text += text_.substr(parts_.pathEnd);
  auto url = URLParser::parse(std::move(text));
  return url ? *url : *this;
}

URL URL::appendingPathComponent(std::string_view component, bool isDirectory) const {
  while (!component.empty() && component.front() == '/') component.remove_prefix(1);
  std::string raw = rawPath();
  std::string encoded = percentEncode(component, kPathAllowed);
  if (encoded.empty()) {
    if (isDirectory && !raw.empty() && raw.back() != '/') raw.push_back('/');
    return withPath(raw);
  }
  if (raw.empty()) {
    raw = parts_.hasAuthority ? "/" : "";
  } else if (raw.back() != '/') {
    raw.push_back('/');
  }
  raw += encoded;
  if (isDirectory && raw.back() != '/') raw.push_back('/');
  return withPath(raw);
}

URL URL::deletingLastPathComponent() const {
  std::string raw = rawPath();
  if (raw.empty()) return *this;
  while (raw.size() > 1 && raw.back() == '/') raw.pop_back();
  if (raw == "/") return withPath("/");
  const auto slash = raw.rfind('/');
  if (slash == std::string::npos) return withPath("");
  return withPath(raw.substr(0, slash + 1));
}

URL URL::appendingPathExtension(std::string_view extension) const {
  std::string raw = rawPath();
  if (extension.empty() || raw.empty() || raw == "/") return *this;
  const bool directory = raw.back() == '/';
  while (raw.size() > 1 && raw.back() == '/') raw.pop_back();
  raw += "." + percentEncode(extension, kPathAllowed);
  if (directory) raw.push_back('/');
  return withPath(raw);
}

std::vector<URLQueryItem> URL::queryItems() const {
  std::vector<URLQueryItem> items;
  const auto q = query();
  if (!q || q->empty()) return items;
  std::string_view rest = *q;
  while (true) {
    const auto amp = rest.find('&');
    const std::string_view piece = rest.substr(0, amp);
    const auto eq = piece.find('=');
    URLQueryItem item;
    item.name = percentDecode(piece.substr(0, eq)).value_or(std::string(piece.substr(0, eq)));
    if (eq != std::string_view::npos) {
      item.value = percentDecode(piece.substr(eq + 1)).value_or(std::string(piece.substr(eq + 1)));
    }
    items.push_back(std::move(item));
    if (amp == std::string_view::npos) break;
    rest.remove_prefix(amp + 1);
  }
  return items;
}

URL URL::appendingQueryItems(const std::vector<URLQueryItem>& items) const {
  if (items.empty()) return *this;
  std::string added;
  for (const auto& item : items) {
    if (!added.empty()) added.push_back('&');
    added += percentEncode(item.name, kQueryAllowed);
    if (item.value) added += "=" + percentEncode(*item.value, kQueryAllowed);
  }
  const auto q = query();
  std::string text = text_.substr(0, parts_.pathEnd);
  text += "?";
  if (q && !q->empty()) text += *q + "&";
  text += added;
  if (parts_.fragmentBegin != std::string::npos) text += "#" + text_.substr(parts_.fragmentBegin);
  auto url = URLParser::parse(std::move(text));
  return url ? *url : *this;
}

}  // namespace foundation
