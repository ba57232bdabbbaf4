// A delta rebuilds one new file from one old file (docs/patch-archive.md, "Deltas"). It has three
// parts, kept apart because each compresses best beside its own kind:
//   controls  a list of steps, each three variable-length integers: the length of a run copied
//             from the old file with a byte added to each (diff), the length of a run of new
//             bytes (extra), and how far to move in the old file afterwards (seek, signed)
//   diff      the added bytes of every diff run, in order (mostly zeros: the old bytes fit)
//   extra     the bytes of every extra run, in order
// The diff and extra runs together give exactly the new file.
#pragma once

#include <cstdint>
#include <vector>

namespace delta {

struct DeltaParts {
  std::vector<uint8_t> controls;
  std::vector<uint8_t> diff;
  std::vector<uint8_t> extra;
};

// The decoder keeps a delta's controls in memory while it fills the new file; larger control
// lists are refused, and the encoder sends such a file whole instead.
constexpr uint64_t kMaxControlBytes = 4u << 20;

}  // namespace delta
