#include "cost_model.h"

namespace lzx {

namespace {

// Guesses for symbols that the code lacks: rare ones, but not so dear that the parser never
// tries them, which would keep them out of the next pass's code for good.
constexpr uint32_t kUnusedLiteral = 12;
constexpr uint32_t kUnusedMatch = 13;
constexpr uint32_t kUnusedLength = 9;
constexpr uint32_t kUnusedAligned = 5;

uint32_t Price(uint8_t length, uint32_t unused) {
  return (length != 0 ? length : unused) * kCostScale;
}

}  // namespace

void SetCosts(const BlockCode& code, uint32_t slots, CostModel& model) {
  for (uint32_t c = 0; c < kNumChars; ++c) model.literal[c] = Price(code.main[c], kUnusedLiteral);
  model.aligned_block = code.type == BlockType::kAligned;
  for (uint32_t s = 0; s < kNumAlignedSymbols; ++s) {
    model.aligned[s] = model.aligned_block ? Price(code.aligned[s], kUnusedAligned) : 0;
  }
  uint32_t length_price[kNumLengthSymbols];
  for (uint32_t s = 0; s < kNumLengthSymbols; ++s) {
    length_price[s] = Price(code.length[s], kUnusedLength);
  }
  for (uint32_t slot = 0; slot < slots; ++slot) {
    const uint32_t extra = kSlots.extra[slot];
    const uint32_t fixed_extra =
        (model.aligned_block && slot >= kFirstAlignedSlot ? extra - 3 : extra) * kCostScale;
    uint32_t header_price[kNumPrimaryLengths + 1];
    for (uint32_t h = 0; h <= kNumPrimaryLengths; ++h) {
      header_price[h] = Price(code.main[kNumChars + slot * 8 + h], kUnusedMatch);
    }
    uint32_t* const row = model.match[slot];
    row[0] = row[1] = 0;
    for (uint32_t length = kMinMatch; length <= kMaxMatch; ++length) {
      const uint32_t header = LengthHeader(length);
      row[length] = header_price[header] + fixed_extra +
                    (header == kNumPrimaryLengths
                         ? length_price[length - kMinMatch - kNumPrimaryLengths]
                         : 0);
    }
  }
}

}  // namespace lzx
