// The video compressor against the ffmpeg command line on one 1080p H.264 +
// AAC clip (10 s): whole wall time of each, and the SSIM of each output
// against the source scaled to the output's size. Both use the encoder's
// default thread count (one per core).
//
// Memory: `compressor_bench --memory-seconds=N` compresses an N-second 1080p
// clip instead and prints the peak resident set against the clip's length.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <semaphore>
#include <string>
#include <thread>

#include "compressor/CompressionMath.h"
#include "fixtures/media/MediaFiles.h"
#include "morvik/compressor/VideoCompressor.h"
#include "morvik/platform/avf_asset.h"

namespace {

using morvik::testing::clip;
using morvik::testing::mediaDir;

std::string source(int seconds) {
  // Camera-like: moving detail with grain, 8 Mbit/s, a tone beside it.
  const auto path = clip("bench-1080p-" + std::to_string(seconds) + "s.mov",
                         "-f lavfi -i testsrc2=size=1920x1080:rate=30,noise=alls=6:allf=t+u "
                         "-f lavfi -i sine=frequency=440:sample_rate=44100 -t " +
                             std::to_string(seconds) +
                             " -c:v libx264 -preset veryfast -b:v 8M -pix_fmt yuv420p -c:a aac -b:a 128k");
  if (!path) {
    std::fprintf(stderr, "compressor_bench: ffmpeg could not make the clip\n");
    std::exit(1);
  }
  return *path;
}

struct Target {
  std::int32_t bitrate;
  morvik::compressor::OutputSize size;
};

Target targetFor(const std::string& path) {
  const auto asset = avf::AVURLAsset::make(foundation::URL::fileURLWithPath(path));
  const auto track = asset->tracks(avf::AVMediaType::video).front();
  return {
      morvik::compressor::bitrateForQuality(track->estimatedDataRate(), morvik::VideoQuality::medium),
      morvik::compressor::scaledOutputSize(track->naturalSize().width, track->naturalSize().height, false)};
}

// CPU seconds (user + system) of this process's threads or of its finished children.
double cpuSeconds(int who) {
  rusage u{};
  ::getrusage(who, &u);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(u.ru_utime) + seconds(u.ru_stime);
}

bool compress(const std::string& in, const std::string& out) {
  std::binary_semaphore done(0);
  bool ok = false;
  morvik::VideoCompressor().compressVideo(foundation::URL::fileURLWithPath(in),
                                          foundation::URL::fileURLWithPath(out), morvik::VideoQuality::medium,
                                          false, false, dispatch::DispatchQueue("bench.progress"), nullptr,
                                          [&](morvik::CompressionResult r) {
                                            if (r.kind() == morvik::CompressionResult::Kind::onStart) return;
                                            ok = r.kind() == morvik::CompressionResult::Kind::onSuccess;
                                            done.release();
                                          });
  done.acquire();
  return ok;
}

// SSIM ("All") of a compressed file against the source scaled to its size.
double ssim(const std::string& out, const std::string& in, const morvik::compressor::OutputSize& size) {
  const std::string command = "ffmpeg -nostdin -v info -i '" + out + "' -i '" + in +
                              "' -lavfi \"[1:v]scale=" + std::to_string(size.width) + ":" +
                              std::to_string(size.height) + "[ref];[0:v][ref]ssim\" -f null - 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return 0;
  char line[1024];
  double value = 0;
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    if (const char* all = std::strstr(line, "All:")) value = std::atof(all + 4);
  }
  ::pclose(pipe);
  return value;
}

void BM_VideoCompressor_Medium1080p10s(benchmark::State& state) {
  const auto in = source(10);
  const auto target = targetFor(in);
  const std::string out = mediaDir() + "/ours.mov";
  const double cpuBefore = cpuSeconds(RUSAGE_SELF);
  for (auto _ : state) {
    if (!compress(in, out)) state.SkipWithError("compression failed");
  }
  // CPU time, less sensitive than wall time to what else the machine runs.
  state.counters["cpu_s"] = (cpuSeconds(RUSAGE_SELF) - cpuBefore) / static_cast<double>(state.iterations());
  state.counters["ssim"] = ssim(out, in, target.size);
  state.counters["bitrate"] = target.bitrate;
  state.counters["cores"] = static_cast<double>(std::thread::hardware_concurrency());
}
BENCHMARK(BM_VideoCompressor_Medium1080p10s)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_FFmpegCommandLine_Same1080p10s(benchmark::State& state) {
  const auto in = source(10);
  const auto target = targetFor(in);
  const std::string out = mediaDir() + "/cli.mov";
  const std::string command = "ffmpeg -nostdin -v error -y -i '" + in + "' -c:v libx264 -b:v " +
                              std::to_string(target.bitrate) + " -s " + std::to_string(target.size.width) +
                              "x" + std::to_string(target.size.height) + " -c:a copy '" + out + "'";
  const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("ffmpeg failed");
  }
  state.counters["cpu_s"] =
      (cpuSeconds(RUSAGE_CHILDREN) - cpuBefore) / static_cast<double>(state.iterations());
  state.counters["ssim"] = ssim(out, in, target.size);
  state.counters["bitrate"] = target.bitrate;
  state.counters["cores"] = static_cast<double>(std::thread::hardware_concurrency());
}
BENCHMARK(BM_FFmpegCommandLine_Same1080p10s)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

long residentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(256, '\n');
  }
  return 0;
}

int memoryRun(int seconds) {
  const auto in = source(seconds);
  const long before = residentKiB();
  std::atomic<bool> running{true};
  std::atomic<long> peak{before};
  std::thread sampler([&] {
    while (running) {
      peak = std::max(peak.load(), residentKiB());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const auto start = std::chrono::steady_clock::now();
  const bool ok = compress(in, mediaDir() + "/memory.mov");
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  running = false;
  sampler.join();
  std::printf(
      "compressor memory: %d s of 1080p: %s in %.1f s; resident before %ld MiB, peak %ld MiB (+%ld MiB)\n",
      seconds, ok ? "compressed" : "FAILED", wall, before / 1024, peak.load() / 1024,
      (peak.load() - before) / 1024);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--memory-seconds=", 17) == 0) return memoryRun(std::atoi(argv[i] + 17));
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
