#include "cabinet/lzx/lzx_items.h"

#include <cstring>

namespace lzx {

void SymbolCounts::Clear() {
  std::memset(main, 0, sizeof(main));
  std::memset(length, 0, sizeof(length));
  std::memset(aligned, 0, sizeof(aligned));
  verbatim_extra = 0;
  aligned_extra = 0;
}

void SymbolCounts::Add(const Item& item) {
  ++main[MainSymbol(item)];
  if (item.length == 1) return;
  if (LengthHeader(item.length) == kNumPrimaryLengths) {
    ++length[item.length - kMinMatch - kNumPrimaryLengths];
  }
  if (item.value < kNumRepeats) return;
  const uint32_t extra = kSlots.extra[SlotOf(item.value)];
  verbatim_extra += extra;
  if (extra >= 3) {
    aligned_extra += extra - 3;
    ++aligned[item.value & 7];
  } else {
    aligned_extra += extra;
  }
}

void SymbolCounts::Add(const SymbolCounts& other) {
  for (uint32_t s = 0; s < kMaxMainSymbols; ++s) main[s] += other.main[s];
  for (uint32_t s = 0; s < kNumLengthSymbols; ++s) length[s] += other.length[s];
  for (uint32_t s = 0; s < kNumAlignedSymbols; ++s) aligned[s] += other.aligned[s];
  verbatim_extra += other.verbatim_extra;
  aligned_extra += other.aligned_extra;
}

}  // namespace lzx
