#include <gtest/gtest.h>
#include <morvik/platform/uikit/UIGraphics.h>
#include <morvik/platform/uikit/UIImage.h>

#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <random>
#include <thread>

using namespace uikit;
using quartz::CGImage;
using quartz::CGImagePixelFormat;
using quartz::CGRect;
using quartz::CGSize;
using O = UIImage::Orientation;

namespace {

// An asymmetric w x h opaque image: every pixel has its own colour.
quartz::CGImageRef patterned(std::size_t w, std::size_t h) {
  auto img = CGImage::make(w, h, CGImagePixelFormat::bgra8);
  for (std::size_t y = 0; y < h; ++y)
    for (std::size_t x = 0; x < w; ++x) {
      std::uint8_t* p = img->mutableData() + y * img->bytesPerRow() + x * 4;
      p[0] = static_cast<std::uint8_t>(10 + 40 * x);
      p[1] = static_cast<std::uint8_t>(20 + 50 * y);
      p[2] = static_cast<std::uint8_t>(7 * (x + 1) * (y + 2));
      p[3] = 255;
    }
  return img;
}

std::array<std::uint8_t, 4> pixel(const CGImage& img, std::size_t x, std::size_t y) {
  const std::uint8_t* p = img.data() + y * img.bytesPerRow() + x * img.bytesPerPixel();
  return {p[0], p[1], p[2], p[3]};
}

// The stored pixel shown at (x, y), from the EXIF definitions of row 0 and column 0.
std::pair<std::size_t, std::size_t> storedAt(O o, std::size_t x, std::size_t y, std::size_t w,
                                             std::size_t h) {
  switch (o) {
    case O::up:
      return {x, y};
    case O::upMirrored:
      return {w - 1 - x, y};
    case O::down:
      return {w - 1 - x, h - 1 - y};
    case O::downMirrored:
      return {x, h - 1 - y};
    case O::leftMirrored:
      return {y, x};
    case O::right:
      return {y, h - 1 - x};
    case O::rightMirrored:
      return {w - 1 - y, h - 1 - x};
    case O::left:
      return {w - 1 - y, x};
  }
  return {x, y};
}

void expectShownUpright(const UIImage& shown, const CGImage& stored, O o) {
  const auto& out = *shown.cgImage();
  const bool swap = o == O::left || o == O::right || o == O::leftMirrored || o == O::rightMirrored;
  ASSERT_EQ(out.width(), swap ? stored.height() : stored.width());
  ASSERT_EQ(out.height(), swap ? stored.width() : stored.height());
  for (std::size_t y = 0; y < out.height(); ++y)
    for (std::size_t x = 0; x < out.width(); ++x) {
      const auto [u, v] = storedAt(o, x, y, stored.width(), stored.height());
      ASSERT_EQ(pixel(out, x, y), pixel(stored, u, v)) << "orientation " << int(o) << " at " << x << "," << y;
    }
}

const O kAll[] = {O::up,         O::down,         O::left,         O::right,
                  O::upMirrored, O::downMirrored, O::leftMirrored, O::rightMirrored};

class TempDir {
 public:
  TempDir() {
    path_ = std::filesystem::temp_directory_path() /
            ("uikit_images_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }
  void write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    std::ofstream(path_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_;
};

std::vector<std::uint8_t> png(int w, int h) {
  std::vector<std::uint8_t> out;
  cv::imencode(".png", cv::Mat(h, w, CV_8UC4, cv::Scalar(10, 20, 30, 255)), out);
  return out;
}

}  // namespace

TEST(UIImageOrientationTest, UprightRedrawAndContextDrawingShowEveryOrientationTheSameWay) {
  const auto stored = patterned(5, 3);
  for (O o : kAll) {
    auto image = UIImage::make(stored, 2, o);
    const CGSize size = image->size();
    const bool swap = o == O::left || o == O::right || o == O::leftMirrored || o == O::rightMirrored;
    EXPECT_EQ(size, swap ? (CGSize{1.5, 2.5}) : (CGSize{2.5, 1.5}));

    auto upright = image->uprightImage();
    EXPECT_EQ(upright->imageOrientation(), O::up);
    EXPECT_EQ(upright->scale(), 2);
    expectShownUpright(*upright, *stored, o);

    // What the capture screen does: draw at the image's size into a context of its scale.
    UIGraphicsBeginImageContextWithOptions(size, false, image->scale());
    image->draw(CGRect{{0, 0}, size});
    auto drawn = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    ASSERT_TRUE(drawn);
    expectShownUpright(*drawn, *stored, o);
  }
}

TEST(UIImageOrientationTest, MirroringThroughAFlippedContext) {
  auto image = UIImage::make(patterned(4, 3), 1, O::up);
  const CGSize size = image->size();
  auto mirrored = UIGraphicsImageRenderer(size).image([&](UIGraphicsImageRendererContext& ctx) {
    ctx.cgContext().translateBy(size.width, 0);
    ctx.cgContext().scaleBy(-1, 1);
    image->draw(CGRect{{0, 0}, size});
  });
  ASSERT_TRUE(mirrored);
  expectShownUpright(*mirrored, *image->cgImage(), O::upMirrored);
  EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);  // the renderer popped its context
}

TEST(UIGraphicsTest, ContextsStackAndDegenerateSizesYieldNoImage) {
  UIGraphicsEndImageContext();  // nothing to end: harmless
  EXPECT_EQ(UIGraphicsGetImageFromCurrentImageContext(), nullptr);
  UIGraphicsBeginImageContextWithOptions({0, 10}, false, 1);
  EXPECT_EQ(UIGraphicsGetImageFromCurrentImageContext(), nullptr);
  UIGraphicsBeginImageContextWithOptions({2, 2}, true, 0);  // scale 0 means 1
  auto* ctx = UIGraphicsGetCurrentContext();
  ctx->setFillColor(quartz::CGColor::make(1, 0, 0, 0.5));
  ctx->fill(CGRect::make(0, 0, 1, 2));
  auto img = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  UIGraphicsEndImageContext();
  ASSERT_TRUE(img);
  EXPECT_EQ(img->cgImage()->width(), 2u);
  EXPECT_EQ(pixel(*img->cgImage(), 0, 1),
            (std::array<std::uint8_t, 4>{0, 0, 128, 255}));  // over opaque black
  EXPECT_EQ(pixel(*img->cgImage(), 1, 1), (std::array<std::uint8_t, 4>{0, 0, 0, 255}));
}

TEST(UIGraphicsTest, ScaledDrawingCoversTheWholeTarget) {
  auto image = UIImage::make(patterned(2, 2), 1, O::up);
  auto big = UIGraphicsImageRenderer({3, 3}, {2, false}).image([&](UIGraphicsImageRendererContext&) {
    image->draw(CGRect::make(0, 0, 3, 3));
  });
  ASSERT_TRUE(big);
  EXPECT_EQ(big->scale(), 2);
  EXPECT_EQ(big->size(), (CGSize{3, 3}));
  for (std::size_t y = 0; y < 6; ++y)
    for (std::size_t x = 0; x < 6; ++x) EXPECT_EQ(pixel(*big->cgImage(), x, y)[3], 255);
}

TEST(UIImageCodingTest, JpegQualityChangesTheSizeAndOrientationSurvives) {
  // Noise compresses badly, so quality makes a large difference.
  auto noisy = CGImage::make(64, 48, CGImagePixelFormat::bgra8);
  std::mt19937 rng(7);
  for (std::size_t i = 0; i < 64 * 48 * 4; ++i) noisy->mutableData()[i] = (i % 4 == 3) ? 255 : rng() & 0xFF;
  auto image = UIImage::make(noisy, 1, O::right);
  const auto high = image->jpegData(0.9), low = image->jpegData(0.1);
  ASSERT_TRUE(high && low);
  EXPECT_LT(low->count(), high->count() * 2 / 3);

  auto decoded = UIImage::fromData(*low);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->imageOrientation(), O::right);
  EXPECT_EQ(decoded->cgImage()->width(), 64u);  // stored as it was
  EXPECT_EQ(decoded->size(), (CGSize{48, 64}));

  for (O o : kAll) {
    auto again = UIImage::fromData(*UIImage::make(noisy, 1, o)->jpegData(0.5));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->imageOrientation(), o);
  }
  // Out-of-range qualities are clamped, not refused.
  EXPECT_TRUE(image->jpegData(-3));
  EXPECT_TRUE(image->jpegData(7));
}

TEST(UIImageCodingTest, JpegPixelsSurviveAtHighQualityAndPngKeepsAlphaUpright) {
  auto flat = CGImage::make(16, 8, CGImagePixelFormat::bgra8);
  for (std::size_t i = 0; i < 16 * 8; ++i) {
    std::uint8_t* p = flat->mutableData() + i * 4;
    p[0] = 200, p[1] = 100, p[2] = 50, p[3] = 255;
  }
  auto back = UIImage::fromData(*UIImage::make(flat)->jpegData(1.0));
  ASSERT_TRUE(back);
  const auto px = pixel(*back->cgImage(), 5, 5);
  EXPECT_NEAR(px[0], 200, 3);
  EXPECT_NEAR(px[1], 100, 3);
  EXPECT_NEAR(px[2], 50, 3);

  auto half = CGImage::make(3, 2, CGImagePixelFormat::bgra8);
  std::uint8_t* p = half->mutableData();
  p[0] = 0, p[1] = 0, p[2] = 100, p[3] = 128;  // premultiplied red at half alpha, top left
  auto rotated = UIImage::make(half, 1, O::right);
  auto decoded = UIImage::fromData(*rotated->pngData());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->imageOrientation(), O::up);
  ASSERT_EQ(decoded->cgImage()->width(), 2u);           // written upright
  const auto moved = pixel(*decoded->cgImage(), 1, 0);  // top-left went to top-right
  EXPECT_NEAR(moved[2], 100, 2);
  EXPECT_EQ(moved[3], 128);
}

TEST(UIImageCodingTest, UndecodableAndHostileBytesGiveNoImage) {
  EXPECT_EQ(UIImage::fromData(foundation::Data()), nullptr);
  EXPECT_EQ(UIImage::fromData(foundation::Data(std::vector<std::uint8_t>{1, 2, 3, 4, 5})), nullptr);
  const auto jpeg = UIImage::make(patterned(8, 8), 1, O::left)->jpegData(0.5)->vector();
  // Every truncation: either no image or a sound one, never a read out of bounds.
  for (std::size_t n = 0; n < 120 && n < jpeg.size(); ++n) {
    auto img = UIImage::fromData(foundation::Data(std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + n)));
    if (img) {
      EXPECT_GT(img->cgImage()->width(), 0u);
    }
  }
  // A corrupt EXIF block (IFD offset far outside) leaves the orientation up.
  auto bad = jpeg;
  for (std::size_t i = 0; i + 4 < bad.size(); ++i)
    if (bad[i] == 'M' && bad[i + 1] == 'M' && bad[i + 2] == 0 && bad[i + 3] == 0x2A) {
      bad[i + 4] = 0x7F;
      break;
    }
  auto img = UIImage::fromData(foundation::Data(bad));
  ASSERT_TRUE(img);
  EXPECT_EQ(img->imageOrientation(), O::up);
  EXPECT_FALSE(UIImage::make(CGImage::make(0, 0, CGImagePixelFormat::bgra8))->jpegData(0.5));
}

TEST(UIImageLookupTest, NamedPngsFromABundleWithScaleSuffixes) {
  TempDir bundle;
  bundle.write("DRIVER LICENSE - FRONT@2x.png", png(40, 20));
  bundle.write("ic_face.png", png(10, 10));
  bundle.write("ic_face@3x.png", png(30, 30));
  bundle.write("ButtonBG#3AB54A@3x.png", png(3, 3));
  bundle.write("broken.png", {0x89, 'P', 'N', 'G', 1, 2, 3});

  auto front = UIImage::named("DRIVER LICENSE - FRONT", bundle.path());
  ASSERT_TRUE(front);
  EXPECT_EQ(front->scale(), 2);
  EXPECT_EQ(front->size(), (CGSize{20, 10}));
  auto face = UIImage::named("ic_face", bundle.path());
  ASSERT_TRUE(face);
  EXPECT_EQ(face->scale(), 1);
  EXPECT_EQ(UIImage::named("ButtonBG#3AB54A", bundle.path())->size(), (CGSize{1, 1}));
  EXPECT_EQ(UIImage::named("missing", bundle.path()), nullptr);
  EXPECT_EQ(UIImage::named("broken", bundle.path()), nullptr);
  EXPECT_EQ(UIImage::named("../" + bundle.path().filename().string() + "/ic_face", bundle.path()), nullptr);
  EXPECT_EQ(UIImage::named("", bundle.path()), nullptr);
  EXPECT_EQ(UIImage::named("ic_face", foundation::Bundle::open(bundle.path().string()))->scale(), 1);

  EXPECT_EQ(UIImage::contentsOfFile(bundle.path() / "ic_face@3x.png")->size(), (CGSize{10, 10}));
  EXPECT_EQ(UIImage::contentsOfFile(bundle.path() / "nope.png"), nullptr);
  EXPECT_EQ(UIImage::contentsOfFile(bundle.path()), nullptr);  // a directory
}

TEST(UIImageSymbolTest, KnownSymbolsAreTintableTemplatesAndUnknownOnesAreNull) {
  for (const char* name : {"chevron.right", "chevron.left", "checkmark.circle.fill", "person.crop.circle",
                           "camera.fill", "bolt.fill"}) {
    auto s = UIImage::systemName(name);
    ASSERT_TRUE(s) << name;
    EXPECT_EQ(s->renderingMode(), UIImage::RenderingMode::alwaysTemplate);
    EXPECT_EQ(s->symbolName(), name);
  }
  EXPECT_EQ(UIImage::systemName("no.such.symbol"), nullptr);
  auto big = UIImage::systemName("camera.fill", {48, UIFont::Weight::regular});
  EXPECT_GT(big->size().width, UIImage::systemName("camera.fill")->size().width);

  // The chevrons point opposite ways: along the middle row the ink is at the tip.
  auto tipIsRight = [](const UIImage& img) {
    const auto& c = *img.cgImage();
    long left = 0, right = 0;
    for (std::size_t x = 0; x < c.width(); ++x)
      (x < c.width() / 2 ? left : right) += pixel(c, x, c.height() / 2)[3];
    return right > left;
  };
  EXPECT_TRUE(tipIsRight(*UIImage::systemName("chevron.right")));
  EXPECT_FALSE(tipIsRight(*UIImage::systemName("chevron.left")));

  auto tinted = UIImage::systemName("checkmark.circle.fill")->withTintColor(UIColor::systemGreen());
  const auto& c = *tinted->cgImage();
  const auto centreLeft = pixel(c, c.width() / 8 + 2, c.height() / 2);  // inside the disc
  EXPECT_EQ(centreLeft[3], 255);
  EXPECT_EQ(centreLeft[1], 199);
  EXPECT_EQ(tinted->renderingMode(), UIImage::RenderingMode::alwaysOriginal);
}

TEST(UIGraphicsTest, ThreadsRedrawInTheirOwnContextsAtTheSameTime) {
  // Photos are redrawn on the camera's callback queue while the main thread
  // may be drawing too: each thread has its own context stack.
  auto image = UIImage::make(patterned(6, 4), 1, O::right);
  std::vector<std::shared_ptr<UIImage>> results(4);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < results.size(); ++i)
    threads.emplace_back([&, i] {
      for (int round = 0; round < 20; ++round) {
        UIGraphicsBeginImageContextWithOptions(image->size(), false, 1);
        image->draw(CGRect{{0, 0}, image->size()});
        results[i] = UIGraphicsGetImageFromCurrentImageContext();
        UIGraphicsEndImageContext();
      }
    });
  for (auto& t : threads) t.join();
  for (const auto& r : results) {
    ASSERT_TRUE(r);
    expectShownUpright(*r, *image->cgImage(), O::right);
  }
}

TEST(UIImageLookupTest, TheShippedResourceBundleLoads) {
  const std::filesystem::path bundle = std::filesystem::path(MORVIK_SOURCE_DIR) / "resources" /
                                       "MorvikVerifyPackage_MorvikVerifyPackage.bundle";
  for (const char* name : {"DRIVER LICENSE - FRONT", "DRIVER LICENSE - BACK", "PASSPORT - FRONT",
                           "PASSPORT - BACK", "PASSPORT CARD - FRONT", "PASSPORT CARD - BACK",
                           "ID CARD - FRONT", "INTERNATIONAL ID - BACK", "drivers-license", "ic_face"}) {
    auto image = UIImage::named(name, bundle);
    ASSERT_TRUE(image) << name;
    EXPECT_GT(image->size().width, 0) << name;
  }
  auto button = UIColor::named("ButtonBG#3AB54A", bundle);
  ASSERT_TRUE(button);
  EXPECT_EQ(button->cgColor(), quartz::CGColor::make(0.227, 0.710, 0.290, 1));
}
