// Writes hand-held document stills with their card corners, for training and validating a document
// localiser. Usage:
//   make_doc_dataset --out DIR (--split training|validation|test | --seeds BEGIN:END) [--count N]
//                    [--size WxH] [--low WxH] [--no-full] [--threads N] [--preview FILE]
// --size is the portrait frame size (landscape scenes swap it; default 1080x1440); --low also writes a
// copy resized to WxH (corners are normalised, so a stretch leaves them right). Writes DIR/full/<seed>.jpg,
// DIR/low/<seed>.png and DIR/labels.csv:
//   file,seed,kind,design,has_card,width,height,x0,y0,x1,y1,x2,y2,x3,y3
// corners normalised to [0, 1] (origin top left) in the card's order top left, top right, bottom
// right, bottom left as printed; empty for card-less frames. --preview writes a contact sheet of the
// first 48 frames with their corners drawn (green, top-left corner red), to look the data over. Seed ranges:
// tests/fixtures/generators/HANDHELD.md.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/generators/HandheldScenes.h"

namespace hh = fixtures::generators::handheld;

namespace {

bool parseSize(const char* text, cv::Size& out) {
  int w = 0, h = 0;
  if (std::sscanf(text, "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0) return false;
  out = {w, h};
  return true;
}

int usage() {
  std::fprintf(stderr,
               "usage: make_doc_dataset --out DIR (--split training|validation|test | --seeds BEGIN:END)\n"
               "                        [--count N] [--size WxH] [--low WxH] [--no-full] [--threads N]\n"
               "                        [--preview FILE]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out;
  long long begin = -1, end = -1, count = -1;
  cv::Size size{1080, 1440}, low{0, 0};
  bool full = true;
  int threads = 4;
  std::string preview;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--out" && hasValue) {
      out = argv[++i];
    } else if (a == "--split" && hasValue) {
      const std::string s = argv[++i];
      if (s == "training")
        begin = hh::kTrainingSeedsBegin, end = hh::kTrainingSeedsEnd;
      else if (s == "validation")
        begin = hh::kValidationSeedsBegin, end = hh::kValidationSeedsEnd;
      else if (s == "test")
        begin = hh::kTestSeedsBegin, end = hh::kTestSeedsEnd;
      else
        return usage();
    } else if (a == "--seeds" && hasValue) {
      if (std::sscanf(argv[++i], "%lld:%lld", &begin, &end) != 2) return usage();
    } else if (a == "--count" && hasValue) {
      count = std::atoll(argv[++i]);
    } else if (a == "--size" && hasValue) {
      if (!parseSize(argv[++i], size)) return usage();
    } else if (a == "--low" && hasValue) {
      if (!parseSize(argv[++i], low)) return usage();
    } else if (a == "--preview" && hasValue) {
      preview = argv[++i];
    } else if (a == "--no-full") {
      full = false;
    } else if (a == "--threads" && hasValue) {
      threads = std::max(1, std::atoi(argv[++i]));
    } else {
      return usage();
    }
  }
  if (out.empty() || begin < 0 || end <= begin || (!full && low.width == 0)) return usage();
  if (count > 0) end = std::min(end, begin + count);

  namespace fs = std::filesystem;
  std::error_code ec;
  if (full) fs::create_directories(fs::path(out) / "full", ec);
  if (low.width > 0) fs::create_directories(fs::path(out) / "low", ec);
  fs::create_directories(out, ec);
  if (ec) {
    std::fprintf(stderr, "make_doc_dataset: cannot create %s\n", out.c_str());
    return 1;
  }

  const std::size_t n = std::size_t(end - begin);
  std::vector<std::string> rows(n);
  constexpr std::size_t kTiles = 48;
  const cv::Size tile(240, 240);
  std::vector<cv::Mat> tiles(std::min(n, kTiles));
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  const auto work = [&] {
    for (std::size_t i = next++; i < n && !failed; i = next++) {
      const auto seed = std::uint32_t(begin + static_cast<long long>(i));
      const hh::HandheldStill still = hh::makeHandheldStill(seed, size);
      const std::string name = std::to_string(seed);
      std::string file;
      if (full) {
        file = "full/" + name + ".jpg";
        if (!cv::imwrite((fs::path(out) / file).string(), still.bgr, {cv::IMWRITE_JPEG_QUALITY, 95}))
          failed = true;
      }
      if (low.width > 0) {
        cv::Mat small;
        cv::resize(still.bgr, small, low, 0, 0, cv::INTER_AREA);
        const std::string lowFile = "low/" + name + ".png";
        if (!cv::imwrite((fs::path(out) / lowFile).string(), small)) failed = true;
        if (file.empty()) file = lowFile;
      }
      char line[512];
      int len = std::snprintf(line, sizeof line, "%s,%u,%s,%s,%d,%d,%d", file.c_str(), seed,
                              still.spec.kind().c_str(), hh::cardDesignName(still.spec.design),
                              still.corners ? 1 : 0, still.bgr.cols, still.bgr.rows);
      for (int k = 0; k < 4; ++k) {
        if (still.corners) {
          const auto& p = (*still.corners)[std::size_t(k)];
          len += std::snprintf(line + len, sizeof line - std::size_t(len), ",%.6f,%.6f", p.x / still.bgr.cols,
                               p.y / still.bgr.rows);
        } else {
          len += std::snprintf(line + len, sizeof line - std::size_t(len), ",,");
        }
      }
      rows[i] = line;
      if (!preview.empty() && i < tiles.size()) {
        const double k = std::min(double(tile.width) / still.bgr.cols, double(tile.height) / still.bgr.rows);
        cv::Mat t(tile, CV_8UC3, cv::Scalar::all(0)), small;
        cv::resize(still.bgr, small, cv::Size(), k, k, cv::INTER_AREA);
        small.copyTo(t(cv::Rect(0, 0, small.cols, small.rows)));
        if (still.corners) {
          std::vector<cv::Point> poly;
          for (const auto& p : *still.corners) poly.emplace_back(int(p.x * k), int(p.y * k));
          cv::polylines(t, poly, true, cv::Scalar(0, 255, 0), 1, cv::LINE_AA);
          cv::circle(t, poly[0], 3, cv::Scalar(0, 0, 255), -1);
        }
        cv::putText(t, name, {4, tile.height - 6}, cv::FONT_HERSHEY_SIMPLEX, 0.4, cv::Scalar(0, 255, 255), 1);
        tiles[i] = t;
      }
    }
  };
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) pool.emplace_back(work);
  for (auto& t : pool) t.join();
  if (failed) {
    std::fprintf(stderr, "make_doc_dataset: writing an image failed\n");
    return 1;
  }

  FILE* labels = std::fopen((fs::path(out) / "labels.csv").string().c_str(), "w");
  if (!labels) return 1;
  std::fprintf(labels, "file,seed,kind,design,has_card,width,height,x0,y0,x1,y1,x2,y2,x3,y3\n");
  for (const auto& r : rows) std::fprintf(labels, "%s\n", r.c_str());
  std::fclose(labels);
  if (!preview.empty() && !tiles.empty()) {
    const int cols = 8, rowsN = int((tiles.size() + cols - 1) / cols);
    cv::Mat sheet(tile.height * rowsN, tile.width * cols, CV_8UC3, cv::Scalar::all(0));
    for (std::size_t i = 0; i < tiles.size(); ++i)
      tiles[i].copyTo(
          sheet(cv::Rect(int(i % cols) * tile.width, int(i / cols) * tile.height, tile.width, tile.height)));
    cv::imwrite(preview, sheet);
  }
  std::printf("make_doc_dataset: %zu frames in %s\n", n, out.c_str());
  return 0;
}
