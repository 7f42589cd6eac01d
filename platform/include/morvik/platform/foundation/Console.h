// Console lines: the platform's print(), with a sink that tests can swap.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

// Receives one line, without its newline.
using ConsoleSink = std::function<void(std::string_view line)>;

// Writes the text and a newline to the console sink (stdout by default) as
// one write. Controls other than tab and newline, DEL, C1 controls, U+2028,
// U+2029 and bytes that are not UTF-8 are written as \xNN, byte by byte, so
// quoted text can neither drive the terminal nor break the line. Any thread;
// lines are never torn.
void print(std::string_view line);

// Replaces the sink; an empty function restores stdout. Answers the previous
// sink (empty when it was stdout). Any thread: a print already running keeps
// the sink it started with, which stays alive until it returns.
ConsoleSink setConsoleSink(ConsoleSink sink);

// Captures every console line for as long as it lives, then puts the
// previous sink back. Captures nest (the innermost one wins).
class ScopedConsoleCapture {
 public:
  ScopedConsoleCapture();
  ~ScopedConsoleCapture();
  ScopedConsoleCapture(const ScopedConsoleCapture&) = delete;
  ScopedConsoleCapture& operator=(const ScopedConsoleCapture&) = delete;

  // The lines printed so far, in order. Any thread.
  std::vector<std::string> lines() const;
  // How many of the lines equal the text.
  std::size_t count(std::string_view line) const;

 private:
  struct State {
    mutable std::mutex mutex;
    std::vector<std::string> lines;
  };
  std::shared_ptr<State> state_;
  ConsoleSink previous_;
};

}  // namespace foundation
