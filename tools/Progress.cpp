#include "Progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace orvik::tool {

Progress::Progress(std::string label)
    : m_label(std::move(label)), m_start(std::chrono::steady_clock::now()), m_terminal(isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() {
  if (m_drawn) std::fprintf(stderr, "\r%-60s\r", "");
}

void Progress::Update(double fraction) {
  if (!m_terminal) return;
  if (std::chrono::steady_clock::now() - m_start < std::chrono::seconds(1)) return;
  constexpr int width = 30;
  const int filled = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * width);
  std::fprintf(stderr, "\r%-20.20s [%s%s] %3d%%", m_label.c_str(), std::string(filled, '#').c_str(),
               std::string(width - filled, '.').c_str(), static_cast<int>(fraction * 100.0));
  std::fflush(stderr);
  m_drawn = true;
}

}  // namespace orvik::tool
