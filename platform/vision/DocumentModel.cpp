// The learned document localiser's input and its plugin (platform/plugins/docmodel), which holds
// OpenCV's dnn module and the weights: hosts that never look for a document never load either.
#include "vision/DocumentModel.h"

#include <mutex>
#include <opencv2/imgproc.hpp>
#include <string>

#include "foundation/PluginLoader.h"
#include "morvik/platform/foundation/Console.h"

namespace vision::detail {

DocumentModelInput documentModelInput(Frame& frame, const cv::Rect2f& rect) {
  DocumentModelInput in;
  constexpr int n = kDocumentModelInput;
  // Shrunk on the shorter side to the input's size, then stretched to a square: at most a factor of
  // two or so is left to the area resize, which is cheap at that size.
  const double scale = std::min(1.0, double(n) / std::max(1.0f, std::min(rect.width, rect.height)));
  const Frame::Crop crop = frame.orientedCrop(rect, scale, true, true);
  if (crop.image.empty()) return in;
  in.rect = crop.rect;
  cv::Mat y, c;
  cv::resize(crop.image, y, {n, n}, 0, 0, cv::INTER_AREA);
  if (crop.chroma.empty())
    c = cv::Mat(n, n, CV_8UC2, cv::Scalar(128, 128));
  else
    cv::resize(crop.chroma, c, {n, n}, 0, 0, cv::INTER_AREA);
  in.planes.create(n, n, CV_8UC3);
  const cv::Mat sources[] = {y, c};
  const int from[] = {0, 0, 1, 1, 2, 2};
  cv::mixChannels(sources, 2, &in.planes, 1, from, 3);
  return in;
}

namespace {

struct DocumentPlugin {
  // Writes kDocumentModelOutput squared probabilities for a kDocumentModelInput square of interleaved
  // 8-bit planes; false when the model could not run.
  int (*run)(const unsigned char*, int, int, float*) = nullptr;
};

const DocumentPlugin& documentPlugin() {
  static DocumentPlugin loaded;
  static std::once_flag once;
  std::call_once(once, [] {
    constexpr const char* kName = "libmorvik_vision_docmodel.so";
    void* handle = foundation::detail::loadPlugin(kName);
    DocumentPlugin p;
    p.run =
        reinterpret_cast<decltype(p.run)>(foundation::detail::pluginSymbol(handle, "morvik_docmodel_run"));
    if (p.run)
      loaded = p;
    else
      foundation::print(std::string("Document localiser unavailable: ") + kName + " could not be loaded");
  });
  return loaded;
}

}  // namespace

cv::Mat documentProbabilities(const cv::Mat& planes) {
  const DocumentPlugin& plugin = documentPlugin();
  if (!plugin.run || planes.type() != CV_8UC3 || planes.rows != kDocumentModelInput ||
      planes.cols != kDocumentModelInput || !planes.isContinuous())
    return {};
  cv::Mat out(kDocumentModelOutput, kDocumentModelOutput, CV_32F);
  if (!plugin.run(planes.data, planes.cols, planes.rows, out.ptr<float>())) return {};
  return out;
}

}  // namespace vision::detail
