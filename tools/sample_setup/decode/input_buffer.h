// The window of an input stream that a decoder works on: refilled in blocks, so that a decoder
// of many small steps reads its input in few calls.
#pragma once

#include <cstddef>
#include <vector>

#include "decode/byte_source.h"

class InputBuffer {
 public:
  explicit InputBuffer(ByteStream& in) : in_(in), data_(kBlock) {}

  const unsigned char* data() const { return data_.data() + position_; }
  size_t available() const { return end_ - position_; }
  void Consume(size_t count) { position_ += count; }
  // Fetches more input once the window is empty; available() stays 0 at the stream's end.
  DecodeStatus Refill();
  // One byte, or kDamaged at the end of the stream.
  DecodeStatus Byte(unsigned char& value);

 private:
  static constexpr size_t kBlock = size_t{1} << 16;
  ByteStream& in_;
  std::vector<unsigned char> data_;
  size_t position_ = 0;
  size_t end_ = 0;
};
