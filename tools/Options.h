#pragma once
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvik::tool {
// Command-line arguments: "--name value" options, "--flag" switches and
// positional arguments. Unknown options and malformed values throw UsageError.
class UsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class Options {
public:
  Options(int argc, char** argv, const std::set<std::string>& valued, const std::set<std::string>& flags);

  bool Has(const std::string& name) const { return m_values.count(name) != 0 || m_flags.count(name) != 0; }
  std::string Get(const std::string& name, const std::string& fallback) const;
  int GetInt(const std::string& name, int fallback, int lo, int hi) const;
  float GetFloat(const std::string& name, float fallback) const;
  const std::vector<std::string>& Positional() const { return m_positional; }

private:
  std::map<std::string, std::string> m_values;
  std::set<std::string> m_flags;
  std::vector<std::string> m_positional;
};
}  // namespace orvik::tool
