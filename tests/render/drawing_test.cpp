#include <gtest/gtest.h>
#include <morvik/platform/uikit.h>
#include <morvik/platform/uikit/UIRendering.h>

#include <cstring>
#include <vector>

namespace {

using quartz::CGRect;

struct Pixels {
  int width = 0, height = 0;
  std::vector<std::uint32_t> words;
  uikit::RenderBuffer buffer() {
    return {reinterpret_cast<std::uint8_t*>(words.data()), width, height, 4 * width};
  }
  std::uint32_t at(int x, int y) const { return words[static_cast<std::size_t>(y) * width + x]; }
};

Pixels render(uikit::UIView& view, double scale) {
  Pixels p;
  p.width = static_cast<int>(view.bounds().width() * scale);
  p.height = static_cast<int>(view.bounds().height() * scale);
  p.words.assign(static_cast<std::size_t>(p.width) * p.height, 0);
  uikit::ViewRenderer renderer;
  renderer.render(view, scale, p.buffer());
  return p;
}

TEST(Drawing, BackgroundAndSubviewAtEachScale) {
  for (double scale : {1.0, 2.0, 3.0}) {
    auto root = std::make_shared<uikit::UIView>(CGRect::make(0, 0, 40, 30));
    root->setBackgroundColor(uikit::UIColor::white());
    auto child = std::make_shared<uikit::UIView>(CGRect::make(10, 10, 10, 10));
    child->setBackgroundColor(uikit::UIColor::red());
    root->addSubview(child);
    auto p = render(*root, scale);
    EXPECT_EQ(p.at(1, 1), 0xFFFFFFFFu) << scale;
    EXPECT_EQ(p.at(static_cast<int>(15 * scale), static_cast<int>(15 * scale)), 0xFFFF0000u) << scale;
  }
}

}  // namespace
