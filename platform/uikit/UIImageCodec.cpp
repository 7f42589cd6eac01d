#include "uikit/UIImageCodec.h"

#include <cstring>

namespace uikit::codec {

namespace {

struct Reader {
  const std::uint8_t* p;
  std::size_t n;
  bool big;
  bool u16(std::size_t at, std::uint32_t& out) const {
    if (at > n || n - at < 2) return false;
    out = big ? (p[at] << 8 | p[at + 1]) : (p[at + 1] << 8 | p[at]);
    return true;
  }
  bool u32(std::size_t at, std::uint32_t& out) const {
    if (at > n || n - at < 4) return false;
    out = big ? (std::uint32_t(p[at]) << 24 | std::uint32_t(p[at + 1]) << 16 | std::uint32_t(p[at + 2]) << 8 |
                 p[at + 3])
              : (std::uint32_t(p[at + 3]) << 24 | std::uint32_t(p[at + 2]) << 16 |
                 std::uint32_t(p[at + 1]) << 8 | p[at]);
    return true;
  }
};

// The orientation in a TIFF structure (the APP1 payload after "Exif\0\0").
std::optional<int> tiffOrientation(const std::uint8_t* tiff, std::size_t size) {
  if (size < 8) return std::nullopt;
  Reader r{tiff, size, false};
  if (tiff[0] == 'M' && tiff[1] == 'M')
    r.big = true;
  else if (!(tiff[0] == 'I' && tiff[1] == 'I'))
    return std::nullopt;
  std::uint32_t magic = 0, ifd = 0, count = 0;
  if (!r.u16(2, magic) || magic != 42 || !r.u32(4, ifd) || !r.u16(ifd, count)) return std::nullopt;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = std::size_t(ifd) + 2 + std::size_t(i) * 12;
    std::uint32_t tag = 0, type = 0, value = 0;
    if (!r.u16(entry, tag) || !r.u16(entry + 2, type)) return std::nullopt;
    if (tag != 0x0112) continue;
    if (type != 3 || !r.u16(entry + 8, value)) return std::nullopt;  // SHORT, held inline
    if (value < 1 || value > 8) return std::nullopt;
    return static_cast<int>(value);
  }
  return std::nullopt;
}

}  // namespace

std::optional<int> jpegExifOrientation(const std::uint8_t* data, std::size_t size) {
  if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return std::nullopt;
  std::size_t pos = 2;
  while (pos + 4 <= size) {
    if (data[pos] != 0xFF) return std::nullopt;
    const std::uint8_t marker = data[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
      pos += 2;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return std::nullopt;  // image data: no more headers
    const std::size_t length = std::size_t(data[pos + 2]) << 8 | data[pos + 3];
    if (length < 2 || length > size - pos - 2) return std::nullopt;
    const std::uint8_t* payload = data + pos + 4;
    const std::size_t payloadSize = length - 2;
    if (marker == 0xE1 && payloadSize >= 6 && std::memcmp(payload, "Exif\0\0", 6) == 0)
      return tiffOrientation(payload + 6, payloadSize - 6);
    pos += 2 + length;
  }
  return std::nullopt;
}

void insertExifOrientation(std::vector<std::uint8_t>& jpeg, int orientation) {
  if (orientation < 1 || orientation > 8 || jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return;
  std::size_t at = 2;
  if (jpeg[2] == 0xFF && jpeg[3] == 0xE0 && jpeg.size() >= 6) {
    const std::size_t length = std::size_t(jpeg[4]) << 8 | jpeg[5];
    if (2 + 2 + length <= jpeg.size()) at = 2 + 2 + length;
  }
  const std::uint8_t o = static_cast<std::uint8_t>(orientation);
  const std::uint8_t segment[] = {
      0xFF, 0xE1, 0x00, 34,                            // APP1, length 34
      'E',  'x',  'i',  'f',  0,    0,                 // EXIF header
      'M',  'M',  0x00, 0x2A, 0x00, 0x00, 0x00, 0x08,  // big-endian TIFF, IFD0 at 8
      0x00, 0x01,                                      // one entry
      0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01,  // Orientation, SHORT, count 1
      0x00, o,    0x00, 0x00,                          // value
      0x00, 0x00, 0x00, 0x00,                          // no next IFD
  };
  jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(at), std::begin(segment), std::end(segment));
}

}  // namespace uikit::codec
