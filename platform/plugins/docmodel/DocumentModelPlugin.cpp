// The document localiser's network, run with OpenCV's dnn module, built as a plugin that the platform
// library loads when the rectangle request first runs: dnn and its dependencies stay out of hosts
// that never look for a document. The weights (tools/docmodel/train.py) are built into the plugin,
// so wherever the plugin is found, its model is too. The platform's side is vision/DocumentModel.cpp.
#include <cstring>
#include <memory>
#include <mutex>
#include <opencv2/dnn.hpp>
#include <vector>

// The ONNX file, embedded at build time.
asm(".section .rodata\n"
    ".balign 16\n"
    "morvik_docmodel_onnx_begin:\n"
    ".incbin \"" MORVIK_DOCMODEL_ONNX
    "\"\n"
    "morvik_docmodel_onnx_end:\n"
    ".balign 8\n"
    "morvik_docmodel_onnx_size:\n"
    ".quad morvik_docmodel_onnx_end - morvik_docmodel_onnx_begin\n"
    ".previous\n");
extern "C" const char morvik_docmodel_onnx_begin[];
extern "C" const unsigned long long morvik_docmodel_onnx_size;

namespace {

constexpr int kInput = 128, kOutput = 64;

// Networks are not safe to run from two threads at once: each caller borrows one, and a network is
// made (from the parsed bytes, in a millisecond or two) only when all are lent.
struct Pool {
  std::mutex lock;
  std::vector<std::unique_ptr<cv::dnn::Net>> idle;
  bool broken = false;
};

Pool& pool() {
  static Pool* p = new Pool;  // never destroyed: a borrower may still run at exit
  return *p;
}

std::unique_ptr<cv::dnn::Net> makeNet() {
  try {
    auto net = std::make_unique<cv::dnn::Net>(
        cv::dnn::readNetFromONNX(morvik_docmodel_onnx_begin, std::size_t(morvik_docmodel_onnx_size)));
    if (net->empty()) return nullptr;
    net->setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    net->setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
    return net;
  } catch (const cv::Exception&) {
    return nullptr;
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int morvik_docmodel_run(const unsigned char* planes,
                                                                          int cols, int rows, float* out) {
  if (cols != kInput || rows != kInput || !planes || !out) return 0;
  Pool& p = pool();
  std::unique_ptr<cv::dnn::Net> net;
  {
    std::lock_guard<std::mutex> guard(p.lock);
    if (p.broken) return 0;
    if (!p.idle.empty()) net = std::move(p.idle.back()), p.idle.pop_back();
  }
  if (!net && !(net = makeNet())) {
    std::lock_guard<std::mutex> guard(p.lock);
    p.broken = true;
    return 0;
  }
  // Interleaved bytes to one planar float blob.
  const int dims[] = {1, 3, kInput, kInput};
  cv::Mat blob(4, dims, CV_32F);
  float* b = blob.ptr<float>();
  for (int i = 0; i < kInput * kInput; ++i)
    for (int c = 0; c < 3; ++c) b[c * kInput * kInput + i] = planes[i * 3 + c];
  bool ok = false;
  try {
    net->setInput(blob);
    const cv::Mat result = net->forward();
    if (result.total() == std::size_t(kOutput) * kOutput && result.type() == CV_32F) {
      std::memcpy(out, result.ptr<float>(), sizeof(float) * kOutput * kOutput);
      ok = true;
    }
  } catch (const cv::Exception&) {
  }
  std::lock_guard<std::mutex> guard(p.lock);
  p.idle.push_back(std::move(net));
  return ok ? 1 : 0;
}
