#pragma once
// A row-major field of values: element (x, y) is data[y * width + x].
#include <vector>

template <typename T, int Channels>
class QeField2D {
public:
  QeField2D() = default;
  QeField2D(int width, int height)
      : m_width(width > 0 ? width : 0), m_height(height > 0 ? height : 0),
        m_data(static_cast<std::size_t>(m_width) * m_height * Channels) {}

  int GetWidth() const { return m_width; }
  int GetHeight() const { return m_height; }
  T* GetData() { return m_data.data(); }
  const T* GetData() const { return m_data.data(); }
  T& operator()(int x, int y) { return m_data[(static_cast<std::size_t>(y) * m_width + x) * Channels]; }
  const T& operator()(int x, int y) const {
    return m_data[(static_cast<std::size_t>(y) * m_width + x) * Channels];
  }

private:
  int m_width = 0;
  int m_height = 0;
  std::vector<T> m_data;
};
