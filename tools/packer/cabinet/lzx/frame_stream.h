// The compressed stream cut into frames: the bits of each 32 KiB of output (the last frame may
// be shorter), padded to a 16-bit word at the frame's end, become one cabinet data block.
#pragma once

#include <cstdint>
#include <vector>

#include "cabinet/lzx/bit_writer.h"
#include "cabinet/lzx/lzx_format.h"

namespace lzx {

struct Frame {
  std::vector<uint8_t> bytes;
  uint32_t expanded;  // output bytes: kFrameSize, or fewer for the last frame
};

class FrameStream {
 public:
  // position: the output position where the stream continues; total: the output's size.
  FrameStream(uint64_t position, uint64_t total) : position_(position), total_(total) {}

  BitWriter& bits() { return bits_; }
  uint64_t position() const { return position_; }

  // Moves past an item of length bytes, which ends at or before the frame's end; at the end,
  // the frame is complete.
  void Advance(uint32_t length) {
    position_ += length;
    if (position_ % kFrameSize == 0 || position_ == total_) {
      bits_.AlignToWord();
      const uint32_t expanded =
          static_cast<uint32_t>(position_ - (position_ - 1) / kFrameSize * kFrameSize);
      frames_.push_back({bits_.bytes(), expanded});
      bits_.Clear();
    }
  }

  std::vector<Frame>& frames() { return frames_; }

 private:
  BitWriter bits_;
  uint64_t position_;
  uint64_t total_;
  std::vector<Frame> frames_;
};

}  // namespace lzx
