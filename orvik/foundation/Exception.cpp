#include "orvik/foundation/Exception.h"

CbException::CbException(const char* file, int line, const char* function)
    : CbException(file, line, function, std::string()) {}

CbException::CbException(const char* file, int line, const char* function,
                         const std::string& detail)
    : m_file(file ? file : ""), m_line(line), m_function(function ? function : ""),
      m_detail(detail) {
  m_what = m_file + "(" + std::to_string(m_line) + "): " + m_function;
  if (!m_detail.empty()) m_what += ": " + m_detail;
}
