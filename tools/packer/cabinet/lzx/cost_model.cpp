#include "cabinet/lzx/cost_model.h"

#include <algorithm>

#include "cabinet/lzx/fixed_log2.h"

namespace lzx {

namespace {

// Guesses for symbols that the previous parse did not use: rare ones, but not so dear that the
// parser never tries them, which would keep them out of the next parse for good.
constexpr uint32_t kUnusedLiteral = 12 * kCostScale;
constexpr uint32_t kUnusedMatch = 13 * kCostScale;
constexpr uint32_t kUnusedLength = 9 * kCostScale;
constexpr uint32_t kUnusedAligned = 5 * kCostScale;
// No codeword is shorter than a bit, and a symbol that takes up most of a code still costs
// something; half a bit keeps the parser from thinking it free.
constexpr uint32_t kCheapest = kCostScale / 2;

void Prices(const uint32_t* counts, uint32_t n, uint32_t unused, uint32_t* prices) {
  uint64_t total = 0;
  for (uint32_t s = 0; s < n; ++s) total += counts[s];
  const uint32_t log_total = total != 0 ? Log2Fixed(static_cast<uint32_t>(total)) : 0;
  constexpr uint32_t kHalf = 1u << (kLog2Fraction - 1);
  for (uint32_t s = 0; s < n; ++s) {
    if (counts[s] == 0) {
      prices[s] = unused;
      continue;
    }
    const uint32_t share = (log_total - Log2Fixed(counts[s])) * kCostScale;
    prices[s] = std::max((share + kHalf) >> kLog2Fraction, kCheapest);
  }
}

}  // namespace

void SetCosts(const SymbolCounts& counts, BlockType type, uint32_t slots, CostModel& model) {
  uint32_t main[kMaxMainSymbols];
  uint32_t length[kNumLengthSymbols];
  Prices(counts.main, kNumChars + slots * 8, kUnusedLiteral, main);
  // Prices() gave unused match symbols the literals' guess; they get their own.
  for (uint32_t s = kNumChars; s < kNumChars + slots * 8; ++s) {
    if (counts.main[s] == 0) main[s] = kUnusedMatch;
  }
  Prices(counts.length, kNumLengthSymbols, kUnusedLength, length);
  for (uint32_t c = 0; c < kNumChars; ++c) model.literal[c] = main[c];

  model.aligned_block = type == BlockType::kAligned;
  if (model.aligned_block) {
    Prices(counts.aligned, kNumAlignedSymbols, kUnusedAligned, model.aligned);
  } else {
    for (uint32_t& a : model.aligned) a = 0;
  }

  for (uint32_t slot = 0; slot < slots; ++slot) {
    const uint32_t extra = kSlots.extra[slot];
    const uint32_t fixed_extra =
        (model.aligned_block && slot >= kFirstAlignedSlot ? extra - 3 : extra) * kCostScale;
    const uint32_t* const header_price = main + kNumChars + slot * 8;
    uint32_t* const row = model.match[slot];
    row[0] = row[1] = 0;
    for (uint32_t l = kMinMatch; l <= kMaxMatch; ++l) {
      const uint32_t header = LengthHeader(l);
      row[l] = header_price[header] + fixed_extra +
               (header == kNumPrimaryLengths ? length[l - kMinMatch - kNumPrimaryLengths] : 0);
    }
  }
}

}  // namespace lzx
