// The two ways of running SHA-256's compression over whole 64-byte blocks: portable C++, and the
// x86 SHA extensions where the processor has them. Sha256 picks one at run time; nothing outside
// hash/ includes this header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace delta {

void CompressBlocksPortable(uint32_t state[8], const uint8_t* blocks, size_t count);

// True when this processor runs the SHA extensions and the SSSE3 and SSE4.1 shuffles that go with
// them (always false on other processors and compilers).
bool CpuHasShaExtensions();

// Only to be called when CpuHasShaExtensions() is true.
void CompressBlocksShaExtensions(uint32_t state[8], const uint8_t* blocks, size_t count);

}  // namespace delta
