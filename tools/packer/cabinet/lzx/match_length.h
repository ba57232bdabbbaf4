// The length of the common prefix of two places in the input, compared 8 bytes at a time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace lzx {

// Input bytes that a comparison may read past its limit, which the input's buffer holds.
constexpr uint32_t kComparePadding = 8;

// How far a and b agree, from length (known to agree before it) up to limit.
inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t length, uint32_t limit) {
  while (length < limit) {
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, a + length, sizeof(x));
    std::memcpy(&y, b + length, sizeof(y));
    if (x != y) {
      // Little-endian loads: the lowest set bit lies in the first byte that differs.
      length += static_cast<uint32_t>(__builtin_ctzll(x ^ y)) / 8;
      return std::min(length, limit);
    }
    length += 8;
  }
  return limit;
}

}  // namespace lzx
