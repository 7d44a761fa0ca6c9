#pragma once
// Per-SSE-line column spans of a matrix: entry g holds the first and last column
// of interest in the four rows of SSE line g. Every CSSEMatrix carries one.
#include <cstdint>

class CSSEMatrix;

class CImgFromToArray {
public:
  struct Entry {
    std::int32_t from;
    std::int32_t to;
  };

  CImgFromToArray() = default;
  CImgFromToArray(const CImgFromToArray& other);
  CImgFromToArray& operator=(const CImgFromToArray& other);
  ~CImgFromToArray();

  int GetCount() const { return m_iCount; }
  Entry* GetEntries() { return m_pEntries; }
  const Entry* GetEntries() const { return m_pEntries; }

  // --- span operations (ImgFromToArray.cpp) ---
  // Releases the old entries and creates one per SSE line of a matrix with
  // `rows` rows ((rows >> 2) + 1), each (0, 999999).
  void AllocArray(int rows);
  // For each SSE line of m, from = the first x in xFrom+1 .. xTo-1 and to = the
  // first x from xTo down to max(from, xFrom)+1 where some lane of
  // m(x-1) - m(x) lies outside (-0.005, 0.005); an entry keeps 0 or 999999
  // where there is none. xFrom and xTo are clamped to the columns. Nothing for
  // an empty matrix.
  void CalcArray(CSSEMatrix& m, int xFrom, int xTo);
  // h == 1: the entry of line y >> 2 (clamped). Otherwise from and to are
  // narrowed to the least from and greatest to of the lines
  // clamp((y - h) >> 2) up to but not including clamp((y + h) >> 2).
  void GetFromToCoords(int& from, int& to, int y, int h) const;
  // False without entries; h == 1: from <= x <= to on line y >> 2; otherwise
  // true when the line range (as above) is empty or x lies in every span of it.
  bool IsPositionInArray(int x, int y, int h) const;
  // (orvik/polygon/ssematrix_polygons.cpp) 3x3 stamps of 20 at (from, 4 g)
  // and of 30 at (to, 4 g) for every entry g, clamped into m.
  void DrawInMatrix(CSSEMatrix& m) const;

private:
  Entry* m_pEntries = nullptr;
  std::int32_t m_iCount = 0;
};
