#pragma once
// The memory layout the height field and the byte matrix share: SSE lines in
// fields of a fixed number of lines, each field one 16-byte-aligned block with
// its lines contiguous and in order, reached through a table of line pointers.
// Not part of the public interface.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "orvik/foundation/Alloc.h"

namespace orvik::detail {

template <typename V>
void FreeLineFields(V**& table, std::vector<void*>& fields, std::int32_t& fieldCount);

// Allocates `lines` lines of `vectorsPerLine` vectors (contents undefined) and
// points table[g] at line g. When an allocation fails part way, what exists is
// released (table null, no fields) before the exception goes on.
template <typename V>
void AllocateLineFields(V**& table, std::vector<void*>& fields, std::int32_t& fieldCount, int lines,
                        int vectorsPerLine, int linesPerField) {
  const int count = (lines + linesPerField - 1) / linesPerField;
  const std::size_t lineBytes = static_cast<std::size_t>(vectorsPerLine) * sizeof(V);
  try {
    fields.assign(count, nullptr);
    table = static_cast<V**>(SafeAlignedAlloc(sizeof(V*) * lines, 16));
    for (int f = 0; f < count; ++f) {
      const int first = f * linesPerField;
      const int n = std::min(linesPerField, lines - first);
      auto* field = static_cast<V*>(SafeAlignedAlloc(lineBytes * n, 16));
      fields[f] = field;
      fieldCount = f + 1;
      for (int l = 0; l < n; ++l) table[first + l] = field + static_cast<std::size_t>(l) * vectorsPerLine;
    }
  } catch (...) {
    FreeLineFields(table, fields, fieldCount);
    throw;
  }
}

template <typename V>
void FreeLineFields(V**& table, std::vector<void*>& fields, std::int32_t& fieldCount) {
  for (int f = 0; f < fieldCount; ++f) SafeAlignedFree(fields[f]);
  fields.clear();
  fieldCount = 0;
  SafeAlignedFree(table);
  table = nullptr;
}

}  // namespace orvik::detail
