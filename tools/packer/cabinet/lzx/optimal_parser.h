// The near-optimal parse: the cheapest way, under a cost model, to cover a run of input with
// literals and matches. Position by position, front to back, each reachable position offers a
// literal, its matches at the three repeated offsets (those of the cheapest path to it), and
// the matches that the match finder found there, at every length they allow; each position
// keeps the cheapest arrival. The repeated offsets make the true optimum depend on more than the
// position, so this is an approximation, but a close one.
#pragma once

#include <cstdint>
#include <vector>

#include "cabinet/lzx/cost_model.h"
#include "cabinet/lzx/lzx_items.h"
#include "cabinet/lzx/match_finder.h"

namespace lzx {

struct ParseInput {
  const uint8_t* data;  // the first position's byte, with the window's history before it
  uint64_t position;    // its position in the output
  uint32_t size;        // positions to cover
  // The matches of position i are matches[first[i]] to matches[first[i + 1] - 1].
  const uint32_t* first;
  const Match* matches;
};

class OptimalParser {
 public:
  // Appends the items that cover input to items; recent holds the repeated offsets before and
  // after. No item runs past a frame's end. A match of nice bytes or more is taken at once,
  // without weighing the positions it covers.
  void Parse(const ParseInput& input, const CostModel& model, uint32_t nice,
             RecentOffsets& recent, std::vector<Item>& items);

 private:
  // For each position: the item that reaches it most cheaply (packed), and for a sequence of a
  // match, a literal and a match, the first match.
  std::vector<uint32_t> arrivals_;
  std::vector<uint32_t> firsts_;
  // Only the positions near the current one need the cheapest cost and the repeated offsets
  // after the arrival (an item reaches at most kReach positions ahead): rings, indexed modulo
  // their size.
  static constexpr uint32_t kRing = 1024;
  uint32_t costs_[kRing];
  RecentOffsets recents_[kRing];
};

}  // namespace lzx
