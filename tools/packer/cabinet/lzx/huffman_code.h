// Length-limited Huffman codes as LZX sends them: only the code lengths travel, and both sides
// assign the codewords canonically (shorter codes first, equal lengths in symbol order).
// Decoders accept only complete codes, or a code with no symbols at all, so a code with one used
// symbol gets a second one.
#pragma once

#include <cstdint>

namespace lzx {

// Sets lengths[0..count) for the frequencies: 0 for an unused symbol, at most max_length bits
// otherwise. The result depends only on the frequencies (ties are broken by symbol), so it is
// the same on every platform.
void BuildCodeLengths(const uint32_t* frequencies, uint32_t count, int max_length,
                      uint8_t* lengths);

// The canonical codeword of each symbol with a nonzero length.
void AssignCodewords(const uint8_t* lengths, uint32_t count, uint16_t* codewords);

}  // namespace lzx
