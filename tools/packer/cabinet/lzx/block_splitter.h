// Where blocks should end. Each block pays for a header that sends its codes, and in return
// its codes fit its own part of the input; where the input changes character (code, then
// tables, then resources), new codes pay. The items of a parse are cut into units of about
// equal output, and the cheapest grouping of consecutive units into blocks is found by dynamic
// programming, pricing each candidate block by the entropy of its symbols plus an estimate of
// its header.
#pragma once

#include <cstdint>
#include <vector>

#include "cabinet/lzx/lzx_items.h"

namespace lzx {

struct BlockSpan {
  uint32_t first_item;
  uint32_t item_count;
  uint32_t begin;  // output bytes, from the start of the items
  uint32_t end;
};

struct SplitSettings {
  uint32_t unit_bytes = 2048;
  uint32_t max_units = 128;  // in one block
  // The header estimate in bits: a fixed part, and a part per symbol that the codes use.
  uint32_t header_bits = 300;
  uint32_t header_bits_per_symbol = 4;
};

std::vector<BlockSpan> SplitIntoBlocks(const std::vector<Item>& items,
                                       const SplitSettings& settings);

}  // namespace lzx
