#include "optimal_parser.h"

#include <algorithm>

#include "match_length.h"

namespace lzx {

namespace {

constexpr uint32_t kUnreached = UINT32_MAX;

}  // namespace

void OptimalParser::Parse(const ParseInput& input, const CostModel& model, uint32_t nice,
                          RecentOffsets& recent, std::vector<Item>& items) {
  const uint32_t n = input.size;
  nodes_.resize(size_t{n} + 1);
  for (uint32_t i = 1; i <= n; ++i) nodes_[i].cost = kUnreached;
  nodes_[0] = {0, 0, 0, recent};
  Node* const nodes = nodes_.data();
  auto relax = [nodes](uint32_t to, uint32_t cost, uint32_t length, uint32_t value) {
    if (cost < nodes[to].cost) nodes[to] = {cost, length, value, nodes[to].recent};
  };

  uint32_t i = 0;
  while (i < n) {
    Node& node = nodes[i];
    if (i > 0) {
      node.recent = nodes[i - node.length].recent;
      node.recent.Update(node.length > 1 ? node.value : 0);
    }
    const uint64_t position = input.position + i;
    const uint64_t frame_end = (position / kFrameSize + 1) * kFrameSize;
    const uint32_t cap = static_cast<uint32_t>(
        std::min<uint64_t>(std::min<uint64_t>(n - i, frame_end - position), kMaxMatch));
    const uint8_t* const in = input.data + i;
    const uint32_t base = node.cost;
    relax(i + 1, base + model.literal[in[0]], 1, in[0]);

    uint32_t longest = 0;
    if (cap >= kMinMatch) {
      const RecentOffsets recent_here = node.recent;
      for (uint32_t k = 0; k < kNumRepeats; ++k) {
        const uint32_t offset = recent_here.r[k];
        if (offset > position || (k >= 1 && offset == recent_here.r[0]) ||
            (k == 2 && offset == recent_here.r[1])) {
          continue;
        }
        const uint8_t* const match = in - offset;
        if (in[0] != match[0] || in[1] != match[1]) continue;
        const uint32_t length = MatchLength(in, match, 2, cap);
        const uint32_t* const row = model.match[k];
        for (uint32_t l = kMinMatch; l <= length; ++l) relax(i + l, base + row[l], l, k);
        longest = std::max(longest, length);
      }
      uint32_t covered = 1;
      for (uint32_t m = input.first[i]; m < input.first[i + 1]; ++m) {
        const uint32_t length = std::min(input.matches[m].length, cap);
        if (length <= covered) continue;
        const uint32_t formatted = input.matches[m].offset + 2;
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
      longest = std::max(longest, covered);
    }
    // A long match is as good as certain: go straight to its end.
    i += longest >= nice ? longest : 1;
  }
  {
    Node& last = nodes[n];
    last.recent = nodes[n - last.length].recent;
    last.recent.Update(last.length > 1 ? last.value : 0);
    recent = last.recent;
  }

  const size_t first_item = items.size();
  for (uint32_t at = n; at > 0; at -= nodes[at].length) {
    items.push_back({nodes[at].length, nodes[at].value});
  }
  std::reverse(items.begin() + static_cast<std::ptrdiff_t>(first_item), items.end());
}

}  // namespace lzx
