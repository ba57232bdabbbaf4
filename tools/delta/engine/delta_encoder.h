// The packer's side of a delta: bsdiff-class matching of a new file against an old one over the
// old file's suffix array.
#pragma once

#include <cstddef>
#include <cstdint>

#include "delta/engine/delta_format.h"

namespace delta {

// False when the old file is too large for a suffix array (kMaxSuffixArrayText).
bool EncodeDelta(const uint8_t* old_file, size_t old_size, const uint8_t* new_file,
                 size_t new_size, DeltaParts& parts);

}  // namespace delta
