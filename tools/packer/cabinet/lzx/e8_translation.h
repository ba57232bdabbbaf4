// The x86 call translation. A CALL instruction (E8) carries its target relative to itself, so
// calls of one function from many places differ; turned into absolute positions they repeat and
// compress. The decoder turns them back, frame by frame, after decompressing; this is its
// inverse, applied to the input before compressing.
#pragma once

#include <cstdint>

namespace lzx {

// Translates one frame in place. frame_offset is its position in the file, translation_size
// the size that the stream's header announces (0: no translation). The frame's index and size
// decide whether it is translated at all, as they do for the decoder.
void TranslateE8Frame(uint8_t* frame, uint32_t size, uint32_t frame_offset,
                      uint32_t translation_size);

}  // namespace lzx
