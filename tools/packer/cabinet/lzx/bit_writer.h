// The LZX bit stream: bits are packed most significant first into 16-bit words, and each word is
// stored little-endian. A frame's bits end on a word boundary (the decoder skips to the next
// word there), which AlignToWord gives by padding with zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lzx {

class BitWriter {
 public:
  // Appends the low count bits of value (count at most 32), the highest first.
  void Put(uint32_t value, int count) {
    pending_ = (pending_ << count) | (value & ((uint64_t{1} << count) - 1));
    pending_count_ += count;
    while (pending_count_ >= 16) {
      pending_count_ -= 16;
      const uint32_t word = static_cast<uint32_t>(pending_ >> pending_count_) & 0xFFFF;
      bytes_.push_back(static_cast<uint8_t>(word));
      bytes_.push_back(static_cast<uint8_t>(word >> 8));
    }
    pending_ &= (uint64_t{1} << pending_count_) - 1;
  }

  void AlignToWord() {
    if (pending_count_ > 0) Put(0, 16 - pending_count_);
  }

  // Bits written so far, the pending ones included.
  uint64_t BitCount() const { return bytes_.size() * 8 + static_cast<uint64_t>(pending_count_); }

  // The whole words written; after AlignToWord, everything.
  const std::vector<uint8_t>& bytes() const { return bytes_; }

  void Clear() {
    bytes_.clear();
    pending_ = 0;
    pending_count_ = 0;
  }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t pending_ = 0;
  int pending_count_ = 0;
};

}  // namespace lzx
