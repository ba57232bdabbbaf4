#include "cabinet/lzx/lzx_block.h"

#include <algorithm>

#include "cabinet/lzx/huffman_code.h"

namespace lzx {

namespace {

constexpr int kTypeBits = 3;
constexpr int kSizeBits = 24;
constexpr int kAlignedLengthBits = 3;

uint64_t CodedBits(const uint32_t* counts, const uint8_t* lengths, uint32_t n) {
  uint64_t bits = 0;
  for (uint32_t s = 0; s < n; ++s) bits += uint64_t{counts[s]} * lengths[s];
  return bits;
}

}  // namespace

void BuildBlockCode(const SymbolCounts& counts, uint32_t main_symbols, const CodeHistory& history,
                    BlockCode& code) {
  BuildCodeLengths(counts.main, main_symbols, kMaxCodeLength, code.main);
  // A block without long matches sends an empty length code, which decoders accept.
  BuildCodeLengths(counts.length, kNumLengthSymbols, kMaxCodeLength, code.length);
  BuildCodeLengths(counts.aligned, kNumAlignedSymbols, kMaxAlignedLength, code.aligned);
  PlanCodeLengths(history.main, code.main, kNumChars, code.plans[0]);
  PlanCodeLengths(history.main + kNumChars, code.main + kNumChars, main_symbols - kNumChars,
                  code.plans[1]);
  PlanCodeLengths(history.length, code.length, kNumLengthSymbols, code.plans[2]);

  const uint64_t shared = kTypeBits + kSizeBits + code.plans[0].bits + code.plans[1].bits +
                          code.plans[2].bits + CodedBits(counts.main, code.main, main_symbols) +
                          CodedBits(counts.length, code.length, kNumLengthSymbols);
  const uint64_t verbatim = shared + counts.verbatim_extra;
  uint64_t aligned = UINT64_MAX;
  // An aligned code needs a symbol: decoders refuse an empty one.
  bool any_aligned = false;
  for (uint32_t s = 0; s < kNumAlignedSymbols; ++s) any_aligned |= counts.aligned[s] != 0;
  if (any_aligned) {
    aligned = shared + kNumAlignedSymbols * kAlignedLengthBits + counts.aligned_extra +
              CodedBits(counts.aligned, code.aligned, kNumAlignedSymbols);
  }
  code.type = aligned < verbatim ? BlockType::kAligned : BlockType::kVerbatim;
  code.bits = std::min(aligned, verbatim);
}

void WriteBlock(const BlockCode& code, uint32_t main_symbols, const Item* items, size_t count,
                uint32_t size, FrameStream& out) {
  const bool aligned = code.type == BlockType::kAligned;
  BitWriter& bits = out.bits();
  bits.Put(static_cast<uint32_t>(code.type), kTypeBits);
  bits.Put(size, kSizeBits);
  if (aligned) {
    for (uint32_t s = 0; s < kNumAlignedSymbols; ++s) bits.Put(code.aligned[s], kAlignedLengthBits);
  }
  for (const LengthsPlan& plan : code.plans) WriteCodeLengths(plan, bits);

  uint16_t main_words[kMaxMainSymbols] = {};
  uint16_t length_words[kNumLengthSymbols] = {};
  uint16_t aligned_words[kNumAlignedSymbols] = {};
  AssignCodewords(code.main, main_symbols, main_words);
  AssignCodewords(code.length, kNumLengthSymbols, length_words);
  AssignCodewords(code.aligned, kNumAlignedSymbols, aligned_words);
  for (size_t i = 0; i < count; ++i) {
    const Item& item = items[i];
    const uint32_t main = MainSymbol(item);
    bits.Put(main_words[main], code.main[main]);
    if (item.length > 1) {
      if (LengthHeader(item.length) == kNumPrimaryLengths) {
        const uint32_t symbol = item.length - kMinMatch - kNumPrimaryLengths;
        bits.Put(length_words[symbol], code.length[symbol]);
      }
      if (item.value >= kNumRepeats) {
        const uint32_t slot = SlotOf(item.value);
        const uint32_t extra = kSlots.extra[slot];
        const uint32_t rest = item.value - kSlots.base[slot];
        if (aligned && extra >= 3) {
          bits.Put(rest >> 3, static_cast<int>(extra - 3));
          bits.Put(aligned_words[rest & 7], code.aligned[rest & 7]);
        } else {
          bits.Put(rest, static_cast<int>(extra));
        }
      }
    }
    out.Advance(item.length);
  }
}

void Remember(const BlockCode& code, CodeHistory& history) {
  std::copy(std::begin(code.main), std::end(code.main), history.main);
  std::copy(std::begin(code.length), std::end(code.length), history.length);
}

}  // namespace lzx
