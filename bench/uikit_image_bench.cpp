// Image work on the capture path: JPEG encoding at the upload quality, and
// the upright and mirrored redraws of a camera photo.
#include <benchmark/benchmark.h>
#include <morvik/platform/uikit/UIGraphics.h>
#include <morvik/platform/uikit/UIImage.h>

#include <random>

namespace {

std::shared_ptr<uikit::UIImage> photo(std::size_t w, std::size_t h, uikit::UIImage::Orientation o) {
  auto img = quartz::CGImage::make(w, h, quartz::CGImagePixelFormat::bgra8);
  std::mt19937 rng(1);
  std::uint8_t* p = img->mutableData();
  // Smooth gradients with a little noise, closer to a photo than pure noise.
  for (std::size_t y = 0; y < h; ++y)
    for (std::size_t x = 0; x < w; ++x, p += 4) {
      p[0] = static_cast<std::uint8_t>((x * 255 / w + (rng() & 15)) & 0xFF);
      p[1] = static_cast<std::uint8_t>((y * 255 / h + (rng() & 15)) & 0xFF);
      p[2] = static_cast<std::uint8_t>(((x + y) * 127 / (w + h)) & 0xFF);
      p[3] = 255;
    }
  return uikit::UIImage::make(img, 1, o);
}

void JpegEncode(benchmark::State& state) {
  auto image = photo(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)),
                     uikit::UIImage::Orientation::right);
  for (auto _ : state) benchmark::DoNotOptimize(image->jpegData(0.5));
}
BENCHMARK(JpegEncode)->Args({1920, 1080})->Args({4032, 3024})->Unit(benchmark::kMillisecond);

void JpegDecode(benchmark::State& state) {
  auto data = *photo(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)),
                     uikit::UIImage::Orientation::right)
                   ->jpegData(0.9);
  for (auto _ : state) benchmark::DoNotOptimize(uikit::UIImage::fromData(data));
}
BENCHMARK(JpegDecode)->Args({4032, 3024})->Unit(benchmark::kMillisecond);

void UprightImage(benchmark::State& state) {
  auto image = photo(4032, 3024, uikit::UIImage::Orientation::right);
  for (auto _ : state) benchmark::DoNotOptimize(image->uprightImage());
}
BENCHMARK(UprightImage)->Unit(benchmark::kMillisecond);

// The capture screen's redraws go through an image context.
void ContextRedraw(benchmark::State& state) {
  auto image = photo(4032, 3024,
                     state.range(0) ? uikit::UIImage::Orientation::up : uikit::UIImage::Orientation::right);
  const bool mirror = state.range(0) != 0;
  for (auto _ : state) {
    const quartz::CGSize size = image->size();
    uikit::UIGraphicsBeginImageContextWithOptions(size, false, image->scale());
    if (mirror) {
      uikit::UIGraphicsGetCurrentContext()->translateBy(size.width, 0);
      uikit::UIGraphicsGetCurrentContext()->scaleBy(-1, 1);
    }
    image->draw(quartz::CGRect{{0, 0}, size});
    benchmark::DoNotOptimize(uikit::UIGraphicsGetImageFromCurrentImageContext());
    uikit::UIGraphicsEndImageContext();
  }
}
BENCHMARK(ContextRedraw)->Arg(0)->Arg(1)->ArgNames({"mirror"})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
