#pragma once
// Plain vectors and the 4x4 matrix of the foundation library.

struct CbVector2f {
  float x = 0.0f, y = 0.0f;
  CbVector2f() = default;
  CbVector2f(float x_, float y_) : x(x_), y(y_) {}
  friend bool operator==(const CbVector2f&, const CbVector2f&) = default;
};

struct CbVector3f {
  float x = 0.0f, y = 0.0f, z = 0.0f;
  CbVector3f() = default;
  CbVector3f(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}
  friend bool operator==(const CbVector3f&, const CbVector3f&) = default;
};

// A 4x4 float matrix stored as four columns of four floats: m[c][r] is row r of
// column c. A point p maps to x*col0 + y*col1 + z*col2 + col3.
struct CbMatrix4Rf {
  float m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  const float* GetColumn(int c) const { return m[c]; }
  float* GetColumn(int c) { return m[c]; }
};
