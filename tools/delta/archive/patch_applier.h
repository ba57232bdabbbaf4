// Applying a patch archive: the previous release's tree in, the new release's tree out, every
// file checked by its SHA-256: each base before anything is written, each result after.
#pragma once

#include <cstdint>
#include <string>

#include "delta/archive/file_tree.h"
#include "delta/engine/byte_stream.h"

namespace delta {

enum class ApplyResult {
  kApplied,
  kBaseMismatch,  // a file the update relies on is missing or differs: the full installer is needed
  kCorrupt,       // the archive is damaged or not one of ours
  kTooLarge,      // a file larger than the caller allows in memory
  kWriteFailed,   // the new tree refused a file
};

struct ApplyLimits {
  // The largest old or new file of a delta that may be held in memory.
  uint64_t max_patched_file = 0x7fffffff;
};

// Reads the archive from its first byte; detail names the file or fault when it fails. Memory:
// the directory, the LZMA dictionary (at most 8 MiB), 1 MiB of copy buffer, and while a delta is
// applied, its controls (at most 4 MiB) and its old and new file.
ApplyResult ApplyPatchArchive(ByteReader& archive, OldTree& old_tree, NewTree& new_tree,
                              const ApplyLimits& limits, std::string& detail);

}  // namespace delta
