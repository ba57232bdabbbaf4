// Base-2 logarithms in fixed point (1/256 bit), from integers only, so that every platform
// prices symbols, and so chooses blocks and parses, in the same way.
#pragma once

#include <cstdint>

namespace lzx {

constexpr int kLog2Fraction = 8;

struct Log2Mantissas {
  uint32_t value[256];
};

// log2(1 + i/256) for each i: x in [1, 2) with 30 fraction bits is squared, which doubles its
// logarithm, and each time the square reaches 2 the next bit of the logarithm is 1.
constexpr Log2Mantissas MakeLog2Mantissas() {
  Log2Mantissas table = {};
  for (uint32_t i = 0; i < 256; ++i) {
    uint64_t x = uint64_t{256 + i} << 22;
    uint32_t bits = 0;
    for (int b = kLog2Fraction - 1; b >= 0; --b) {
      x = (x * x) >> 30;
      if (x >= (uint64_t{1} << 31)) {
        x >>= 1;
        bits |= 1u << b;
      }
    }
    table.value[i] = bits;
  }
  return table;
}
inline constexpr Log2Mantissas kLog2Mantissas = MakeLog2Mantissas();

// log2(x) * 256, rounded down to the table's precision; x at least 1.
constexpr uint32_t Log2Fixed(uint32_t x) {
  uint32_t top = 31;
  while (!(x >> top)) --top;
  const uint32_t mantissa = top >= 8 ? (x >> (top - 8)) & 255 : (x << (8 - top)) & 255;
  return (top << kLog2Fraction) + kLog2Mantissas.value[mantissa];
}

}  // namespace lzx
