// The setup program's side of a delta: rebuilds the new file from the old one, reading the diff
// and extra bytes straight into the new file's buffer, so that applying needs no memory beyond
// the two files and the controls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "delta/engine/byte_stream.h"

namespace delta {

enum class DeltaResult {
  kRebuilt,
  kCorrupt,    // controls that do not add up to the new size or leave the old file
  kShortData,  // the diff or extra bytes end early or cannot be read
};

// Fills new_file[0..new_size) from old_file, the controls and, from data, the diff bytes then
// the extra bytes (exactly as many as the controls name).
DeltaResult DecodeDelta(const uint8_t* old_file, size_t old_size, const uint8_t* controls,
                        size_t control_size, ByteReader& data, uint8_t* new_file,
                        size_t new_size);

}  // namespace delta
