// What the parser pays for each choice, in sixteenths of a bit: each symbol's share of the
// symbols that the previous parse of the block used, as -log2 of it, which is what an ideal code
// would spend on it; with a guess for the symbols that parse did not use.
#pragma once

#include <cstdint>

#include "cabinet/lzx/lzx_format.h"
#include "cabinet/lzx/lzx_items.h"

namespace lzx {

constexpr uint32_t kCostScale = 16;

struct CostModel {
  uint32_t literal[kNumChars];
  // A match by its slot (0 to 2: a repeated offset) and length: the main symbol, the length
  // symbol, and the extra bits that do not depend on the offset's value.
  uint32_t match[kMaxPositionSlots][kMaxMatch + 1];
  // In an aligned block, what the offset's lowest 3 bits add for slots with 3 extra bits or
  // more (kFirstAlignedSlot on).
  bool aligned_block;
  uint32_t aligned[kNumAlignedSymbols];
};

constexpr uint32_t kFirstAlignedSlot = 8;

// Prices for a block of the given type whose previous parse had these counts; slots: the
// window's position slots.
void SetCosts(const SymbolCounts& counts, BlockType type, uint32_t slots, CostModel& model);

}  // namespace lzx
