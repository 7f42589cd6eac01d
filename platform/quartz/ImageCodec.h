// Internal: image file formats for the platform layers, on libjpeg-turbo and
// libpng directly (OpenCV's image-codec module would bring its whole tree of
// format libraries into every host), plus the EXIF orientation tag in JPEG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <opencv2/core.hpp>
#include <optional>
#include <vector>

namespace quartz::codec {

// Decodes JPEG, PNG or uncompressed BMP bytes into 8-bit pixels: one channel
// for grey images, BGR for colour, BGRA (straight alpha) when the file has
// transparency. Orientation tags are not applied. An empty matrix for bytes in
// another format, truncated or malformed data; never throws, never exits.
cv::Mat decodeImage(const std::uint8_t* data, std::size_t size);

// JPEG at a quality of 1..100 (libjpeg's scale, 4:2:0) from 8-bit grey, BGR
// or BGRA (alpha ignored); empty on failure.
std::vector<std::uint8_t> encodeJPEG(const cv::Mat& image, int quality);

// PNG from 8-bit grey, BGR or BGRA (straight alpha); empty on failure.
std::vector<std::uint8_t> encodePNG(const cv::Mat& image);

// The orientation (1..8) of IFD0 in the first EXIF APP1 segment; nothing for
// data that is not a JPEG, has no such tag, or is malformed (every offset is
// checked against the buffer).
std::optional<int> jpegExifOrientation(const std::uint8_t* data, std::size_t size);

// Inserts an APP1 segment holding only the orientation tag after SOI (and
// after a JFIF APP0 segment when there is one). Does nothing for data that
// does not start with SOI or an orientation outside 1..8.
void insertExifOrientation(std::vector<std::uint8_t>& jpeg, int orientation);

}  // namespace quartz::codec
