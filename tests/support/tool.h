#pragma once
// Runs the built orvik program (ORVIK_TOOL_PATH) as a user would.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace test_support {

struct Outcome {
  int status = -1;     // exit status, or -1 when the program did not exit normally
  std::string output;  // stdout and stderr together
};

inline Outcome run(const std::string& args) {
  Outcome r;
  const std::string command = std::string(ORVIK_TOOL_PATH) + " " + args + " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  while (std::fgets(buf.data(), buf.size(), p)) r.output += buf.data();
  const int status = pclose(p);
  if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
  return r;
}

}  // namespace test_support
