#include "block_splitter.h"

#include <algorithm>
#include <memory>

namespace lzx {

namespace {

// log2 in 1/256 bit: for the mantissa, a table of log2(1 + i/256), made with integers only so
// that the same choices are made on every platform.
constexpr int kFraction = 8;

struct Log2Table {
  uint32_t value[256];
  Log2Table() {
    for (uint32_t i = 0; i < 256; ++i) {
      // x in [1, 2) with 30 fraction bits; squaring doubles the logarithm, and each time the
      // square reaches 2 the next bit of the logarithm is 1.
      uint64_t x = uint64_t{256 + i} << 22;
      uint32_t bits = 0;
      for (int b = kFraction - 1; b >= 0; --b) {
        x = (x * x) >> 30;
        if (x >= (uint64_t{1} << 31)) {
          x >>= 1;
          bits |= 1u << b;
        }
      }
      value[i] = bits;
    }
  }
};

uint32_t Log2Scaled(uint32_t x) {
  static const Log2Table table;
  const uint32_t top = 31 - static_cast<uint32_t>(__builtin_clz(x));
  const uint32_t mantissa = top >= 8 ? (x >> (top - 8)) & 255 : (x << (8 - top)) & 255;
  return (top << kFraction) + table.value[mantissa];
}

// The bits, in 1/256 bit, that an ideal code takes for these counts; and how many symbols it
// uses.
uint64_t Entropy(const uint32_t* counts, uint32_t n, uint32_t& used) {
  uint64_t total = 0;
  for (uint32_t s = 0; s < n; ++s) total += counts[s];
  if (total == 0) return 0;
  const uint32_t log_total = Log2Scaled(static_cast<uint32_t>(total));
  uint64_t bits = 0;
  for (uint32_t s = 0; s < n; ++s) {
    if (counts[s] == 0) continue;
    ++used;
    bits += uint64_t{counts[s]} * (log_total - Log2Scaled(counts[s]));
  }
  return bits;
}

uint64_t EstimateBits(const SymbolCounts& counts, uint32_t main_symbols,
                      const SplitSettings& settings) {
  uint32_t used = 0;
  uint64_t bits = Entropy(counts.main, main_symbols, used) +
                  Entropy(counts.length, kNumLengthSymbols, used);
  uint32_t aligned_used = 0;
  const uint64_t aligned = Entropy(counts.aligned, kNumAlignedSymbols, aligned_used) +
                           ((counts.aligned_extra + 24) << kFraction);
  bits += std::min(uint64_t{counts.verbatim_extra} << kFraction, aligned);
  bits += uint64_t{settings.header_bits + settings.header_bits_per_symbol * used} << kFraction;
  return bits;
}

}  // namespace

std::vector<BlockSpan> SplitIntoBlocks(const std::vector<Item>& items, uint32_t main_symbols,
                                       const SplitSettings& settings) {
  // Units: runs of items of about unit_bytes of output each.
  std::vector<BlockSpan> units;
  std::vector<std::unique_ptr<SymbolCounts>> unit_counts;
  uint32_t at = 0;
  for (uint32_t i = 0; i < items.size();) {
    BlockSpan unit = {i, 0, at, at};
    auto counts = std::make_unique<SymbolCounts>();
    while (i < items.size() && unit.end - unit.begin < settings.unit_bytes) {
      counts->Add(items[i]);
      unit.end += items[i].length;
      ++i;
    }
    unit.item_count = i - unit.first_item;
    at = unit.end;
    units.push_back(unit);
    unit_counts.push_back(std::move(counts));
  }

  // best[b]: the cheapest blocks for units 0 to b - 1; from[b]: where the last of them starts.
  const size_t n = units.size();
  std::vector<uint64_t> best(n + 1, UINT64_MAX);
  std::vector<uint32_t> from(n + 1, 0);
  best[0] = 0;
  SymbolCounts merged;
  for (size_t a = 0; a < n; ++a) {
    merged.Clear();
    for (size_t b = a + 1; b <= n && b - a <= settings.max_units; ++b) {
      merged.Add(*unit_counts[b - 1]);
      const uint64_t cost = best[a] + EstimateBits(merged, main_symbols, settings);
      if (cost < best[b]) {
        best[b] = cost;
        from[b] = static_cast<uint32_t>(a);
      }
    }
  }

  std::vector<BlockSpan> blocks;
  for (size_t b = n; b > 0; b = from[b]) {
    const BlockSpan& first = units[from[b]];
    const BlockSpan& last = units[b - 1];
    blocks.push_back({first.first_item, last.first_item + last.item_count - first.first_item,
                      first.begin, last.end});
  }
  std::reverse(blocks.begin(), blocks.end());
  return blocks;
}

}  // namespace lzx
