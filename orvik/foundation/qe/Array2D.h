#pragma once
// The host's 2D array of values read by position (x, y), row-major.
#include <cstddef>
#include <vector>

template <typename T>
class QeArray2D {
public:
  QeArray2D() = default;
  QeArray2D(int sizeX, int sizeY, const T& value = T{})
      : m_sizeX(sizeX > 0 && sizeY > 0 ? sizeX : 0), m_sizeY(sizeX > 0 && sizeY > 0 ? sizeY : 0),
        m_data(static_cast<std::size_t>(m_sizeX) * m_sizeY, value) {}

  int GetSizeX() const { return m_sizeX; }
  int GetSizeY() const { return m_sizeY; }
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < m_sizeX && y < m_sizeY; }
  T& operator()(int x, int y) { return m_data[static_cast<std::size_t>(y) * m_sizeX + x]; }
  const T& operator()(int x, int y) const { return m_data[static_cast<std::size_t>(y) * m_sizeX + x]; }
  T* GetData() { return m_data.data(); }
  const T* GetData() const { return m_data.data(); }

private:
  int m_sizeX = 0;
  int m_sizeY = 0;
  std::vector<T> m_data;
};
