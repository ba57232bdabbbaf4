// The x86 branch filter of the 7z format (method 03030103, "BCJ"): in x86 and x64 code the
// operand of a CALL (E8) or JMP (E9) is a displacement from the next instruction, so calls to one
// function from many places all differ. The filter turns each displacement into the absolute
// target, which repeats, and which LZMA then finds as matches: Windows programs pack 5 to 15%
// smaller. The decoder (7-Zip's, the setup program's) undoes it with the same state machine, so
// the encoder must take exactly the same decisions: which E8/E9 bytes it converts depends on the
// bytes just before them (a prefix mask of the last few E8/E9 seen), not on any parse of the code.
//
// The filter is a stream filter: it is fed the data in pieces, converts what it can decide, and
// leaves the last bytes of a piece (at most four, an operand that may run into the next piece)
// for the next call. Bytes left when the data ends stay as they are, as the decoder leaves them.
#pragma once

#include <cstddef>
#include <cstdint>

struct X86BranchFilter {
  uint32_t position = 0;   // the stream offset of the next byte the filter is given
  uint32_t prev_mask = 0;  // which of the last bytes before the next were E8/E9 candidates
  uint32_t prev_pos = 0;   // the stream offset of the last E8/E9 seen, minus 5 at the start
  bool started = false;
};

// Converts data[0, size) in place, the bytes at filter.position onwards. Returns how many bytes
// are final; the rest (size minus the result, at most four, or all of a piece under five bytes)
// must be given again at the start of the next call, or left as they are at the end of the data.
size_t EncodeX86Branches(X86BranchFilter& filter, uint8_t* data, size_t size);
