#include "quartz/ImageCodec.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

// libjpeg's and libpng's headers, after the standard ones they expect.
#include <jpeglib.h>
#include <png.h>

namespace quartz::codec {

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

// ---- pixel formats -------------------------------------------------------------------------

namespace {

// Larger claims than this in a header are refused before anything is
// allocated: a few bytes of a hostile file must not ask for gigabytes.
constexpr std::uint64_t kMaxSide = 1u << 15;
constexpr std::uint64_t kMaxPixels = 1u << 28;

bool sizeAcceptable(std::uint64_t width, std::uint64_t height) {
  return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide && width * height <= kMaxPixels;
}

// libjpeg reports a fatal error by calling error_exit, which must not return:
// jump back to the call that set the trap. Warnings (a truncated stream, say)
// are not printed: the host's console carries only its own messages.
struct JpegTrap {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void jpegFail(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegTrap*>(info->err)->jump, 1);
}
void jpegQuiet(j_common_ptr) {}

void installTrap(JpegTrap& trap, jpeg_common_struct& info) {
  info.err = jpeg_std_error(&trap.manager);
  trap.manager.error_exit = jpegFail;
  trap.manager.output_message = jpegQuiet;
}

// Adobe writes CMYK inverted; the usual product gives the colour.
void cmykToBGR(const cv::Mat& cmyk, cv::Mat& bgr) {
  bgr.create(cmyk.rows, cmyk.cols, CV_8UC3);
  for (int y = 0; y < cmyk.rows; ++y) {
    const std::uint8_t* in = cmyk.ptr<std::uint8_t>(y);
    std::uint8_t* out = bgr.ptr<std::uint8_t>(y);
    for (int x = 0; x < cmyk.cols; ++x, in += 4, out += 3) {
      const unsigned k = in[3];
      out[0] = static_cast<std::uint8_t>(in[2] * k / 255);
      out[1] = static_cast<std::uint8_t>(in[1] * k / 255);
      out[2] = static_cast<std::uint8_t>(in[0] * k / 255);
    }
  }
}

// Everything that allocates lives in `out`, owned by the caller, so the jump
// skips no destructor.
bool decodeJPEG(const std::uint8_t* data, std::size_t size, cv::Mat& out, bool& cmyk) {
  jpeg_decompress_struct info{};
  JpegTrap trap{};
  installTrap(trap, *reinterpret_cast<jpeg_common_struct*>(&info));
  if (setjmp(trap.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK ||
      !sizeAcceptable(info.image_width, info.image_height)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  int channels = 3;
  switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE:
      info.out_color_space = JCS_GRAYSCALE;
      channels = 1;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      info.out_color_space = JCS_CMYK;
      channels = 4;
      cmyk = true;
      break;
    default:
      info.out_color_space = JCS_EXT_BGR;
  }
  jpeg_start_decompress(&info);
  out.create(static_cast<int>(info.output_height), static_cast<int>(info.output_width), CV_8UC(channels));
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out.ptr<std::uint8_t>(static_cast<int>(info.output_scanline));
    if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

// libpng's fatal errors jump back like libjpeg's; its warnings (an sRGB
// profile it dislikes, say) are not printed.
[[noreturn]] void pngFail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngQuiet(png_structp, png_const_charp) {}

struct PngSource {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at;
};

void pngRead(png_structp png, png_bytep out, png_size_t count) {
  auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
  if (source->size - source->at < count) png_error(png, "truncated");
  std::memcpy(out, source->data + source->at, count);
  source->at += count;
}

// The classic interface rather than the simplified one: that one treats
// 16-bit samples as linear light and re-encodes them, which darkens ordinary
// 16-bit photographs. Samples are kept as stored, 16 bits cut to 8.
bool decodePNGInto(const std::uint8_t* data, std::size_t size, cv::Mat& out) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFail, pngQuiet);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  PngSource source{data, size, 0};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &source, pngRead);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  if (!sizeAcceptable(width, height)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  const int colourType = png_get_color_type(png, info);
  png_set_strip_16(png);
  png_set_packing(png);
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8)
    png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (colourType == PNG_COLOR_TYPE_GRAY_ALPHA ||
      (colourType == PNG_COLOR_TYPE_GRAY && png_get_valid(png, info, PNG_INFO_tRNS)))
    png_set_gray_to_rgb(png);  // grey with alpha: one four-channel layout
  png_set_bgr(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const int channels = png_get_channels(png, info);
  if (channels != 1 && channels != 3 && channels != 4) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  out.create(static_cast<int>(height), static_cast<int>(width), CV_8UC(channels));
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < height; ++y)
      png_read_row(png, out.ptr<std::uint8_t>(static_cast<int>(y)), nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

cv::Mat decodePNG(const std::uint8_t* data, std::size_t size) {
  cv::Mat out;
  if (!decodePNGInto(data, size, out)) return {};
  return out;
}

std::uint32_t le32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

// Uncompressed 24- and 32-bit BMP only: what image folders of test frames hold.
cv::Mat decodeBMP(const std::uint8_t* data, std::size_t size) {
  if (size < 54) return {};
  const std::uint32_t offset = le32(data + 10), header = le32(data + 14);
  const auto width = static_cast<std::int32_t>(le32(data + 18));
  const auto height = static_cast<std::int32_t>(le32(data + 22));
  const unsigned planes = data[26] | data[27] << 8, bpp = data[28] | data[29] << 8;
  const std::uint32_t compression = le32(data + 30);
  if (header < 40 || planes != 1 || (bpp != 24 && bpp != 32)) return {};
  if (compression != 0 && !(compression == 3 && bpp == 32)) return {};
  const std::int64_t rows = height < 0 ? -std::int64_t(height) : height;
  if (width <= 0 || !sizeAcceptable(std::uint64_t(width), std::uint64_t(rows))) return {};
  const std::uint64_t bytesPerPixel = bpp / 8;
  const std::uint64_t stride = (std::uint64_t(width) * bytesPerPixel + 3) & ~std::uint64_t(3);
  if (offset > size || (size - offset) / stride < std::uint64_t(rows)) return {};
  cv::Mat out(static_cast<int>(rows), width, CV_8UC3);
  for (std::int64_t y = 0; y < rows; ++y) {
    const std::int64_t stored = height < 0 ? y : rows - 1 - y;  // bottom-up unless the height is negative
    const std::uint8_t* in = data + offset + std::uint64_t(stored) * stride;
    std::uint8_t* o = out.ptr<std::uint8_t>(static_cast<int>(y));
    for (std::int32_t x = 0; x < width; ++x, in += bytesPerPixel, o += 3) std::memcpy(o, in, 3);
  }
  return out;
}

}  // namespace

cv::Mat decodeImage(const std::uint8_t* data, std::size_t size) {
  if (!data || size < 8) return {};
  try {
    if (data[0] == 0xFF && data[1] == 0xD8) {
      cv::Mat out;
      bool cmyk = false;
      if (!decodeJPEG(data, size, out, cmyk)) return {};
      if (cmyk) {
        cv::Mat bgr;
        cmykToBGR(out, bgr);
        return bgr;
      }
      return out;
    }
    static const std::uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (std::memcmp(data, pngSignature, 8) == 0) return decodePNG(data, size);
    if (data[0] == 'B' && data[1] == 'M') return decodeBMP(data, size);
  } catch (const cv::Exception&) {
  } catch (const std::bad_alloc&) {
  }
  return {};
}

namespace {

struct JpegOutput {
  unsigned char* bytes = nullptr;
  unsigned long size = 0;
};

bool compressJPEG(const cv::Mat& image, int quality, JpegOutput& output) {
  jpeg_compress_struct info{};
  JpegTrap trap{};
  installTrap(trap, *reinterpret_cast<jpeg_common_struct*>(&info));
  if (setjmp(trap.jump)) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &output.bytes, &output.size);
  info.image_width = static_cast<JDIMENSION>(image.cols);
  info.image_height = static_cast<JDIMENSION>(image.rows);
  switch (image.channels()) {
    case 1:
      info.input_components = 1;
      info.in_color_space = JCS_GRAYSCALE;
      break;
    case 3:
      info.input_components = 3;
      info.in_color_space = JCS_EXT_BGR;
      break;
    default:
      info.input_components = 4;
      info.in_color_space = JCS_EXT_BGRX;
  }
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    auto* row = const_cast<JSAMPROW>(image.ptr<std::uint8_t>(static_cast<int>(info.next_scanline)));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

bool encodable(const cv::Mat& image) {
  return !image.empty() && image.depth() == CV_8U && image.dims == 2 &&
         (image.channels() == 1 || image.channels() == 3 || image.channels() == 4);
}

}  // namespace

std::vector<std::uint8_t> encodeJPEG(const cv::Mat& image, int quality) {
  if (!encodable(image)) return {};
  JpegOutput output;
  const bool ok = compressJPEG(image, std::clamp(quality, 1, 100), output);
  std::unique_ptr<unsigned char, decltype(&std::free)> owned(output.bytes, &std::free);
  if (!ok || !output.bytes) return {};
  return {output.bytes, output.bytes + output.size};
}

std::vector<std::uint8_t> encodePNG(const cv::Mat& image) {
  if (!encodable(image)) return {};
  png_image info{};
  info.version = PNG_IMAGE_VERSION;
  info.width = static_cast<png_uint_32>(image.cols);
  info.height = static_cast<png_uint_32>(image.rows);
  info.format = image.channels() == 1   ? PNG_FORMAT_GRAY
                : image.channels() == 3 ? PNG_FORMAT_BGR
                                        : PNG_FORMAT_BGRA;
  const auto stride = static_cast<png_int_32>(image.step[0]);
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&info, nullptr, &size, 0, image.data, stride, nullptr) || size == 0)
    return {};
  std::vector<std::uint8_t> out(size);
  if (!png_image_write_to_memory(&info, out.data(), &size, 0, image.data, stride, nullptr)) return {};
  out.resize(size);
  return out;
}

}  // namespace quartz::codec
