// What a parse makes of the input: literals and matches, and the counts of the symbols that
// coding them takes, from which each block's codes are built.
#pragma once

#include <cstdint>

#include "cabinet/lzx/lzx_format.h"

namespace lzx {

// A literal (length 1, value the byte) or a match (length 2 to 257, value its formatted offset:
// 0 to 2 for the repeated offsets, the offset plus 2 for others).
struct Item {
  uint32_t length;
  uint32_t value;
};

inline uint32_t LengthHeader(uint32_t length) {
  return length - kMinMatch < kNumPrimaryLengths ? length - kMinMatch : kNumPrimaryLengths;
}

inline uint32_t MainSymbol(const Item& item) {
  if (item.length == 1) return item.value;
  return kNumChars + SlotOf(item.value) * 8 + LengthHeader(item.length);
}

// The repeated offsets R0, R1, R2, most recent first; 1, 1, 1 at the start of the stream.
struct RecentOffsets {
  uint32_t r[kNumRepeats] = {1, 1, 1};

  // The queue after a match with this formatted offset.
  void Update(uint32_t formatted) {
    if (formatted == 0) return;
    if (formatted < kNumRepeats) {
      const uint32_t used = r[formatted];
      r[formatted] = r[0];
      r[0] = used;
      return;
    }
    r[2] = r[1];
    r[1] = r[0];
    r[0] = formatted - 2;
  }
};

// Symbol counts of a run of items, and the extra bits of their offsets under both block types.
struct SymbolCounts {
  uint32_t main[kMaxMainSymbols];
  uint32_t length[kNumLengthSymbols];
  uint32_t aligned[kNumAlignedSymbols];
  // Extra bits sent as they are: all of them in a verbatim block; in an aligned block those
  // above the 3 lowest, which the aligned code carries for offsets with 3 extra bits or more.
  uint64_t verbatim_extra;
  uint64_t aligned_extra;

  SymbolCounts() { Clear(); }
  void Clear();
  void Add(const Item& item);
  void Add(const SymbolCounts& other);
};

}  // namespace lzx
