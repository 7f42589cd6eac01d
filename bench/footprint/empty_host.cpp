// A host that links the SDK and does nothing: what linking costs before the
// host runs a line. Prints how many shared libraries are mapped, the resident
// memory, and (with --check) fails when a library that only some features
// need was loaded at start-up.
#include <morvik/MorvikVerify.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

int main(int argc, char** argv) {
  std::ifstream maps("/proc/self/maps");
  std::set<std::string> libraries;
  std::string line;
  while (std::getline(maps, line)) {
    const auto path = line.find('/');
    if (path != std::string::npos && line.find(".so", path) != std::string::npos) libraries.insert(line.substr(path));
  }
  long rssKB = 0;
  std::ifstream status("/proc/self/status");
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) rssKB = std::stol(line.substr(6));
  std::printf("shared libraries: %zu\nresident memory: %.1f MB\n", libraries.size(), rssKB / 1024.0);

  if (argc > 1 && std::strcmp(argv[1], "--check") == 0) {
    // Loaded on first use only: video decoding, OpenCV's codec and video I/O trees, the accurate text engine.
    int loaded = 0;
    for (const auto& l : libraries)
      for (const char* heavy : {"libavformat", "libavcodec", "libopencv_imgcodecs", "libopencv_videoio", "libtesseract"})
        if (l.find(heavy) != std::string::npos) {
          std::printf("loaded at start-up: %s\n", l.c_str());
          ++loaded;
        }
    if (libraries.size() > 70) {
      std::printf("more than 70 shared libraries\n");
      return 1;
    }
    return loaded == 0 ? 0 : 1;
  }
  return 0;
}
