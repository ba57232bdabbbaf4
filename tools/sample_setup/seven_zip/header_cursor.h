// Reading 7z header bytes: the property ids of 7-Zip's format description (format_ids.h) and a
// cursor that checks every read against the bytes that are there. Numbers use 7z's
// variable-length encoding: the count of leading one bits of the first byte is the count of
// little-endian bytes that follow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "seven_zip/format_ids.h"

namespace seven_zip_header {

using namespace seven_zip_format;  // the property ids

// Bounds-checked reading of the header bytes. The first fault sticks: every later read yields
// zero and the caller checks ok() at its decision points.
class HeaderCursor {
 public:
  HeaderCursor(const unsigned char* data, size_t size) : data_(data), end_(data + size) {}

  bool ok() const { return ok_; }
  size_t remaining() const { return static_cast<size_t>(end_ - data_); }
  const unsigned char* position() const { return data_; }

  unsigned char Byte() {
    if (!ok_ || data_ == end_) return Fail();
    return *data_++;
  }
  uint64_t Number() {
    const unsigned char first = Byte();
    unsigned char mask = 0x80;
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
      if ((first & mask) == 0) {
        const uint64_t high = first & (mask - 1u);
        return value | (high << (8 * i));
      }
      value |= static_cast<uint64_t>(Byte()) << (8 * i);
      mask >>= 1;
    }
    return value;
  }
  uint32_t Uint32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(Byte()) << (8 * i);
    return value;
  }
  // A count of items that the header must still spell out in at least bytes_each bytes apiece. A
  // larger count cannot be honest, and must neither size an allocation nor drive a loop.
  size_t Count(size_t bytes_each) {
    const uint64_t count = Number();
    if (count > remaining() / bytes_each) Fail();
    return ok_ ? static_cast<size_t>(count) : 0;
  }
  void Skip(uint64_t size) {
    if (size > remaining()) {
      Fail();
      return;
    }
    data_ += size;
  }
  // One bit per item, first item in the high bit; count is of items already known to exist.
  void Bits(size_t count, std::vector<bool>& bits) {
    bits.clear();
    if (count / 8 + (count % 8 != 0 ? 1 : 0) > remaining()) {
      Fail();
      return;
    }
    bits.resize(count, false);
    unsigned char byte = 0;
    for (size_t i = 0; i < count; ++i) {
      if (i % 8 == 0) byte = Byte();
      bits[i] = (byte & (0x80 >> (i % 8))) != 0;
    }
  }
  // "All defined" byte, else a bit per item; then a CRC of 4 bytes per defined item.
  void Digests(size_t count, std::vector<bool>& defined, std::vector<uint32_t>& crcs) {
    crcs.clear();
    size_t given = count;
    if (Byte() != 0) {
      defined.assign(count, true);
    } else {
      Bits(count, defined);
      given = 0;
      for (bool bit : defined) given += bit ? 1 : 0;
    }
    if (!ok_ || given > remaining() / 4) {
      Fail();
      return;
    }
    crcs.resize(count, 0);
    for (size_t i = 0; i < count; ++i) {
      if (defined[i]) crcs[i] = Uint32();
    }
  }
  unsigned char Fail() {
    ok_ = false;
    data_ = end_;
    return 0;
  }

 private:
  const unsigned char* data_;
  const unsigned char* end_;
  bool ok_ = true;
};

}  // namespace seven_zip_header
