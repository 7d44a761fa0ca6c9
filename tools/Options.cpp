#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace orvik::tool {

Options::Options(int argc, char** argv, const std::set<std::string>& valued, const std::set<std::string>& flags) {
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string name = a.substr(2), value;
      const auto eq = name.find('=');
      const bool inlineValue = eq != std::string::npos;
      if (inlineValue) {
        value = name.substr(eq + 1);
        name.resize(eq);
      }
      if (flags.count(name) && !inlineValue) {
        m_flags.insert(name);
      } else if (valued.count(name)) {
        if (!inlineValue) {
          if (i + 1 >= argc) throw UsageError("option --" + name + " needs a value");
          value = argv[++i];
        }
        m_values[name] = value;
      } else {
        throw UsageError("unknown option '" + a + "'");
      }
    } else {
      m_positional.push_back(a);
    }
  }
}

std::string Options::Get(const std::string& name, const std::string& fallback) const {
  auto it = m_values.find(name);
  return it == m_values.end() ? fallback : it->second;
}

int Options::GetInt(const std::string& name, int fallback, int lo, int hi) const {
  auto it = m_values.find(name);
  if (it == m_values.end()) return fallback;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(it->second.c_str(), &end, 10);
  if (errno != 0 || end == it->second.c_str() || *end != '\0' || v < lo || v > hi)
    throw UsageError("--" + name + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                     ", not '" + it->second + "'");
  return static_cast<int>(v);
}

float Options::GetFloat(const std::string& name, float fallback) const {
  auto it = m_values.find(name);
  if (it == m_values.end()) return fallback;
  char* end = nullptr;
  const float v = std::strtof(it->second.c_str(), &end);
  if (end == it->second.c_str() || *end != '\0' || !std::isfinite(v))
    throw UsageError("--" + name + " needs a number, not '" + it->second + "'");
  return v;
}

}  // namespace orvik::tool
