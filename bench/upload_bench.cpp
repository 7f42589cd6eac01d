// The document upload (three 400 KB images and three text fields) to the
// loopback server: the SDK's client against the curl command line uploading
// the same parts to the same server, and the client's peak memory while it
// uploads 50 MB (measured in a child process of this program).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <morvik/api/APIManager.h>
#include <morvik/platform/dispatch.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "fixtures/server/LoopbackServer.h"

extern char** environ;

namespace {

using morvik::APIManager;
using morvik::ImagePart;
using morvik::Parameters;
using Clock = std::chrono::steady_clock;

foundation::Data randomBytes(std::size_t size, unsigned seed) {
  foundation::Data data;
  data.vector().resize(size);
  unsigned x = seed * 2654435761u + 1;
  for (auto& b : data.vector()) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  // A JPEG's start and end markers, so the parts look like what the SDK sends.
  data.vector()[0] = 0xFF, data.vector()[1] = 0xD8;
  data.vector()[size - 2] = 0xFF, data.vector()[size - 1] = 0xD9;
  return data;
}

const Parameters kParams{{"age", "23"}, {"documentType", "1"}, {"email", "bench@example.com"}};

// Uploads and pumps the main queue until the outcome; true on success.
bool uploadOnce(APIManager& manager, const std::string& url, std::array<ImagePart, 3> parts) {
  bool done = false, ok = false;
  manager.uploadMultipart(
      url, std::move(parts), kParams,
      [&](int status, const morvik::Response&) {
        ok = status == 200;
        done = true;
      },
      [&](const std::string&) { done = true; });
  dispatch::MainLoop::runUntil([&] { return done; }, 30);
  return ok;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

int runProcess(const std::vector<std::string>& args, std::string* output = nullptr) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  if (rc != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (output) *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Fixture {
  fixtures::LoopbackServer server{fixtures::LoopbackServer::Scheme::http};
  std::shared_ptr<APIManager> manager = APIManager::create(server.baseURL());
  std::vector<foundation::Data> images{randomBytes(400'000, 1), randomBytes(400'000, 2),
                                       randomBytes(400'000, 3)};
  std::filesystem::path directory;

  Fixture() {
    server.setRecordBodies(false);
    directory = std::filesystem::temp_directory_path() / ("upload_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    const char* names[] = {"documentFront", "documentBack", "livePhoto"};
    for (int i = 0; i < 3; ++i) {
      std::ofstream(directory / (std::string(names[i]) + ".jpg"), std::ios::binary)
          .write(reinterpret_cast<const char*>(images[i].bytes()),
                 static_cast<std::streamsize>(images[i].count()));
    }
  }
  ~Fixture() { std::filesystem::remove_all(directory); }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_DocumentUpload_Client(benchmark::State& state) {
  Fixture& f = fixture();
  const std::string url = f.server.baseURL() + "/upload";
  std::vector<double> ms;
  for (auto _ : state) {
    auto start = Clock::now();
    bool ok = uploadOnce(*f.manager, url,
                         {ImagePart{"documentFront", f.images[0]}, ImagePart{"documentBack", f.images[1]},
                          ImagePart{"livePhoto", f.images[2]}});
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (!ok) state.SkipWithError("upload failed");
  }
  state.counters["median_ms"] = median(ms);
}
BENCHMARK(BM_DocumentUpload_Client)->Iterations(200)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DocumentUpload_CurlCommandLine(benchmark::State& state) {
  Fixture& f = fixture();
  const std::string url = f.server.baseURL() + "/upload";
  std::vector<std::string> args = {
      "/usr/bin/curl", "-s", "-o", "/dev/null", "-H", "Accept: application/json", "-H", "Expect:"};
  for (const char* name : {"documentFront", "documentBack", "livePhoto"}) {
    args.push_back("-F");
    args.push_back(std::string(name) + "=@" + (f.directory / (std::string(name) + ".jpg")).string() +
                   ";type=image/jpeg");
  }
  for (const auto& [key, value] : kParams) {
    args.push_back("-F");
    args.push_back(key + "=" + morvik::textualRepresentation(value));
  }
  args.push_back(url);
  std::vector<double> ms;
  for (auto _ : state) {
    auto start = Clock::now();
    int rc = runProcess(args);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (rc != 0) state.SkipWithError("curl failed");
  }
  state.counters["median_ms"] = median(ms);
}
BENCHMARK(BM_DocumentUpload_CurlCommandLine)->Iterations(100)->Unit(benchmark::kMillisecond)->UseRealTime();

long statusKilobytes(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

// Child process: uploads 50 MB of images, prints how far its peak RSS rose
// above the resident size it had with the images already in memory.
int rssChild(const std::string& url) {
  auto manager = APIManager::create("http://127.0.0.1/api");
  uploadOnce(*manager, url, {ImagePart{"livePhoto", randomBytes(1000, 9)}, {}, {}});  // libraries warmed up
  std::vector<foundation::Data> images{randomBytes(17'000'000, 1), randomBytes(17'000'000, 2),
                                       randomBytes(16'000'000, 3)};
  {
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5";  // peak RSS := current RSS
  }
  long before = statusKilobytes("VmRSS:");  // equals the reset peak; safe if the reset is refused
  bool ok = uploadOnce(
      *manager, url,
      {ImagePart{"documentFront", std::move(images[0])}, ImagePart{"documentBack", std::move(images[1])},
       ImagePart{"livePhoto", std::move(images[2])}});
  long after = statusKilobytes("VmHWM:");
  std::cout << (ok ? "ok " : "failed ") << before << " " << after << "\n";
  return ok ? 0 : 1;
}

void BM_PeakMemoryOf50MBUpload(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    std::string output;
    int rc = runProcess({"/proc/self/exe", "--rss-child", f.server.baseURL() + "/upload"}, &output);
    char word[16] = {};
    long before = 0, after = 0;
    if (rc != 0 || std::sscanf(output.c_str(), "%15s %ld %ld", word, &before, &after) != 3) {
      state.SkipWithError("child failed");
      return;
    }
    state.counters["baseline_MB"] = static_cast<double>(before) / 1024;
    state.counters["growth_MB"] = static_cast<double>(after - before) / 1024;
  }
}
BENCHMARK(BM_PeakMemoryOf50MBUpload)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--rss-child") return rssChild(argv[2]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
