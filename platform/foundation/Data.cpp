#include <fcntl.h>
#include <morvik/platform/foundation/Data.h>
#include <morvik/platform/foundation/Error.h>
#include <morvik/platform/foundation/URL.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace foundation {
namespace {

// Cocoa's file error codes, so callers can tell "no such file" from other
// failures.
constexpr int kFileReadNoSuchFile = 260;
constexpr int kFileReadUnknown = 256;
constexpr int kFileWriteUnknown = 512;

[[noreturn]] void fail(int code, const std::string& what, const std::string& path, int err) {
  throw NSError(NSCocoaErrorDomain, code, what + " \"" + path + "\": " + std::strerror(err));
}

}  // namespace

Data::Data(const void* bytes, std::size_t count) {
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  if (count > 0) bytes_.assign(p, p + count);
}

Data Data::fromString(std::string_view text) { return Data(text.data(), text.size()); }

void Data::append(const void* bytes, std::size_t count) {
  if (count == 0) return;
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  bytes_.insert(bytes_.end(), p, p + count);
}

std::optional<std::string> Data::utf8String() const {
  std::string text = rawString();
  if (!isValidUTF8(text)) return std::nullopt;
  return text;
}

Data Data::contentsOf(const URL& url) {
  if (!url.isFileURL()) {
    throw NSError(NSCocoaErrorDomain, kFileReadUnknown,
                  "The file couldn't be opened: \"" + url.absoluteString() + "\" is not a file URL.");
  }
  const std::string path = url.path();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    fail(err == ENOENT ? kFileReadNoSuchFile : kFileReadUnknown, "The file couldn't be opened:", path, err);
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[64 * 1024];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      fail(kFileReadUnknown, "The file couldn't be read:", path, err);
    }
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  ::close(fd);
  return Data(std::move(bytes));
}

void Data::write(const URL& to) const {
  if (!to.isFileURL()) {
    throw NSError(NSCocoaErrorDomain, kFileWriteUnknown,
                  "The file couldn't be saved: \"" + to.absoluteString() + "\" is not a file URL.");
  }
  const std::string path = to.path();
  // Write beside the target and rename, so readers never see half a file.
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) fail(kFileWriteUnknown, "The file couldn't be saved:", path, errno);
  std::size_t written = 0;
  while (written < bytes_.size()) {
    const ssize_t n = ::write(fd, bytes_.data() + written, bytes_.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      fail(kFileWriteUnknown, "The file couldn't be saved:", path, err);
    }
    written += static_cast<std::size_t>(n);
  }
  // mkstemp creates 0600; give the file the usual permissions.
  ::fchmod(fd, 0644);
  if (::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    fail(kFileWriteUnknown, "The file couldn't be saved:", path, err);
  }
}

bool isValidUTF8(std::string_view bytes) {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    std::uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto cc = static_cast<unsigned char>(bytes[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000)) return false;
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

}  // namespace foundation
