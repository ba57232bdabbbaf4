// Three passes over the controls: check every step against both files and read the diff bytes
// into place, then read the extra bytes into place, then add the old bytes to the diff runs.
// Nothing is trusted before the first pass has checked it.
#include "delta/engine/delta_decoder.h"

#include <cstring>

namespace delta {
namespace {

// Sixteen bytes added lane by lane (GCC's and Clang's vector extension: SSE2 on x86-64); the
// compiler at -O2 leaves the plain byte loop unvectorized, and it was most of this decoder's time.
typedef uint8_t Bytes16 __attribute__((vector_size(16)));

// out[i] += old[i], modulo 256; the two runs never overlap (the old file and the new one).
void AddBytes(uint8_t* out, const uint8_t* old, uint64_t size) {
  uint64_t i = 0;
  for (; size - i >= 16; i += 16) {
    Bytes16 sum, add;
    std::memcpy(&sum, out + i, 16);
    std::memcpy(&add, old + i, 16);
    sum += add;
    std::memcpy(out + i, &sum, 16);
  }
  for (; i < size; ++i) out[i] = static_cast<uint8_t>(out[i] + old[i]);
}

struct Step {
  uint64_t diff;
  uint64_t extra;
  int64_t seek;
};

bool NextStep(ByteCursor& cursor, Step& step) {
  return cursor.TakeVarint(step.diff) && cursor.TakeVarint(step.extra) &&
         cursor.TakeSignedVarint(step.seek);
}

}  // namespace

DeltaResult DecodeDelta(const uint8_t* old_file, size_t old_size, const uint8_t* controls,
                        size_t control_size, ByteReader& data, uint8_t* new_file,
                        size_t new_size) {
  // Pass 1: the steps checked, the diff bytes read into their runs.
  {
    ByteCursor cursor(controls, control_size);
    uint64_t at = 0, old_at = 0;
    while (!cursor.AtEnd()) {
      Step step;
      if (!NextStep(cursor, step)) return DeltaResult::kCorrupt;
      if (step.diff > new_size - at || step.diff > old_size - old_at) return DeltaResult::kCorrupt;
      if (!data.Read(new_file + at, step.diff)) return DeltaResult::kShortData;
      at += step.diff;
      old_at += step.diff;
      if (step.extra > new_size - at) return DeltaResult::kCorrupt;
      at += step.extra;
      // The old position may rest anywhere from the start to the end of the old file.
      if (step.seek < 0 ? uint64_t(0) - uint64_t(step.seek) > old_at
                        : uint64_t(step.seek) > old_size - old_at) {
        return DeltaResult::kCorrupt;
      }
      old_at += static_cast<uint64_t>(step.seek);
    }
    if (at != new_size) return DeltaResult::kCorrupt;
  }
  // Pass 2: the extra bytes.
  {
    ByteCursor cursor(controls, control_size);
    uint64_t at = 0;
    Step step;
    while (NextStep(cursor, step)) {
      at += step.diff;
      if (!data.Read(new_file + at, step.extra)) return DeltaResult::kShortData;
      at += step.extra;
    }
  }
  // Pass 3: the old bytes added to the diff runs.
  {
    ByteCursor cursor(controls, control_size);
    uint64_t at = 0, old_at = 0;
    Step step;
    while (NextStep(cursor, step)) {
      AddBytes(new_file + at, old_file + old_at, step.diff);
      at += step.diff + step.extra;
      old_at += step.diff + static_cast<uint64_t>(step.seek);
    }
  }
  return DeltaResult::kRebuilt;
}

}  // namespace delta
