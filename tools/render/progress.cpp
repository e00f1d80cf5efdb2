// The progress bar's timing and drawing.
#include "tools/render/progress.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <utility>

namespace brvst::render {

Progress::Progress(std::string label, std::int64_t total, ProgressOptions options)
    : m_label(std::move(label)), m_total(total), m_options(std::move(options)) {
  if (m_options.out != nullptr) m_start = m_options.now();
}

Progress Progress::OnStderr(std::string label, std::int64_t total) {
  ProgressOptions options;
  if (StderrIsTerminal()) options.out = &std::cerr;
  return Progress(std::move(label), total, std::move(options));
}

Progress::Progress(Progress&& other) noexcept
    : m_label(std::move(other.m_label)),
      m_total(other.m_total),
      m_done(other.m_done),
      m_options(std::move(other.m_options)),
      m_start(other.m_start),
      m_lastDraw(other.m_lastDraw),
      m_drawn(other.m_drawn),
      m_finished(other.m_finished) {
  other.m_finished = true;
}

Progress::~Progress() {
  try {
    Finish();
  } catch (...) {
    // A failing terminal must not take the render down with it.
  }
}

void Progress::Update(std::int64_t done) {
  m_done = done;
  if (m_options.out == nullptr || m_finished) return;
  const auto now = m_options.now();
  if (now - m_start < m_options.delay) return;
  if (m_drawn && now - m_lastDraw < m_options.interval) return;
  Draw(now);
}

void Progress::Finish() {
  if (m_finished) return;
  m_finished = true;
  if (!m_drawn) return;
  Draw(m_options.now());
  *m_options.out << '\n' << std::flush;
}

void Progress::Draw(ProgressOptions::Clock::time_point now) {
  const double fraction =
      m_total > 0 ? std::clamp(static_cast<double>(m_done) / static_cast<double>(m_total), 0.0, 1.0)
                  : 1.0;
  const int width = std::max(1, m_options.width);
  const int filled = static_cast<int>(fraction * width);
  const double seconds = std::chrono::duration<double>(now - m_start).count();
  char numbers[48];
  std::snprintf(numbers, sizeof numbers, "] %3d%% %6.1f s", static_cast<int>(fraction * 100),
                seconds);
  // Carriage return, not newline: the bar redraws itself in place.
  *m_options.out << '\r' << m_label << " [" << std::string(static_cast<std::size_t>(filled), '#')
                 << std::string(static_cast<std::size_t>(width - filled), '-') << numbers
                 << std::flush;
  m_drawn = true;
  m_lastDraw = now;
}

}  // namespace brvst::render
