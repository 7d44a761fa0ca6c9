// Prints a hash of every kernel operation's result on fixed fields, one line
// per operation and size, for comparing builds and kernel levels.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "support/kernel_operations.h"

namespace {

// FNV-1a over the bits of every lane, spare lanes included. Every NaN hashes
// as one: which NaN a commutative operation on two returns follows the
// operand order a compiler picks.
std::uint64_t hashOf(const CSSEMatrix& m) {
  std::uint64_t hash = 14695981039346656037ull;
  for (int g = 0; g < m.GetSSESizeY(); ++g)
    for (int i = 0; i < 4 * m.GetSSESizeX(); ++i) {
      std::uint32_t bits;
      std::memcpy(&bits, reinterpret_cast<const float*>(m.GetMatrixDataDirectly()[g]) + i, sizeof bits);
      if ((bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu)) bits = 0x7FC00000u;
      for (int b = 0; b < 4; ++b) hash = (hash ^ (bits >> (8 * b) & 0xFF)) * 1099511628211ull;
    }
  return hash;
}

}  // namespace

int main() {
  struct Size {
    int x, y;
  };
  for (const Size s : {Size{257, 131}, Size{64, 63}, Size{19, 30}}) {
    const CSSEMatrix field = orvik::test::kernelField(s.x, s.y, 2024u);
    const CSSEMatrix other = orvik::test::kernelField(s.x, s.y, 7u);
    for (const auto& op : orvik::test::kernelOperations()) {
      CSSEMatrix m(field);
      op.run(m, other);
      std::printf("%-26s %4d x %-4d %016llx\n", op.name.c_str(), s.x, s.y,
                  static_cast<unsigned long long>(hashOf(m)));
    }
  }
  return 0;
}
