#include "cabinet/lzx/block_splitter.h"

#include <algorithm>
#include <utility>

#include "cabinet/lzx/fixed_log2.h"

namespace lzx {

namespace {

// x log2 x, from a table for the small counts that most symbols of a few units have.
constexpr uint32_t kTabulated = 4096;

struct XLog2XTable {
  uint64_t value[kTabulated];
};

constexpr XLog2XTable MakeXLog2XTable() {
  XLog2XTable table = {};
  for (uint32_t x = 1; x < kTabulated; ++x) table.value[x] = uint64_t{x} * Log2Fixed(x);
  return table;
}
constexpr XLog2XTable kXLog2X = MakeXLog2XTable();

inline uint64_t XLog2X(uint32_t x) {
  return x < kTabulated ? kXLog2X.value[x] : uint64_t{x} * Log2Fixed(x);
}

// The symbols of the three codes numbered in one range: main, then length, then aligned.
constexpr uint32_t kFirstLength = kMaxMainSymbols;
constexpr uint32_t kFirstAligned = kFirstLength + kNumLengthSymbols;
constexpr uint32_t kAllSymbols = kFirstAligned + kNumAlignedSymbols;

enum Code { kMain, kLength, kAligned, kCodes };

Code CodeOf(uint32_t symbol) {
  return symbol < kFirstLength ? kMain : symbol < kFirstAligned ? kLength : kAligned;
}

// A unit's counts, only the symbols it uses.
struct UnitCounts {
  std::vector<std::pair<uint32_t, uint32_t>> symbols;
  uint64_t verbatim_extra = 0;
  uint64_t aligned_extra = 0;
};

UnitCounts Sparse(const SymbolCounts& counts) {
  UnitCounts unit;
  for (uint32_t s = 0; s < kMaxMainSymbols; ++s) {
    if (counts.main[s] != 0) unit.symbols.push_back({s, counts.main[s]});
  }
  for (uint32_t s = 0; s < kNumLengthSymbols; ++s) {
    if (counts.length[s] != 0) unit.symbols.push_back({kFirstLength + s, counts.length[s]});
  }
  for (uint32_t s = 0; s < kNumAlignedSymbols; ++s) {
    if (counts.aligned[s] != 0) unit.symbols.push_back({kFirstAligned + s, counts.aligned[s]});
  }
  unit.verbatim_extra = counts.verbatim_extra;
  unit.aligned_extra = counts.aligned_extra;
  return unit;
}

// The counts of a growing run of units, with the entropy terms kept up to date as units join:
// an ideal code for counts f with total F takes F log F - sum(f log f) bits.
class RunningEstimate {
 public:
  RunningEstimate() : counts_(kAllSymbols, 0) {}

  void Clear() {
    for (uint32_t s : touched_) counts_[s] = 0;
    touched_.clear();
    for (int c = 0; c < kCodes; ++c) total_[c] = sum_[c] = used_[c] = 0;
    verbatim_extra_ = aligned_extra_ = 0;
  }

  void Add(const UnitCounts& unit) {
    for (const auto& [symbol, count] : unit.symbols) {
      const Code c = CodeOf(symbol);
      uint32_t& f = counts_[symbol];
      if (f == 0) {
        touched_.push_back(symbol);
        ++used_[c];
      }
      sum_[c] -= XLog2X(f);
      f += count;
      sum_[c] += XLog2X(f);
      total_[c] += count;
    }
    verbatim_extra_ += unit.verbatim_extra;
    aligned_extra_ += unit.aligned_extra;
  }

  // In 1/256 bit.
  uint64_t Bits(const SplitSettings& settings) const {
    uint64_t bits = Ideal(kMain) + Ideal(kLength);
    const uint64_t aligned = Ideal(kAligned) + ((aligned_extra_ + 24) << kLog2Fraction);
    bits += std::min(verbatim_extra_ << kLog2Fraction, aligned);
    bits += uint64_t{settings.header_bits +
                     settings.header_bits_per_symbol * (used_[kMain] + used_[kLength])}
            << kLog2Fraction;
    return bits;
  }

 private:
  uint64_t Ideal(Code c) const { return XLog2X(total_[c]) - sum_[c]; }

  std::vector<uint32_t> counts_;
  std::vector<uint32_t> touched_;
  uint32_t total_[kCodes] = {};
  uint64_t sum_[kCodes] = {};
  uint32_t used_[kCodes] = {};
  uint64_t verbatim_extra_ = 0;
  uint64_t aligned_extra_ = 0;
};

}  // namespace

std::vector<BlockSpan> SplitIntoBlocks(const std::vector<Item>& items,
                                       const SplitSettings& settings) {
  // Units: runs of items of about unit_bytes of output each.
  std::vector<BlockSpan> units;
  std::vector<UnitCounts> unit_counts;
  SymbolCounts counts;
  uint32_t at = 0;
  for (uint32_t i = 0; i < items.size();) {
    BlockSpan unit = {i, 0, at, at};
    counts.Clear();
    while (i < items.size() && unit.end - unit.begin < settings.unit_bytes) {
      counts.Add(items[i]);
      unit.end += items[i].length;
      ++i;
    }
    unit.item_count = i - unit.first_item;
    at = unit.end;
    units.push_back(unit);
    unit_counts.push_back(Sparse(counts));
  }

  // best[b]: the cheapest blocks for units 0 to b - 1; from[b]: where the last of them starts.
  const size_t n = units.size();
  std::vector<uint64_t> best(n + 1, UINT64_MAX);
  std::vector<uint32_t> from(n + 1, 0);
  best[0] = 0;
  RunningEstimate merged;
  for (size_t a = 0; a < n; ++a) {
    merged.Clear();
    for (size_t b = a + 1; b <= n && b - a <= settings.max_units; ++b) {
      merged.Add(unit_counts[b - 1]);
      const uint64_t cost = best[a] + merged.Bits(settings);
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
