#include "cabinet/lzx/optimal_parser.h"

#include <algorithm>
#include <cstdlib>

#include "cabinet/lzx/match_length.h"

namespace lzx {

namespace {

constexpr uint32_t kUnreached = UINT32_MAX;
// An arrival packs the item: its length (up to 257) in the low bits, its value (a byte, or a
// formatted offset below 2^22) above, and a mark for a sequence of three items in the top bit.
constexpr uint32_t kLengthBits = 9;
constexpr uint32_t kLengthMask = (1u << kLengthBits) - 1;
constexpr uint32_t kSequence = 1u << 31;

uint32_t Pack(uint32_t length, uint32_t value) { return length | (value << kLengthBits); }
uint32_t LengthOf(uint32_t packed) { return packed & kLengthMask; }
uint32_t ValueOf(uint32_t packed) { return (packed & ~kSequence) >> kLengthBits; }

}  // namespace

void OptimalParser::Parse(const ParseInput& input, const CostModel& model, uint32_t nice,
                          RecentOffsets& recent, std::vector<Item>& items) {
  const uint32_t n = input.size;
  if (n == 0) return;
  arrivals_.resize(size_t{n} + 1);
  firsts_.resize(size_t{n} + 1);
  uint32_t* const arrivals = arrivals_.data();
  uint32_t* const firsts = firsts_.data();
  uint32_t* const costs = costs_;
  RecentOffsets* const recents = recents_;
  static_assert(kRing > 2 * kMaxMatch + 1, "the furthest arrival stays within the ring");
  constexpr uint32_t kMask = kRing - 1;
  std::fill(costs, costs + kRing, kUnreached);
  costs[0] = 0;
  recents[0] = recent;
  auto relax = [costs, arrivals](uint32_t to, uint32_t cost, uint32_t length, uint32_t value) {
    if (cost < costs[to & kMask]) {
      costs[to & kMask] = cost;
      arrivals[to] = Pack(length, value);
    }
  };
  // A match, one literal, and the same offset again: the arrival is the last match (at R0),
  // and firsts holds the first one.
  auto relax_sequence = [costs, arrivals, firsts](uint32_t to, uint32_t cost, uint32_t first,
                                                  uint32_t length) {
    if (cost < costs[to & kMask]) {
      costs[to & kMask] = cost;
      arrivals[to] = Pack(length, 0) | kSequence;
      firsts[to] = first;
    }
  };
  auto arrive = [arrivals, firsts, recents](uint32_t at) {
    const uint32_t arrival = arrivals[at];
    RecentOffsets& here = recents[at & kMask];
    if (arrival & kSequence) {
      const uint32_t first = firsts[at];
      here = recents[(at - LengthOf(arrival) - 1 - LengthOf(first)) & kMask];
      here.Update(ValueOf(first));
      return;
    }
    here = recents[(at - LengthOf(arrival)) & kMask];
    if (LengthOf(arrival) > 1) here.Update(ValueOf(arrival));
  };

  uint32_t i = 0;
  while (i < n) {
    if (i > 0) arrive(i);
    const uint64_t position = input.position + i;
    const uint64_t frame_end = (position / kFrameSize + 1) * kFrameSize;
    // Items end within the parse and the frame.
    const uint32_t room = static_cast<uint32_t>(std::min<uint64_t>(n - i, frame_end - position));
    const uint32_t cap = std::min(room, kMaxMatch);
    const uint8_t* const in = input.data + i;
    const uint32_t base = costs[i & kMask];
    relax(i + 1, base + model.literal[in[0]], 1, in[0]);

    // After a match of length at offset that ends here, a literal and the same offset once more.
    auto follow = [&](uint32_t length, uint32_t offset, uint32_t cost, uint32_t first) {
      if (length + 1 + kMinMatch > room) return;
      const uint8_t* const next = in + length + 1;
      if (next[0] != next[-static_cast<ptrdiff_t>(offset)] ||
          next[1] != next[1 - static_cast<ptrdiff_t>(offset)]) {
        return;
      }
      const uint32_t again =
          MatchLength(next, next - offset, 2, std::min(room - length - 1, kMaxMatch));
      relax_sequence(i + length + 1 + again,
                     cost + model.literal[in[length]] + model.match[0][again], Pack(length, first),
                     again);
    };

    uint32_t longest = 0;
    if (cap >= kMinMatch) {
      const RecentOffsets here = recents[i & kMask];
      for (uint32_t k = 0; k < kNumRepeats; ++k) {
        const uint32_t offset = here.r[k];
        if (offset > position || (k >= 1 && offset == here.r[0]) ||
            (k == 2 && offset == here.r[1])) {
          continue;
        }
        const uint8_t* const match = in - offset;
        if (in[0] != match[0] || in[1] != match[1]) continue;
        const uint32_t length = MatchLength(in, match, 2, cap);
        const uint32_t* const row = model.match[k];
        for (uint32_t l = kMinMatch; l <= length; ++l) relax(i + l, base + row[l], l, k);
        if (length < cap) follow(length, offset, base + row[length], k);
        longest = std::max(longest, length);
      }
      uint32_t covered = 1;
      for (uint32_t m = input.first[i]; m < input.first[i + 1]; ++m) {
        const uint32_t length = std::min(input.matches[m].length(), cap);
        if (length <= covered) continue;
        const uint32_t formatted = input.matches[m].offset() + 2;
        const uint32_t slot = SlotOf(formatted);
        const uint32_t offset_cost =
            base + (model.aligned_block && slot >= kFirstAlignedSlot ? model.aligned[formatted & 7]
                                                                     : 0);
        const uint32_t* const row = model.match[slot];
        for (uint32_t l = covered + 1; l <= length; ++l) {
          relax(i + l, offset_cost + row[l], l, formatted);
        }
        covered = length;
      }
      if (covered > 1 && covered < cap) {
        const Match& m = input.matches[input.first[i + 1] - 1];
        const uint32_t formatted = m.offset() + 2;
        const uint32_t slot = SlotOf(formatted);
        follow(covered, m.offset(),
               base + model.match[slot][covered] +
                   (model.aligned_block && slot >= kFirstAlignedSlot ? model.aligned[formatted & 7]
                                                                     : 0),
               formatted);
      }
      longest = std::max(longest, covered);
    }
    // A long match is as good as certain: go straight to its end. The ring's entries of the
    // positions passed are free for the positions a ring ahead.
    const uint32_t next = i + (longest >= nice ? longest : 1);
    for (; i < next; ++i) costs[i & kMask] = kUnreached;
  }
  arrive(n);
  recent = recents[n & kMask];

  const size_t first_item = items.size();
  for (uint32_t at = n; at > 0;) {
    const uint32_t arrival = arrivals[at];
    items.push_back({LengthOf(arrival), ValueOf(arrival)});
    at -= LengthOf(arrival);
    if (arrival & kSequence) {
      const uint32_t first = firsts[at + LengthOf(arrival)];
      items.push_back({1, input.data[at - 1]});
      items.push_back({LengthOf(first), ValueOf(first)});
      at -= 1 + LengthOf(first);
    }
  }
  std::reverse(items.begin() + static_cast<std::ptrdiff_t>(first_item), items.end());
}

}  // namespace lzx
