// Finds the matches of each position against the window behind it: binary trees of the
// positions that share a 4-byte hash, ordered by the bytes that follow them, so that one walk
// down a tree meets ever longer matches; and the latest position of each 2-byte and 3-byte
// prefix for the short matches. The trees hold the positions of one window, in arrays indexed by
// position modulo the window size, so the memory does not grow with the input beyond that.
#pragma once

#include <cstdint>
#include <vector>

namespace lzx {

// A match's length (up to 257, 9 bits) and offset (below 2^21) in one word: the encoder keeps
// the matches of a whole region.
struct Match {
  uint32_t packed;

  static Match Of(uint32_t length, uint32_t offset) { return {length | (offset << 9)}; }
  uint32_t length() const { return packed & 511; }
  uint32_t offset() const { return packed >> 9; }
};

class MatchFinder {
 public:
  // Offsets reach up to the window's largest, or to the start of an input of at most
  // 2^history_bits bytes, whichever is nearer: a small input needs only small arrays.
  MatchFinder(int window_bits, int history_bits);

  // Every position of the input is given once, in order, to Find or Skip. in points at the
  // position's byte, with at least the window's largest offset of earlier input before it and
  // avail bytes of input from it on, and kComparePadding more bytes after those.
  //
  // Find writes the matches of the position to out (room for kMaxMatch entries), lengths
  // increasing, each the shortest offset that the search met for its length, and returns how
  // many. A tree walk visits at most depth positions and stops at a match of nice bytes.
  uint32_t Find(const uint8_t* in, uint32_t position, uint32_t avail, uint32_t nice,
                uint32_t depth, Match* out);
  // Only adds the position to the trees.
  void Skip(const uint8_t* in, uint32_t position, uint32_t avail, uint32_t nice, uint32_t depth);

 private:
  template <bool kRecord>
  uint32_t Visit(const uint8_t* in, uint32_t position, uint32_t avail, uint32_t nice,
                 uint32_t depth, Match* out);

  uint32_t window_mask_;
  uint32_t max_offset_;
  // Positions are stored plus the window size, so that the empty entry 0 lies beyond every
  // window and needs no test of its own.
  uint32_t bias_;
  int hash4_bits_;
  std::vector<uint32_t> latest2_;
  std::vector<uint32_t> latest3_;
  std::vector<uint32_t> tree_roots_;
  std::vector<uint32_t> children_;  // two per position: smaller, then larger
};

}  // namespace lzx
