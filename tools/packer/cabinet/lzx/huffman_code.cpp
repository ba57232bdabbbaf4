#include "cabinet/lzx/huffman_code.h"

#include <algorithm>
#include <vector>

namespace lzx {

namespace {

constexpr int kLongest = 32;

}  // namespace

void BuildCodeLengths(const uint32_t* frequencies, uint32_t count, int max_length,
                      uint8_t* lengths) {
  std::vector<uint32_t> used;  // symbols, least frequent first
  for (uint32_t s = 0; s < count; ++s) {
    lengths[s] = 0;
    if (frequencies[s] != 0) used.push_back(s);
  }
  if (used.empty()) return;
  if (used.size() == 1) {
    // A lone symbol and a partner of 1 bit each: the smallest complete code.
    lengths[used[0]] = 1;
    lengths[used[0] == 0 ? 1 : 0] = 1;
    return;
  }
  std::sort(used.begin(), used.end(), [&](uint32_t a, uint32_t b) {
    return frequencies[a] != frequencies[b] ? frequencies[a] < frequencies[b] : a < b;
  });

  // Huffman's construction with two queues: the sorted leaves, and the merged nodes, which come
  // out in order of weight. A leaf wins a tie, which keeps the tree shallow.
  const size_t n = used.size();
  std::vector<uint64_t> weight(2 * n - 1);
  std::vector<uint32_t> parent(2 * n - 1, 0);
  for (size_t i = 0; i < n; ++i) weight[i] = frequencies[used[i]];
  size_t next_leaf = 0;
  size_t next_node = n;
  for (size_t made = n; made < 2 * n - 1; ++made) {
    size_t pick[2];
    for (size_t& p : pick) {
      if (next_leaf < n && (next_node >= made || weight[next_leaf] <= weight[next_node])) {
        p = next_leaf++;
      } else {
        p = next_node++;
      }
    }
    weight[made] = weight[pick[0]] + weight[pick[1]];
    parent[pick[0]] = parent[pick[1]] = static_cast<uint32_t>(made);
  }
  // Depths from the root down: parents always come after their children.
  std::vector<uint32_t> depth(2 * n - 1, 0);
  uint32_t count_at[kLongest + 1] = {};
  for (size_t i = 2 * n - 2; i-- > 0;) depth[i] = depth[parent[i]] + 1;
  for (size_t i = 0; i < n; ++i) ++count_at[std::min<uint32_t>(depth[i], kLongest)];

  // Too deep: clamp to the limit, which overfills the code, then pay the excess back one unit
  // of the deepest level at a time: a leaf moves one level down from the deepest level above
  // the limit that has one, and a leaf from the limit becomes its sibling.
  for (int l = max_length + 1; l <= kLongest; ++l) {
    count_at[max_length] += count_at[l];
    count_at[l] = 0;
  }
  uint64_t room = 0;  // the Kraft sum, in units of 2^-max_length
  for (int l = 1; l <= max_length; ++l) room += uint64_t{count_at[l]} << (max_length - l);
  while (room > (uint64_t{1} << max_length)) {
    int l = max_length - 1;
    while (count_at[l] == 0) --l;
    --count_at[l];
    count_at[l + 1] += 2;
    --count_at[max_length];
    --room;
  }

  // The least frequent symbols take the longest codes.
  size_t at = 0;
  for (int l = max_length; l >= 1; --l) {
    for (uint32_t k = 0; k < count_at[l]; ++k) lengths[used[at++]] = static_cast<uint8_t>(l);
  }
}

void AssignCodewords(const uint8_t* lengths, uint32_t count, uint16_t* codewords) {
  uint32_t count_at[kLongest + 1] = {};
  for (uint32_t s = 0; s < count; ++s) ++count_at[lengths[s]];
  count_at[0] = 0;
  uint32_t next[kLongest + 2] = {};
  uint32_t code = 0;
  for (int l = 1; l <= kLongest; ++l) {
    code = (code + count_at[l - 1]) << 1;
    next[l] = code;
  }
  for (uint32_t s = 0; s < count; ++s) {
    if (lengths[s] != 0) codewords[s] = static_cast<uint16_t>(next[lengths[s]]++);
  }
}

}  // namespace lzx
