// A progress bar on stderr for long renders.
//
// Drawn only when stderr is a terminal and the job is still running after a delay (about a
// second), redrawn at most every interval (a tenth of a second), and ended with a newline; when
// stderr is a file or a pipe nothing at all is written, so scripts and tests get clean output.
// One thread drives it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

namespace brvst::render {

// True when stderr is a terminal (a console window on Windows).
bool StderrIsTerminal();

struct ProgressOptions {
  using Clock = std::chrono::steady_clock;
  // Where the bar is drawn; nothing is drawn when null.
  std::ostream* out = nullptr;
  // No bar for jobs that finish sooner than this.
  std::chrono::milliseconds delay{1000};
  // The least time between two redraws.
  std::chrono::milliseconds interval{100};
  // The clock; tests drive their own.
  std::function<Clock::time_point()> now = Clock::now;
  // Characters between the brackets.
  int width = 40;
};

class Progress {
 public:
  // A bar for `total` units of work (frames), labelled `label`, drawn as `options` say.
  Progress(std::string label, std::int64_t total, ProgressOptions options);
  // The bar on stderr when it is a terminal, otherwise one that draws nothing.
  static Progress OnStderr(std::string label, std::int64_t total);
  ~Progress();
  // The moved-from bar is left finished, so only one of the two ever ends the line.
  Progress(Progress&& other) noexcept;
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // `done` of the total units are done.
  void Update(std::int64_t done);
  // Draws the final state and ends the line, if a bar was ever drawn; later calls do nothing.
  void Finish();

 private:
  void Draw(ProgressOptions::Clock::time_point now);

  std::string m_label;
  std::int64_t m_total;
  std::int64_t m_done = 0;
  ProgressOptions m_options;
  ProgressOptions::Clock::time_point m_start;
  ProgressOptions::Clock::time_point m_lastDraw;
  bool m_drawn = false;
  bool m_finished = false;
};

}  // namespace brvst::render
