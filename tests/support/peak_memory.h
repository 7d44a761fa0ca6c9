#pragma once
// Runs a piece of code in a forked child and reports how far the child's
// resident memory rose above what it started with, so a test can show that a
// reader refused a hostile input without allocating for it. The child starts
// with the parent's pages, hence the difference.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <functional>

namespace test_support {

struct ChildOutcome {
  int exitCode = -1;          // what `body` returned, or -1 when the child did not exit normally
  std::int64_t peakGrowthKiB = 0;  // highest resident size minus the resident size at the fork
};

inline std::int64_t residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<std::int64_t>(resident) * (::sysconf(_SC_PAGESIZE) / 1024);
}

// `body` returns the child's exit code (0 .. 255); it must not use threads of
// the parent, which do not exist in the child.
inline ChildOutcome RunInChild(const std::function<int()>& body) {
  const std::int64_t before = residentKiB();
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  ChildOutcome outcome;
  int status = 0;
  rusage usage{};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return outcome;
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  outcome.peakGrowthKiB = static_cast<std::int64_t>(usage.ru_maxrss) - before;
  return outcome;
}

}  // namespace test_support
