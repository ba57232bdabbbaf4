#include "cabinet/lzx/e8_translation.h"

#include "cabinet/lzx/lzx_format.h"

namespace lzx {

void TranslateE8Frame(uint8_t* frame, uint32_t size, uint32_t frame_offset,
                      uint32_t translation_size) {
  if (translation_size == 0 || frame_offset / kFrameSize >= kE8Frames || size <= kE8Tail) return;
  const int64_t limit = translation_size;
  // The decoder looks for E8 in the frame's bytes before its last 10, and after each one it
  // finds passes over the 4 bytes of the operand, translated or not. Those operand bytes are the
  // only ones that change, so it meets the E8 bytes at the same places as this loop does.
  for (uint32_t at = 0; at < size - kE8Tail; ++at) {
    if (frame[at] != 0xE8) continue;
    uint8_t* const operand = frame + at + 1;
    const int64_t position = int64_t{frame_offset} + at;
    const int32_t relative = static_cast<int32_t>(
        uint32_t{operand[0]} | (uint32_t{operand[1]} << 8) | (uint32_t{operand[2]} << 16) |
        (uint32_t{operand[3]} << 24));
    // The decoder maps an absolute value a in [-position, limit) to a - position when a >= 0,
    // and to a + limit when a < 0: a rotation of that range onto itself, undone here.
    if (relative >= -position && relative < limit) {
      const int64_t absolute =
          relative < limit - position ? relative + position : relative - limit;
      const uint32_t value = static_cast<uint32_t>(static_cast<int32_t>(absolute));
      operand[0] = static_cast<uint8_t>(value);
      operand[1] = static_cast<uint8_t>(value >> 8);
      operand[2] = static_cast<uint8_t>(value >> 16);
      operand[3] = static_cast<uint8_t>(value >> 24);
    }
    at += 4;
  }
}

}  // namespace lzx
