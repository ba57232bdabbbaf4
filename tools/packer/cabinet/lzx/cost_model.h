// What the parser pays for each choice, in sixteenths of a bit: the code lengths of the block's
// codes (from the previous pass over the block), with a guess for the symbols those codes lack.
#pragma once

#include <cstdint>

#include "lzx_block.h"
#include "lzx_format.h"

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

void SetCosts(const BlockCode& code, uint32_t slots, CostModel& model);
void SetCostsFrac(const SymbolCounts& counts, BlockType type, uint32_t slots, CostModel& model);

}  // namespace lzx
