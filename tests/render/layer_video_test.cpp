// Video in a layer (a desktop window's camera preview): drawn by the renderer
// as the layer's content, under its sublayers, and a new frame redraws only
// that layer.
#include <gtest/gtest.h>
#include <morvik/platform/quartz.h>
#include <morvik/platform/uikit.h>
#include <morvik/platform/uikit/UIRendering.h>

#include <cstring>
#include <vector>

#include "uikit/RenderPlugin.h"

namespace {

// One flat NV12 picture per generation, for one layer.
struct FlatVideo {
  const quartz::CALayer* layer = nullptr;
  std::uint64_t generation = 1;
  std::vector<std::uint8_t> y = std::vector<std::uint8_t>(64 * 48, 81), cbcr = std::vector<std::uint8_t>(64 * 24);
  uikit::NV12Frame frame;
  FlatVideo() {
    // BT.601 video-range red.
    for (std::size_t i = 0; i < cbcr.size(); i += 2) cbcr[i] = 90, cbcr[i + 1] = 240;
    frame = {y.data(), 64, cbcr.data(), 64, 64, 48, quartz::CGImagePropertyOrientation::up};
  }
  static const uikit::NV12Frame* provide(void* context, const quartz::CALayer& layer, std::uint64_t& generation) {
    auto* self = static_cast<FlatVideo*>(context);
    if (&layer != self->layer) return nullptr;
    generation = self->generation;
    return &self->frame;
  }
};

std::uint32_t pixel(const std::vector<std::uint8_t>& pixels, int width, int x, int y) {
  std::uint32_t word;
  std::memcpy(&word, &pixels[(static_cast<std::size_t>(y) * width + x) * 4], 4);
  return word;
}

TEST(LayerVideo, DrawnUnderSublayersAndANewFrameRedrawsOnlyItsLayer) {
  const auto* plugin = uikit::detail::renderPlugin();
  ASSERT_TRUE(plugin && plugin->setLayerVideo);
  auto root = std::make_shared<uikit::UIView>(uikit::CGRect{{0, 0}, {100, 100}});
  root->setBackgroundColor(uikit::UIColor::white());
  auto preview = std::make_shared<uikit::UIView>(uikit::CGRect{{10, 10}, {40, 60}});
  preview->setBackgroundColor(uikit::UIColor::blue());
  root->addSubview(preview);
  auto badge = std::make_shared<uikit::UIView>(uikit::CGRect{{0, 0}, {10, 10}});
  badge->setBackgroundColor(uikit::UIColor::green());
  preview->addSubview(badge);

  FlatVideo video;
  video.layer = preview->layer().get();
  void* renderer = plugin->createRenderer();
  plugin->setLayerVideo(renderer, {&FlatVideo::provide, &video});
  std::vector<std::uint8_t> pixels(100 * 100 * 4);
  const uikit::RenderBuffer buffer{pixels.data(), 100, 100, 400};
  plugin->render(renderer, *root, 1, buffer);

  const std::uint32_t inVideo = pixel(pixels, 100, 40, 50), onBadge = pixel(pixels, 100, 14, 14);
  EXPECT_GT((inVideo >> 16) & 0xff, 200u) << std::hex << inVideo << ": the frame (red) is not shown";
  EXPECT_LT(inVideo & 0xff, 60u) << std::hex << inVideo << ": the layer's blue shows through";
  EXPECT_GT((onBadge >> 8) & 0xff, 100u) << std::hex << onBadge << ": the sublayer is under the video";
  EXPECT_EQ(pixel(pixels, 100, 80, 80), 0xffffffffu);

  EXPECT_TRUE(plugin->render(renderer, *root, 1, buffer).empty()) << "the same frame redrawn";
  video.generation = 2;
  const auto damage = plugin->render(renderer, *root, 1, buffer);
  ASSERT_EQ(damage.size(), 1u);
  EXPECT_LE(damage[0].size.width * damage[0].size.height, 44.0 * 64.0) << "more than the video layer redrawn";

  plugin->destroyRenderer(renderer);
}

}  // namespace
