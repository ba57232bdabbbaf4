// How a block header sends a code's lengths: each length as its change from the same symbol's
// length in the previous block (symbols 0 to 16, the change modulo 17), runs of zeros (17: 4 to
// 19 of them, 18: 20 to 51) and short runs of one length (19: 4 or 5), all coded with a small
// code of their own, the pretree, whose 20 lengths go first in 4 bits each.
#pragma once

#include <cstdint>
#include <vector>

#include "cabinet/lzx/bit_writer.h"
#include "cabinet/lzx/lzx_format.h"

namespace lzx {

struct LengthStep {
  uint8_t symbol;  // 0 to 19
  uint8_t extra;   // the run length's bits for 17, 18 and 19
  uint8_t change;  // for 19: the change symbol that follows
};

struct LengthsPlan {
  uint8_t pretree[kNumPretreeSymbols];
  std::vector<LengthStep> steps;
  uint32_t bits;  // everything, the pretree's lengths included
};

// The cheapest coding found for lengths[0..count) after previous[0..count): the choice of steps
// and the pretree are refined against each other a few times.
void PlanCodeLengths(const uint8_t* previous, const uint8_t* lengths, uint32_t count,
                     LengthsPlan& plan);

void WriteCodeLengths(const LengthsPlan& plan, BitWriter& out);

}  // namespace lzx
