// Internal: the EXIF orientation tag inside JPEG bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace uikit::codec {

// The orientation (1..8) of IFD0 in the first EXIF APP1 segment; nothing for
// data that is not a JPEG, has no such tag, or is malformed (every offset is
// checked against the buffer).
std::optional<int> jpegExifOrientation(const std::uint8_t* data, std::size_t size);

// Inserts an APP1 segment holding only the orientation tag after SOI (and
// after a JFIF APP0 segment when there is one). Does nothing for data that
// does not start with SOI or an orientation outside 1..8.
void insertExifOrientation(std::vector<std::uint8_t>& jpeg, int orientation);

}  // namespace uikit::codec
