#include "cost_model.h"
#include <cstdlib>
#include "fixed_log2.h"

namespace lzx {

namespace {

// Guesses for symbols that the code lacks: rare ones, but not so dear that the parser never
// tries them, which would keep them out of the next pass's code for good.
static uint32_t E(const char* n, uint32_t d) { return getenv(n) ? atoi(getenv(n)) : d; }
static const uint32_t kUnusedLiteral = E("UL", 12);
static const uint32_t kUnusedMatch = E("UM", 13);
static const uint32_t kUnusedLength = E("ULN", 9);
static const uint32_t kUnusedAligned = E("UA", 5);

uint32_t Price(uint8_t length, uint32_t unused) {
  return (length != 0 ? length : unused) * kCostScale;
}

}  // namespace

static void Fractional(const uint32_t* counts, uint32_t n, uint32_t unused, uint32_t* out) {
  uint64_t total = 0;
  for (uint32_t s = 0; s < n; ++s) total += counts[s];
  const uint32_t lt = total ? Log2Fixed(static_cast<uint32_t>(total)) : 0;
  for (uint32_t s = 0; s < n; ++s) {
    out[s] = counts[s] ? ((lt - Log2Fixed(counts[s])) * kCostScale + 128) / 256 : unused * kCostScale;
    if (counts[s] && out[s] < kCostScale / 2) out[s] = kCostScale / 2;
  }
}

void SetCostsFrac(const SymbolCounts& counts, BlockType type, uint32_t slots, CostModel& model) {
  uint32_t main[kMaxMainSymbols];
  uint32_t length_price[kNumLengthSymbols];
  Fractional(counts.main, kNumChars + slots * 8, kUnusedLiteral, main);
  Fractional(counts.length, kNumLengthSymbols, kUnusedLength, length_price);
  for (uint32_t c = 0; c < kNumChars; ++c) model.literal[c] = main[c];
  model.aligned_block = type == BlockType::kAligned;
  uint32_t al[8];
  Fractional(counts.aligned, 8, kUnusedAligned, al);
  for (uint32_t s = 0; s < kNumAlignedSymbols; ++s) model.aligned[s] = model.aligned_block ? al[s] : 0;
  for (uint32_t slot = 0; slot < slots; ++slot) {
    const uint32_t extra = kSlots.extra[slot];
    const uint32_t fixed_extra =
        (model.aligned_block && slot >= kFirstAlignedSlot ? extra - 3 : extra) * kCostScale;
    uint32_t* const row = model.match[slot];
    row[0] = row[1] = 0;
    for (uint32_t length = kMinMatch; length <= kMaxMatch; ++length) {
      const uint32_t header = LengthHeader(length);
      uint32_t hp = counts.main[kNumChars + slot * 8 + header] ? main[kNumChars + slot * 8 + header] : kUnusedMatch * kCostScale;
      row[length] = hp + fixed_extra +
                    (header == kNumPrimaryLengths
                         ? length_price[length - kMinMatch - kNumPrimaryLengths]
                         : 0);
    }
  }
}

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
