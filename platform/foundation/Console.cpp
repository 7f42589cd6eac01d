#include <morvik/platform/foundation/Console.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace foundation {
namespace {

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}

// Held through a shared_ptr so a print that has taken it keeps it alive
// while another thread swaps the sink.
std::shared_ptr<const ConsoleSink>& currentSink() {
  static std::shared_ptr<const ConsoleSink> sink;
  return sink;
}

}  // namespace

void print(std::string_view line) {
  std::shared_ptr<const ConsoleSink> sink;
  {
    std::lock_guard lock(sinkMutex());
    sink = currentSink();
  }
  if (sink) {
    (*sink)(line);
    return;
  }
  std::string text(line);
  text.push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

ConsoleSink setConsoleSink(ConsoleSink sink) {
  auto next = sink ? std::make_shared<const ConsoleSink>(std::move(sink)) : nullptr;
  std::shared_ptr<const ConsoleSink> previous;
  {
    std::lock_guard lock(sinkMutex());
    previous = std::exchange(currentSink(), std::move(next));
  }
  return previous ? *previous : ConsoleSink();
}

ScopedConsoleCapture::ScopedConsoleCapture() : state_(std::make_shared<State>()) {
  previous_ = setConsoleSink([state = state_](std::string_view line) {
    std::lock_guard lock(state->mutex);
    state->lines.emplace_back(line);
  });
}

ScopedConsoleCapture::~ScopedConsoleCapture() { setConsoleSink(std::move(previous_)); }

std::vector<std::string> ScopedConsoleCapture::lines() const {
  std::lock_guard lock(state_->mutex);
  return state_->lines;
}

std::size_t ScopedConsoleCapture::count(std::string_view line) const {
  std::lock_guard lock(state_->mutex);
  return static_cast<std::size_t>(std::count(state_->lines.begin(), state_->lines.end(), line));
}

}  // namespace foundation
