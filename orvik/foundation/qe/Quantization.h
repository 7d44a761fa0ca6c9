#pragma once
// Uniform quantisers of floats to small codes: code = round((v - minimum) *
// scale), value = minimum + code / scale, so Unmap(Map(v)) lies within
// 0.5 / scale of any v in [minimum, maximum]. Codes fit into one byte: a value
// whose code would pass the last code (and NaN, and values below the minimum)
// maps to the nearest end code instead of wrapping.
class QeFloatingPointQuantization {
public:
  virtual ~QeFloatingPointQuantization() = default;
  virtual unsigned int Map(float value) const = 0;
  virtual float Unmap(unsigned int code) const = 0;
};

class QeFloatingPointQuantizationUniform : public QeFloatingPointQuantization {
public:
  QeFloatingPointQuantizationUniform(float minimum, float maximum, float scale, unsigned int maxCode = 255);
  unsigned int Map(float value) const override;
  float Unmap(unsigned int code) const override;

  float GetMinimum() const { return m_fMinimum; }
  float GetMaximum() const { return m_fMaximum; }
  float GetScale() const { return m_fScale; }

protected:
  float m_fMinimum;
  float m_fMaximum;
  float m_fScale;
  unsigned int m_uiMaxCode;
};

// As the uniform quantiser, but the last byte code, 255, stands for the invalid
// value and unmaps to it exactly; valid values use the codes 0 to 254.
class QeFloatingPointQuantizationUniformWithInvalid : public QeFloatingPointQuantizationUniform {
public:
  QeFloatingPointQuantizationUniformWithInvalid(float minimum, float maximum, float scale, float invalidValue);
  unsigned int Map(float value) const override;
  float Unmap(unsigned int code) const override;

  float GetInvalidValue() const { return m_fInvalidValue; }
  static constexpr unsigned int c_uiInvalidCode = 255;

private:
  float m_fInvalidValue;
};
