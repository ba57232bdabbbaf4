// One LZX block: its codes, chosen from the counts of its items, the exact size it takes, and
// its writing. A block header names the type and the output size, then sends the codes' lengths
// as changes from those of the block before; an aligned block first sends the aligned code,
// which carries the lowest 3 extra bits of offsets with many of them.
#pragma once

#include <cstdint>

#include "cabinet/lzx/code_length_coding.h"
#include "cabinet/lzx/frame_stream.h"
#include "cabinet/lzx/lzx_items.h"

namespace lzx {

// The main and length codes' lengths that the next block's header is coded against; all 0 at
// the start of the stream.
struct CodeHistory {
  uint8_t main[kMaxMainSymbols] = {};
  uint8_t length[kNumLengthSymbols] = {};
};

struct BlockCode {
  BlockType type = BlockType::kVerbatim;
  uint8_t main[kMaxMainSymbols] = {};
  uint8_t length[kNumLengthSymbols] = {};
  uint8_t aligned[kNumAlignedSymbols] = {};
  // The header's three lists (literals' lengths, matches' lengths, the length code's).
  LengthsPlan plans[3];
  uint64_t bits = 0;  // the whole block, header included
};

// Builds the codes of a block with these counts, of the type that takes fewer bits, coded after
// history. main_symbols: the main code's size for the window.
void BuildBlockCode(const SymbolCounts& counts, uint32_t main_symbols, const CodeHistory& history,
                    BlockCode& code);

// Writes the block: its header, then the items, which cover size bytes of output.
void WriteBlock(const BlockCode& code, uint32_t main_symbols, const Item* items, size_t count,
                uint32_t size, FrameStream& out);

// What the next block is coded against.
void Remember(const BlockCode& code, CodeHistory& history);

}  // namespace lzx
