#include "cabinet/lzx/match_finder.h"

#include <algorithm>
#include <cstring>

#include "cabinet/lzx/lzx_format.h"
#include "cabinet/lzx/match_length.h"

namespace lzx {

namespace {

constexpr int kHash3Bits = 16;

uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}

}  // namespace

MatchFinder::MatchFinder(int window_bits, int history_bits)
    : window_mask_((1u << std::min(window_bits, history_bits)) - 1),
      max_offset_(std::min(MaxOffset(window_bits), window_mask_)),
      bias_(window_mask_ + 1),
      hash4_bits_(std::clamp(std::min(window_bits, history_bits) - 1, 12, 20)),
      latest2_(1u << 16, 0),
      latest3_(1u << kHash3Bits, 0),
      tree_roots_(1u << hash4_bits_, 0),
      children_(2 * (size_t{window_mask_} + 1), 0) {}

uint32_t MatchFinder::Find(const uint8_t* in, uint32_t position, uint32_t avail, uint32_t nice,
                           uint32_t depth, Match* out) {
  return Visit<true>(in, position, avail, nice, depth, out);
}

void MatchFinder::Skip(const uint8_t* in, uint32_t position, uint32_t avail, uint32_t nice,
                       uint32_t depth) {
  Visit<false>(in, position, avail, nice, depth, nullptr);
}

template <bool kRecord>
uint32_t MatchFinder::Visit(const uint8_t* in, uint32_t position, uint32_t avail, uint32_t nice,
                            uint32_t depth, Match* out) {
  const uint32_t limit = std::min(avail, kMaxMatch);
  if (limit < kMinMatch) return 0;
  const uint32_t current = position + bias_;
  uint32_t count = 0;
  uint32_t best = 1;
  auto consider = [&](uint32_t candidate, uint32_t known) {
    const uint32_t offset = current - candidate;
    if (offset > max_offset_) return;
    const uint32_t length = MatchLength(in, in - offset, known, limit);
    if (length > best) {
      best = length;
      if (kRecord) out[count++] = Match::Of(length, offset);
    }
  };

  // The nearest earlier position with the same two bytes is the nearest match of length 2 or
  // more; the one with the same 3-byte hash most likely the nearest of 3 or more.
  const uint32_t key2 = uint32_t{in[0]} | (uint32_t{in[1]} << 8);
  const uint32_t candidate2 = latest2_[key2];
  latest2_[key2] = current;
  if (kRecord) consider(candidate2, 2);
  if (limit < 3) return count;
  const uint32_t key3 = ((key2 | (uint32_t{in[2]} << 16)) * 506832829u) >> (32 - kHash3Bits);
  const uint32_t candidate3 = latest3_[key3];
  latest3_[key3] = current;
  if (kRecord && candidate3 != candidate2) consider(candidate3, 0);
  if (limit < 4) return count;

  // The walk down the tree: each position met is hung into the new root's smaller or larger
  // subtree, where the pending links wait for it. Every position below is at least as long a
  // match as the smaller of the two bounds, which the comparison can skip.
  const uint32_t key4 = (Load32(in) * 2654435761u) >> (32 - hash4_bits_);
  uint32_t candidate = tree_roots_[key4];
  tree_roots_[key4] = current;
  uint32_t* pending_smaller = &children_[2 * (current & window_mask_)];
  uint32_t* pending_larger = pending_smaller + 1;
  uint32_t smaller_length = 0;
  uint32_t larger_length = 0;
  const uint32_t cut = std::min(nice, limit);
  for (uint32_t left = depth;; --left) {
    const uint32_t offset = current - candidate;
    if (offset > max_offset_ || left == 0) {
      *pending_smaller = 0;
      *pending_larger = 0;
      break;
    }
    const uint8_t* const match = in - offset;
    uint32_t* const node = &children_[2 * (candidate & window_mask_)];
    uint32_t length = std::min(smaller_length, larger_length);
    if (match[length] == in[length]) {
      length = MatchLength(in, match, length + 1, limit);
      if (length > best) {
        best = length;
        if (kRecord) out[count++] = Match::Of(length, offset);
      }
      if (length >= cut) {
        // As long a match as the search wants: the new root takes over the candidate's subtrees.
        *pending_smaller = node[0];
        *pending_larger = node[1];
        break;
      }
    }
    if (match[length] < in[length]) {
      *pending_smaller = candidate;
      pending_smaller = node + 1;
      smaller_length = length;
      candidate = node[1];
    } else {
      *pending_larger = candidate;
      pending_larger = node;
      larger_length = length;
      candidate = node[0];
    }
  }
  return count;
}

}  // namespace lzx
