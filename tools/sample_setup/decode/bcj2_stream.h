// BCJ2, 7-Zip's x86 filter of four streams: the program's bytes with the targets of calls (E8)
// and jumps (E9, and the conditional jumps 0F 80 to 0F 8F) taken out, the call targets, the jump
// targets (both as absolute big-endian addresses), and a range-coded stream of one bit per such
// opcode saying whether its target was taken out. Decoding puts each taken target back, relative
// to the position after it.
#pragma once

#include <cstdint>
#include <memory>

#include "decode/byte_source.h"

// main, call, jump and bits are the coder's four inputs in 7-Zip's order.
std::unique_ptr<ByteStream> MakeBcj2Stream(ByteStream& main, ByteStream& call, ByteStream& jump,
                                           ByteStream& bits, uint64_t out_size);
