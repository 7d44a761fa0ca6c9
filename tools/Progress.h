#pragma once
#include <chrono>
#include <string>

namespace orvik::tool {
// A progress bar on stderr for work that takes longer than a second. It draws
// only when stderr is a terminal, so logs and pipes stay clean.
class Progress {
public:
  explicit Progress(std::string label);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // fraction in 0 .. 1
  void Update(double fraction);

private:
  std::string m_label;
  std::chrono::steady_clock::time_point m_start;
  bool m_terminal;
  bool m_drawn = false;
};
}  // namespace orvik::tool
