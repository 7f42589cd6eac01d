// What the rendering plugin draws for each thing a screen sets, at scales 1,
// 2 and 3; redrawing only what changed; text measured as drawn; and bad
// input drawn as the platform would or skipped, never a crash.
#include <gtest/gtest.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/quartz.h>
#include <morvik/platform/swiftui/Views.h>
#include <morvik/platform/uikit.h>
#include <morvik/platform/uikit/UIRendering.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

using quartz::CGColor;
using quartz::CGRect;
using uikit::UIColor;
using uikit::UIView;

struct Pixels {
  int width = 0, height = 0;
  std::vector<std::uint32_t> words;
  uikit::RenderBuffer buffer() {
    return {reinterpret_cast<std::uint8_t*>(words.data()), width, height, 4 * width};
  }
  std::uint32_t at(int x, int y) const { return words[static_cast<std::size_t>(y) * width + x]; }
};

Pixels blank(const UIView& view, double scale) {
  Pixels p;
  p.width = static_cast<int>(std::ceil(view.bounds().width() * scale));
  p.height = static_cast<int>(std::ceil(view.bounds().height() * scale));
  p.words.assign(static_cast<std::size_t>(p.width) * p.height, 0);
  return p;
}

Pixels render(UIView& view, double scale) {
  Pixels p = blank(view, scale);
  uikit::ViewRenderer renderer;
  renderer.render(view, scale, p.buffer());
  return p;
}

// 0xAARRGGBB of an opaque colour.
std::uint32_t argb(double r, double g, double b) {
  auto c = [](double v) { return static_cast<std::uint32_t>(std::lround(v * 255)); };
  return 0xFF000000u | (c(r) << 16) | (c(g) << 8) | c(b);
}

bool near(std::uint32_t a, std::uint32_t b, int tolerance) {
  for (int shift = 0; shift < 32; shift += 8) {
    const int x = static_cast<int>((a >> shift) & 0xFF), y = static_cast<int>((b >> shift) & 0xFF);
    if (std::abs(x - y) > tolerance) return false;
  }
  return true;
}

std::shared_ptr<UIView> whiteRoot(double w = 100, double h = 100) {
  auto root = std::make_shared<UIView>(CGRect::make(0, 0, w, h));
  root->setBackgroundColor(UIColor::white());
  return root;
}

std::shared_ptr<UIView> box(UIView& parent, CGRect frame, UIColor color) {
  auto v = std::make_shared<UIView>(frame);
  v->setBackgroundColor(color);
  parent.addSubview(v);
  return v;
}

quartz::CGPath squarePath(double x, double y, double side) {
  quartz::CGMutablePath p;
  p.addRect(CGRect::make(x, y, side, side));
  return p;
}

const std::uint32_t kWhite = argb(1, 1, 1), kRed = argb(1, 0, 0), kBlue = argb(0, 0, 1),
                    kBlack = argb(0, 0, 0);

struct Probe {
  double x, y;  // points
  std::uint32_t expected;
};

struct Case {
  const char* name;
  std::function<std::shared_ptr<UIView>()> build;
  std::vector<Probe> probes;
};

TEST(Drawing, WhatTheLayersSetAtEachScale) {
  dispatch::clock::useManualClock();
  const std::vector<Case> cases = {
      {"background and subview",
       [] {
         auto root = whiteRoot();
         box(*root, CGRect::make(10, 10, 30, 30), UIColor::red());
         return root;
       },
       {{5, 5, kWhite}, {25, 25, kRed}}},
      {"hidden, and opacity zero, draw nothing; half opacity blends",
       [] {
         auto root = whiteRoot();
         box(*root, CGRect::make(0, 0, 30, 30), UIColor::red())->setHidden(true);
         box(*root, CGRect::make(30, 0, 30, 30), UIColor::red())->setAlpha(0);
         box(*root, CGRect::make(60, 0, 30, 30), UIColor::black())->setAlpha(0.5);
         return root;
       },
       {{15, 15, kWhite}, {45, 15, kWhite}, {75, 15, argb(0.5, 0.5, 0.5)}}},
      {"corner radius leaves the corner out; border on top of subviews",
       [] {
         auto root = whiteRoot();
         auto v = box(*root, CGRect::make(10, 10, 80, 80), UIColor::red());
         v->layer()->setCornerRadius(20);
         v->layer()->setBorderWidth(4);
         v->layer()->setBorderColor(CGColor::make(0, 0, 1));
         box(*v, CGRect::make(0, 30, 80, 20), UIColor::black());
         return root;
       },
       {{11, 11, kWhite}, {50, 25, kRed}, {51, 11, kBlue}, {89, 40, kBlue}, {50, 45, kBlack}}},
      {"masksToBounds clips subviews to the rounded bounds",
       [] {
         auto root = whiteRoot();
         auto v = box(*root, CGRect::make(20, 20, 60, 60), UIColor::white());
         v->setClipsToBounds(true);
         v->layer()->setCornerRadius(30);
         box(*v, CGRect::make(-20, -20, 100, 100), UIColor::red());
         return root;
       },
       {{10, 10, kWhite}, {22, 22, kWhite}, {50, 50, kRed}}},
      {"an affine transform turns and scales about the centre",
       [] {
         auto root = whiteRoot();
         auto v = box(*root, CGRect::make(40, 40, 20, 20), UIColor::red());
         v->setTransform(quartz::CGAffineTransform::makeScale(2, 1));
         return root;
       },
       {{32, 50, kRed}, {68, 50, kRed}, {50, 35, kWhite}}},
      {"a shadow darkens below the layer",
       [] {
         auto root = whiteRoot();
         auto v = box(*root, CGRect::make(20, 20, 60, 40), UIColor::white());
         v->layer()->setShadowOpacity(1);
         v->layer()->setShadowRadius(0);
         v->layer()->setShadowOffset({0, 10});
         return root;
       },
       {{50, 65, kBlack}, {50, 50, kWhite}, {50, 75, kWhite}}},
      {"a shape layer fills, strokes, dashes and strokes a part",
       [] {
         auto root = whiteRoot();
         auto fill = quartz::CAShapeLayer::layer();
         fill->setPath(squarePath(5, 5, 20));
         fill->setFillColor(CGColor::make(1, 0, 0));
         root->layer()->addSublayer(fill);
         auto stroke = quartz::CAShapeLayer::layer();
         quartz::CGMutablePath line;
         line.move({0, 50});
         line.addLine({100, 50});
         stroke->setPath(line);
         stroke->setFillColor(std::nullopt);
         stroke->setStrokeColor(CGColor::make(0, 0, 1));
         stroke->setLineWidth(6);
         stroke->setStrokeEnd(0.5);
         root->layer()->addSublayer(stroke);
         auto dashed = quartz::CAShapeLayer::layer();
         quartz::CGMutablePath row;
         row.move({0, 80});
         row.addLine({100, 80});
         dashed->setPath(row);
         dashed->setStrokeColor(CGColor::make(0, 0, 0));
         dashed->setLineWidth(6);
         dashed->setLineDashPattern({10, 10});
         root->layer()->addSublayer(dashed);
         return root;
       },
       {{15, 15, kRed}, {25, 50, kBlue}, {75, 50, kWhite}, {5, 80, kBlack}, {15, 80, kWhite}}},
      {"a gradient runs from its start colour to its end colour",
       [] {
         auto root = whiteRoot();
         auto g = quartz::CAGradientLayer::layer();
         g->setFrame(CGRect::make(0, 0, 100, 100));
         g->setColors({CGColor::make(1, 0, 0), CGColor::make(0, 0, 1)});
         root->layer()->addSublayer(g);
         return root;
       },
       {{50, 0.5, argb(1, 0, 0)}, {50, 99.5, argb(0, 0, 1)}, {50, 50, argb(0.5, 0, 0.5)}}},
      {"a running animation shows its presentation value",
       [] {
         auto root = whiteRoot();
         auto v = box(*root, CGRect::make(0, 0, 100, 100), UIColor::black());
         quartz::CABasicAnimation fade("opacity");
         fade.fromValue = 0.0;
         fade.toValue = 1.0;
         fade.duration = 10;
         fade.timingFunction = quartz::CAMediaTimingFunction(quartz::CAMediaTimingFunctionName::linear);
         v->layer()->add(fade, "fade");
         dispatch::clock::advance(5);
         return root;
       },
       {{50, 50, argb(0.5, 0.5, 0.5)}}},
      {"image views place images by content mode; template images take the tint",
       [] {
         auto root = whiteRoot(100, 40);
         // 20 x 10: left half red, right half blue.
         auto image = quartz::CGImage::make(20, 10, quartz::CGImagePixelFormat::rgba8);
         for (int i = 0; i < 200; ++i)
           std::memcpy(image->mutableData() + 4 * i, i % 20 < 10 ? "\xff\x00\x00\xff" : "\x00\x00\xff\xff",
                       4);
         auto fit = std::make_shared<uikit::UIImageView>(uikit::UIImage::make(image));
         fit->setFrame(CGRect::make(0, 0, 40, 40));
         fit->setContentMode(uikit::UIViewContentMode::scaleAspectFit);  // 40 x 20 in the middle
         root->addSubview(fit);
         auto fill = std::make_shared<uikit::UIImageView>(uikit::UIImage::make(image));
         fill->setFrame(CGRect::make(50, 0, 20, 40));
         fill->setContentMode(uikit::UIViewContentMode::scaleAspectFill);  // 80 x 40, cropped
         fill->setClipsToBounds(true);
         root->addSubview(fill);
         auto tinted = std::make_shared<uikit::UIImageView>(
             uikit::UIImage::make(image)->withRenderingMode(uikit::UIImage::RenderingMode::alwaysTemplate));
         tinted->setFrame(CGRect::make(80, 0, 20, 40));
         tinted->setTintColor(UIColor::black());
         root->addSubview(tinted);
         return root;
       },
       {{5, 5, kWhite}, {5, 20, kRed}, {35, 20, kBlue}, {52, 20, kRed}, {68, 20, kBlue}, {90, 20, kBlack}}},
  };
  for (const auto& c : cases) {
    for (double scale : {1.0, 2.0, 3.0}) {
      auto root = c.build();
      const Pixels p = render(*root, scale);
      for (const auto& probe : c.probes) {
        const int x = static_cast<int>(probe.x * scale), y = static_cast<int>(probe.y * scale);
        EXPECT_TRUE(near(p.at(x, y), probe.expected, 24))
            << c.name << " at scale " << scale << ", (" << probe.x << ", " << probe.y << "): " << std::hex
            << p.at(x, y) << " instead of " << probe.expected;
      }
    }
  }
  dispatch::clock::useRealClock();
}

// Dark pixels of a region: where text was drawn.
int inkIn(const Pixels& p, int x0, int y0, int x1, int y1) {
  int n = 0;
  for (int y = std::max(0, y0); y < std::min(p.height, y1); ++y)
    for (int x = std::max(0, x0); x < std::min(p.width, x1); ++x) n += (p.at(x, y) & 0xFF) < 128;
  return n;
}

TEST(Drawing, RedrawsOnlyWhatChangedAndMatchesAFullRedraw) {
  auto root = whiteRoot(200, 200);
  auto label = std::make_shared<uikit::UILabel>(CGRect::make(10, 150, 180, 30));
  label->setText("Move the card closer");
  root->addSubview(label);
  box(*root, CGRect::make(10, 10, 50, 50), UIColor::red());
  Pixels partial = blank(*root, 2);
  uikit::ViewRenderer renderer;
  ASSERT_EQ(renderer.render(*root, 2, partial.buffer()).size(), 1u);
  EXPECT_TRUE(renderer.render(*root, 2, partial.buffer()).empty()) << "nothing changed";

  label->setText("Hold still");
  const auto damage = renderer.render(*root, 2, partial.buffer());
  ASSERT_FALSE(damage.empty());
  for (const auto& r : damage) {
    EXPECT_GE(r.minY(), 140) << "only around the label";
    EXPECT_LE(r.maxY(), 190);
  }
  const Pixels full = render(*root, 2);
  EXPECT_EQ(partial.words, full.words);

  // A pressed button dims its title.
  auto button = std::make_shared<uikit::UIButton>(uikit::UIButton::ButtonType::system);
  button->setFrame(CGRect::make(10, 70, 100, 40));
  button->setTitle("Start", uikit::UIControlState::normal);
  button->setTitleColor(UIColor::black(), uikit::UIControlState::normal);
  root->addSubview(button);
  renderer.render(*root, 2, partial.buffer());
  const int inkBefore = inkIn(partial, 20, 140, 220, 220);
  button->setHighlighted(true);
  ASSERT_FALSE(renderer.render(*root, 2, partial.buffer()).empty());
  EXPECT_GT(inkBefore, 50);
  EXPECT_EQ(inkIn(partial, 20, 140, 220, 220), 0) << "the title is drawn light while pressed";
  button->removeFromSuperview();

  // A hosted text field draws its caret, in the tint, after its text while
  // it is first responder.
  auto field = std::make_shared<swiftui::HostedTextField>();
  field->setTranslatesAutoresizingMaskIntoConstraints(true);
  field->setFrame(CGRect::make(10, 70, 180, 30));
  field->setText("ab");
  field->setTintColor(UIColor::red());
  root->addSubview(field);
  renderer.render(*root, 2, partial.buffer());
  const auto caret = field->caretRect();
  const int cx = static_cast<int>((10 + caret.midX()) * 2), cy = static_cast<int>((70 + caret.midY()) * 2);
  EXPECT_GT(caret.minX(), 5) << "after the text";
  EXPECT_EQ(partial.at(cx, cy), kWhite);
  field->becomeFirstResponder();
  ASSERT_FALSE(renderer.render(*root, 2, partial.buffer()).empty());
  EXPECT_TRUE(near(partial.at(cx, cy), kRed, 60)) << std::hex << partial.at(cx, cy);
  field->resignFirstResponder();
  renderer.render(*root, 2, partial.buffer());
  EXPECT_EQ(partial.at(cx, cy), kWhite);
  field->removeFromSuperview();

  // A pressed bar item (the Close disc here) is drawn dimmed until released.
  {
    auto screen = std::make_shared<uikit::UIViewController>();
    screen->view()->setBackgroundColor(UIColor::white());
    screen->navigationItem().leftBarButtonItem =
        std::make_shared<uikit::UIBarButtonItem>(uikit::UIBarButtonItem::SystemItem::close, nullptr, [] {});
    auto nav = std::make_shared<uikit::UINavigationController>(screen);
    nav->view()->setFrame(CGRect::make(0, 0, 200, 100));
    Pixels bar = blank(*nav->view(), 2);
    uikit::ViewRenderer barRenderer;
    auto shade = [&] {  // how dark the disc and its cross are
      long sum = 0;
      for (int y = 0; y < 88; ++y)
        for (int x = 0; x < 100; ++x) {
          const auto w = bar.at(x, y);
          sum += 255 - static_cast<int>(std::min({w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF}));
        }
      return sum;
    };
    barRenderer.render(*nav->view(), 2, bar.buffer());
    const long normal = shade();
    nav->setHighlightedBarButton(uikit::UINavigationController::BarButton::leading);
    ASSERT_FALSE(barRenderer.render(*nav->view(), 2, bar.buffer()).empty());
    EXPECT_GT(normal, 0);
    EXPECT_LT(shade(), normal / 2) << "the pressed item is not dimmed";
    nav->setHighlightedBarButton(uikit::UINavigationController::BarButton::none);
    barRenderer.render(*nav->view(), 2, bar.buffer());
    EXPECT_EQ(shade(), normal);
  }

  // Removing a view redraws where it was.
  root->subviews().back()->removeFromSuperview();
  renderer.render(*root, 2, partial.buffer());
  EXPECT_EQ(partial.at(60, 60), kWhite);
}

TEST(Drawing, TextIsMeasuredAsDrawnAndCutWithATailEllipsis) {
  ASSERT_TRUE(uikit::renderingAvailable());
  const auto font = uikit::UIFont::systemFont(18, uikit::UIFont::Weight::bold);
  // The width layout uses is the width of the drawn ink (within a pixel).
  auto root = whiteRoot(400, 40);
  auto label = std::make_shared<uikit::UILabel>();
  label->setFont(font);
  label->setText("Identification");
  label->sizeToFit();
  root->addSubview(label);
  const Pixels p = render(*root, 1);
  int right = 0;
  for (int x = 0; x < p.width; ++x)
    if (inkIn(p, x, 0, x + 1, 40) > 0) right = x;
  EXPECT_NEAR(right + 1, label->bounds().width(), 2.5);

  // A step card's title: two lines at most, the second cut with "…".
  auto title = std::make_shared<uikit::UILabel>(CGRect::make(0, 0, 142, 60));
  title->setFont(font);
  title->setNumberOfLines(2);
  title->setText("Back of Identification (MRZ) and more words than fit");
  const auto lines = title->renderedLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].substr(lines[1].size() - 3), "\u2026");
  EXPECT_LE(uikit::textWidth(lines[1], font), 142 + 1e-3);
}

TEST(Drawing, BadInputIsSkippedOrDrawnAsThePlatformWould) {
  dispatch::clock::useManualClock();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::string longText(100000, 'W');
  std::string words;
  for (int i = 0; i < 10000; ++i) words += "word ";
  const std::vector<std::pair<const char*, std::function<void(UIView&)>>> inputs = {
      {"an image that does not decode",
       [](UIView& root) {
         auto broken = uikit::UIImage::fromData(foundation::Data::fromString("\x89PNG not really"));
         auto v = std::make_shared<uikit::UIImageView>(broken);
         v->setFrame(CGRect::make(0, 0, 50, 50));
         root.addSubview(v);
       }},
      {"an empty bitmap",
       [](UIView& root) {
         auto v = std::make_shared<uikit::UIImageView>(
             uikit::UIImage::make(quartz::CGImage::make(0, 0, quartz::CGImagePixelFormat::bgra8)));
         v->setFrame(CGRect::make(0, 0, 50, 50));
         root.addSubview(v);
       }},
      {"zero and negative sizes",
       [](UIView& root) {
         box(root, CGRect::make(10, 10, 0, 0), UIColor::red())->layer()->setCornerRadius(5);
         auto v = box(root, CGRect::make(10, 10, 20, 20), UIColor::red());
         v->setBounds(CGRect::make(0, 0, -20, -5));
         v->layer()->setShadowOpacity(1);
       }},
      {"a huge corner radius and border",
       [](UIView& root) {
         auto v = box(root, CGRect::make(10, 10, 40, 20), UIColor::red());
         v->layer()->setCornerRadius(1e9);
         v->layer()->setBorderWidth(1e9);
         v->layer()->setShadowOpacity(1);
         v->layer()->setShadowRadius(1e6);
       }},
      {"a NaN or infinite transform and frame",
       [nan, inf](UIView& root) {
         box(root, CGRect::make(10, 10, 20, 20), UIColor::red())
             ->setTransform(quartz::CGAffineTransform{nan, 0, 0, 1, 0, 0});
         box(root, CGRect::make(10, 10, 20, 20), UIColor::red())
             ->setTransform(quartz::CGAffineTransform{0, 0, 0, 0, 0, 0});
         box(root, CGRect::make(inf, 10, 20, nan), UIColor::red());
         auto shape = quartz::CAShapeLayer::layer();
         quartz::CGMutablePath p;
         p.move({nan, 0});
         p.addLine({inf, 5});
         p.addQuadCurve({1, 1}, {2, 2});
         shape->setPath(p);
         shape->setStrokeColor(CGColor::make(0, 0, 0));
         shape->setLineDashPattern({nan, -1});
         shape->setStrokeEnd(0.5);
         root.layer()->addSublayer(shape);
       }},
      {"empty and 100,000-character texts",
       [&](UIView& root) {
         for (const std::string* text : std::vector<const std::string*>{&longText, &words}) {
           for (int lines : {0, 1, 3}) {
             auto label = std::make_shared<uikit::UILabel>(CGRect::make(0, 0, 90, 90));
             label->setNumberOfLines(lines);
             label->setText(*text);
             root.addSubview(label);
           }
         }
         auto empty = std::make_shared<uikit::UILabel>(CGRect::make(0, 0, 90, 90));
         empty->setText("");
         root.addSubview(empty);
         auto field = std::make_shared<uikit::UITextField>(CGRect::make(0, 0, 90, 30));
         field->setText(longText);
         root.addSubview(field);
         auto textView = std::make_shared<uikit::UITextView>(CGRect::make(0, 0, 90, 90));
         textView->setText(words);
         root.addSubview(textView);
       }},
      {"a font family that does not exist, and stray bytes",
       [nan](UIView& root) {
         foundation::TextAttributes attributes;
         attributes.fontFamily = "No Such Font Family";
         attributes.bold = true;
         attributes.link = "https://example.com";
         auto label = std::make_shared<uikit::UILabel>(CGRect::make(0, 0, 90, 30));
         label->setAttributedText(foundation::NSAttributedString("linked \xff\xfe text", attributes));
         root.addSubview(label);
         auto font = std::make_shared<uikit::UILabel>(CGRect::make(0, 30, 90, 30));
         font->setFont(uikit::UIFont::systemFont(nan));
         font->setText("NaN-sized");
         root.addSubview(font);
       }},
  };
  for (const auto& [name, add] : inputs) {
    SCOPED_TRACE(name);
    auto root = whiteRoot();
    add(*root);
    const Pixels p = render(*root, 2);
    EXPECT_EQ(p.at(199, 199), kWhite) << "the rest of the view is still drawn";
  }
  // Unusable buffers and scales draw nothing.
  auto root = whiteRoot();
  uikit::ViewRenderer renderer;
  std::uint32_t one = 0;
  EXPECT_TRUE(renderer.render(*root, 2, {nullptr, 10, 10, 40}).empty());
  EXPECT_TRUE(renderer.render(*root, 2, {reinterpret_cast<std::uint8_t*>(&one), 1, 1, 2}).empty());
  EXPECT_TRUE(renderer.render(*root, nan, {reinterpret_cast<std::uint8_t*>(&one), 1, 1, 4}).empty());
  EXPECT_FALSE(uikit::snapshotPNG(*std::make_shared<UIView>(), 2));
  EXPECT_FALSE(uikit::snapshotPNG(*root, -1));
  dispatch::clock::useRealClock();
}

// A camera frame fills the rectangle it is given, turned upright.
TEST(Drawing, VideoFramesFillTheirRectangleUpright) {
  // 4 x 2 NV12: left half black, right half white (luma 16 and 235).
  const std::uint8_t y[8] = {16, 16, 235, 235, 16, 16, 235, 235};
  const std::uint8_t cbcr[4] = {128, 128, 128, 128};
  Pixels p;
  p.width = 4, p.height = 8;
  p.words.assign(32, 0);
  uikit::NV12Frame frame{y, 4, cbcr, 4, 4, 2, quartz::CGImagePropertyOrientation::right};
  ASSERT_TRUE(uikit::drawVideoFrame(frame, p.buffer(), 0, 0, 4, 8));
  // Turned right: the frame's left (black) comes to the top.
  EXPECT_EQ(p.at(1, 0), kBlack);
  EXPECT_EQ(p.at(1, 7), kWhite);
  frame.width = 1;  // too small for its planes' layout
  EXPECT_FALSE(uikit::drawVideoFrame(frame, p.buffer(), 0, 0, 4, 8));
}

// The preview layer shows the frames it is given; each new one redraws its region.
TEST(Drawing, APreviewLayerShowsTheLatestCameraFrame) {
  auto root = whiteRoot(100, 100);
  auto preview = quartz::CALayer::layer();
  preview->setFrame(CGRect::make(0, 50, 100, 50));
  root->layer()->addSublayer(preview);
  std::vector<std::uint8_t> y(8 * 4, 235), cbcr(8 * 2, 128);
  uikit::NV12Frame frame{y.data(), 8, cbcr.data(), 8, 8, 4, quartz::CGImagePropertyOrientation::up};
  Pixels p = blank(*root, 2);
  uikit::ViewRenderer renderer;
  renderer.setVideoFrame(*preview, frame);
  renderer.render(*root, 2, p.buffer());
  EXPECT_EQ(p.at(100, 150), kWhite);
  std::fill(y.begin(), y.end(), 16);  // the next frame is black
  renderer.setVideoFrame(*preview, frame);
  const auto damage = renderer.render(*root, 2, p.buffer());
  ASSERT_EQ(damage.size(), 1u);
  EXPECT_GE(damage[0].minY(), 49);
  EXPECT_EQ(p.at(100, 150), kBlack);
  EXPECT_EQ(p.at(100, 50), kWhite) << "nothing outside the preview is drawn again";
  renderer.setVideoFrame(*preview, std::nullopt);
  renderer.render(*root, 2, p.buffer());
  EXPECT_EQ(p.at(100, 150), kWhite);
}

}  // namespace
