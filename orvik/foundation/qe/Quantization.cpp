#include "orvik/foundation/qe/Quantization.h"

#include <cmath>

QeFloatingPointQuantizationUniform::QeFloatingPointQuantizationUniform(float minimum, float maximum, float scale,
                                                                       unsigned int maxCode)
    : m_fMinimum(minimum), m_fMaximum(maximum), m_fScale(scale), m_uiMaxCode(maxCode) {}

unsigned int QeFloatingPointQuantizationUniform::Map(float value) const {
  // In double, so that the rounding of the product does not eat into the
  // half-step the contract promises.
  const double code = std::floor((static_cast<double>(value) - m_fMinimum) * m_fScale + 0.5);
  if (!(code > 0.0)) return 0;  // also NaN
  return code >= m_uiMaxCode ? m_uiMaxCode : static_cast<unsigned int>(code);
}

float QeFloatingPointQuantizationUniform::Unmap(unsigned int code) const {
  return static_cast<float>(m_fMinimum + code / static_cast<double>(m_fScale));
}

QeFloatingPointQuantizationUniformWithInvalid::QeFloatingPointQuantizationUniformWithInvalid(float minimum,
                                                                                             float maximum,
                                                                                             float scale,
                                                                                             float invalidValue)
    : QeFloatingPointQuantizationUniform(minimum, maximum, scale, c_uiInvalidCode - 1),
      m_fInvalidValue(invalidValue) {}

unsigned int QeFloatingPointQuantizationUniformWithInvalid::Map(float value) const {
  if (value == m_fInvalidValue) return c_uiInvalidCode;
  return QeFloatingPointQuantizationUniform::Map(value);
}

float QeFloatingPointQuantizationUniformWithInvalid::Unmap(unsigned int code) const {
  if (code == c_uiInvalidCode) return m_fInvalidValue;
  return QeFloatingPointQuantizationUniform::Unmap(code);
}
