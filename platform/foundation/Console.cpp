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

void appendHex(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0.
std::size_t utf8Length(std::string_view text) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = at(0);
  std::size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4)
    length = 4;
  if (length == 0 || text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((at(i) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, surrogates and code points past U+10FFFF.
  if ((lead == 0xE0 && at(1) < 0xA0) || (lead == 0xED && at(1) > 0x9F) || (lead == 0xF0 && at(1) < 0x90) ||
      (lead == 0xF4 && at(1) > 0x8F)) {
    return 0;
  }
  return length;
}

// Text quoted from elsewhere (a server's reply, a file) must not drive the
// terminal or break the line: controls other than tab and newline, DEL, C1
// controls, the Unicode line and paragraph separators and bytes that are not
// UTF-8 are written as \xNN, one per byte.
std::string consoleSafe(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (std::size_t i = 0; i < line.size();) {
    const auto byte = static_cast<unsigned char>(line[i]);
    if (byte < 0x80) {
      if ((byte < 0x20 && byte != '\t' && byte != '\n') || byte == 0x7F) {
        appendHex(out, byte);
      } else {
        out += static_cast<char>(byte);
      }
      ++i;
      continue;
    }
    const std::size_t length = utf8Length(line.substr(i));
    const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(line[i + 1]) < 0xA0;
    const bool separator = length == 3 && byte == 0xE2 && static_cast<unsigned char>(line[i + 1]) == 0x80 &&
                           (static_cast<unsigned char>(line[i + 2]) & 0xFE) == 0xA8;
    if (length == 0) {
      appendHex(out, byte);
      ++i;
      continue;
    }
    for (std::size_t k = 0; k < length; ++k) {
      if (c1 || separator) {
        appendHex(out, static_cast<unsigned char>(line[i + k]));
      } else {
        out += line[i + k];
      }
    }
    i += length;
  }
  return out;
}

}  // namespace

void print(std::string_view raw) {
  const std::string line = consoleSafe(raw);
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
