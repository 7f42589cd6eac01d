// Figures of the capture screen's two rectangle requests on hand-held clips (by default the
// validation seeds, which no training or tuning sees). Every clip is encoded as H.264 and decoded
// back; every K-th frame goes to the live request (as the screen runs it) and to the photo-time
// request (on the upright still, as the screen's photo post-processing runs it). Per clip kind:
//   live card  - frames where the live request answered the card itself
//   photo ok   - frames where the photo-time crop holds the whole card (98 % inside, IoU >= 0.75)
//   photo|live - the same, among the frames where the live request answered the card
// and what the live request answered otherwise. Card-less clips count any answer as a false one.
// Usage: measure_doc_detection [--seeds BEGIN:END] [--clips N] [--cardless N] [--every K]
//                              [--size WxH] [--threads N]
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/generators/HandheldJudge.h"
#include "fixtures/generators/HandheldScenes.h"

namespace hh = fixtures::generators::handheld;

namespace {

struct Tally {
  int clips = 0, frames = 0, liveCard = 0, photoGood = 0, photoGivenLive = 0;
  std::map<hh::Answer, int> live, photo;
  void add(const Tally& o) {
    clips += o.clips, frames += o.frames, liveCard += o.liveCard, photoGood += o.photoGood;
    photoGivenLive += o.photoGivenLive;
    for (const auto& [a, n] : o.live) live[a] += n;
    for (const auto& [a, n] : o.photo) photo[a] += n;
  }
};

double percent(int a, int b) { return b > 0 ? 100.0 * a / b : 0.0; }

std::string breakdown(const std::map<hh::Answer, int>& m) {
  std::string s;
  for (const auto& [a, n] : m)
    s += std::string(s.empty() ? "" : ", ") + hh::answerName(a) + " " + std::to_string(n);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  long long begin = hh::kValidationSeedsBegin;
  int clips = 60, cardless = 10, every = 5, threads = 4;
  cv::Size size{360, 480};
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool v = i + 1 < argc;
    long long end = 0;
    if (a == "--seeds" && v && std::sscanf(argv[i + 1], "%lld:%lld", &begin, &end) == 2) {
      clips = int(end - begin), ++i;
    } else if (a == "--clips" && v) {
      clips = std::atoi(argv[++i]);
    } else if (a == "--cardless" && v) {
      cardless = std::atoi(argv[++i]);
    } else if (a == "--every" && v) {
      every = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--size" && v && std::sscanf(argv[i + 1], "%dx%d", &size.width, &size.height) == 2) {
      ++i;
    } else if (a == "--threads" && v) {
      threads = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr,
                   "usage: measure_doc_detection [--seeds BEGIN:END] [--clips N] [--cardless N] [--every K]\n"
                   "                             [--size WxH] [--threads N]\n");
      return 2;
    }
  }
  // Card clips on the first seeds, card-less ones after them.
  std::vector<hh::SceneSpec> specs;
  for (int i = 0; i < clips; ++i) specs.push_back(hh::sceneSpec(std::uint32_t(begin + i), true));
  for (int i = 0; i < cardless; ++i) specs.push_back(hh::sceneSpec(std::uint32_t(begin + clips + i), false));

  std::mutex m;
  std::map<std::string, Tally> byKind;
  std::atomic<std::size_t> next{0};
  std::atomic<int> failures{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < specs.size(); i = next++) {
      const hh::HandheldClip clip(specs[i], size);
      const auto path = clip.h264File(hh::clipCacheDir());
      if (!path) {
        ++failures;
        continue;
      }
      const auto frames = hh::decodeVideo(*path, clip.frameSize());
      const bool landscape = clip.spec().landscape;
      Tally t;
      t.clips = 1;
      for (std::size_t f = 0; f < frames.size(); f += std::size_t(every)) {
        std::optional<hh::Corners> truth;
        if (auto c = clip.corners(int(f))) truth = hh::screenCorners(*c, clip.frameSize(), landscape);
        const cv::Mat view = hh::screenView(frames[f], landscape);
        const auto live = hh::runLiveRequest(view, truth);
        const auto photo = hh::runPhotoRequest(view, truth);
        ++t.frames;
        ++t.live[live.answer];
        ++t.photo[photo.answer];
        if (!truth) continue;
        const bool liveCard = live.answer == hh::Answer::card;
        const bool photoGood =
            photo.corners &&
            hh::scoreCrop(hh::documentCrop(photo.box, view.size()), *truth, view.size()).good();
        t.liveCard += liveCard;
        t.photoGood += photoGood;
        t.photoGivenLive += liveCard && photoGood;
      }
      std::lock_guard lock(m);
      byKind[clip.spec().kind()].add(t);
    }
  };
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) pool.emplace_back(work);
  for (auto& t : pool) t.join();
  if (failures > 0)
    std::fprintf(stderr, "measure_doc_detection: %d clips could not be encoded\n", failures.load());

  std::printf("seeds %lld to %lld, %dx%d portrait frames, every %d-th frame\n", begin,
              begin + clips + cardless - 1, size.width, size.height, every);
  std::printf("%-34s %5s %6s %9s %9s %10s  live answers / photo-time answers\n", "kind", "clips", "frames",
              "live card", "photo ok", "photo|live");
  Tally cards, empty;
  for (const auto& [kind, t] : byKind) {
    const bool none = kind.rfind("no-card/", 0) == 0;
    (none ? empty : cards).add(t);
    if (none)
      std::printf("%-34s %5d %6d %9s %9s %10s  %s\n", kind.c_str(), t.clips, t.frames, "-", "-", "-",
                  breakdown(t.live).c_str());
    else
      std::printf("%-34s %5d %6d %8.1f%% %8.1f%% %9.1f%%  %s / %s\n", kind.c_str(), t.clips, t.frames,
                  percent(t.liveCard, t.frames), percent(t.photoGood, t.frames),
                  percent(t.photoGivenLive, t.liveCard), breakdown(t.live).c_str(),
                  breakdown(t.photo).c_str());
  }
  std::printf("%-34s %5d %6d %8.1f%% %8.1f%% %9.1f%%  %s / %s\n", "all card clips", cards.clips, cards.frames,
              percent(cards.liveCard, cards.frames), percent(cards.photoGood, cards.frames),
              percent(cards.photoGivenLive, cards.liveCard), breakdown(cards.live).c_str(),
              breakdown(cards.photo).c_str());
  const int emptyFrames =
      empty.frames - (empty.live.count(hh::Answer::none) ? empty.live.at(hh::Answer::none) : 0);
  std::printf("%-34s %5d %6d  live answers on card-less frames: %d (%.1f%%)\n", "all card-less clips",
              empty.clips, empty.frames, emptyFrames, percent(emptyFrames, empty.frames));
  return failures > 0 ? 1 : 0;
}
