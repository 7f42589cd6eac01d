// The compressor's arithmetic: bitrate, frame size and frame total. Internal.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "morvik/compressor/VideoCompressor.h"

namespace morvik::compressor {

inline constexpr float kMinBitrate = 2000000;
inline constexpr double kMinHeight = 640;
inline constexpr double kMinWidth = 360;

inline float qualityFactor(VideoQuality quality) {
  switch (quality) {
    case VideoQuality::very_high:
      return 0.5F;
    case VideoQuality::high:
      return 0.3F;
    case VideoQuality::medium:
      return 0.2F;
    case VideoQuality::low:
      return 0.1F;
    case VideoQuality::very_low:
      return 0.08F;
  }
  return 0.2F;
}

// Truncates toward zero; a value that is not finite or does not fit gives
// the nearest bound instead of undefined behaviour.
template <class Int>
Int truncated(double v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<double>(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
  if (v <= static_cast<double>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
  return static_cast<Int>(v);
}

// The data rate times the quality's factor, in 32-bit float arithmetic.
inline std::int32_t bitrateForQuality(float dataRate, VideoQuality quality) {
  const float product = dataRate * qualityFactor(quality);
  return truncated<std::int32_t>(static_cast<double>(product));
}

inline bool refusedForMinimumBitrate(float dataRate, bool isMinBitRateEnabled) {
  return isMinBitRateEnabled && dataRate <= kMinBitrate;
}

struct OutputSize {
  std::int32_t width = 0;
  std::int32_t height = 0;
  friend bool operator==(const OutputSize&, const OutputSize&) = default;
};

inline OutputSize scaledOutputSize(double w, double h, bool keepOriginalResolution) {
  if (keepOriginalResolution) return {truncated<std::int32_t>(w), truncated<std::int32_t>(h)};
  double width = 0, height = 0;
  if (w >= 1920 || h >= 1920) {
    width = w * 0.5;
    height = h * 0.5;
  } else if (w >= 1280 || h >= 1280) {
    width = w * 0.75;
    height = h * 0.75;
  } else if (w >= 960 || h >= 960) {
    if (h >= w) {
      width = kMinWidth * 0.95;
      height = kMinHeight * 0.95;
    } else {
      width = kMinHeight * 0.95;
      height = kMinWidth * 0.95;
    }
  } else {
    width = w * 0.9;
    height = h * 0.9;
  }
  auto to16 = [](double v) { return truncated<std::int32_t>(std::trunc(v / 16) * 16); };
  return {to16(width), to16(height)};
}

// Duration times frame rate, rounded up; -1 (an indeterminate progress) when
// the product is not a finite 64-bit count.
inline std::int64_t frameTotal(double durationSeconds, float nominalFrameRate) {
  const double frames = std::ceil(durationSeconds * static_cast<double>(nominalFrameRate));
  if (!std::isfinite(frames) || frames < 0 || frames >= 9.2e18) return -1;
  return static_cast<std::int64_t>(frames);
}

}  // namespace morvik::compressor
