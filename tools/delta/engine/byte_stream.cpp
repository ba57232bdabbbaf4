#include "delta/engine/byte_stream.h"

#include <cstring>

namespace delta {

bool MemoryReader::Read(uint8_t* buffer, size_t size) {
  if (size > size_ - at_) return false;
  if (size > 0) std::memcpy(buffer, data_ + at_, size);
  at_ += size;
  return true;
}

void PutVarint(std::vector<uint8_t>& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<uint8_t>(value));
}

void PutSignedVarint(std::vector<uint8_t>& out, int64_t value) {
  const uint64_t bits = static_cast<uint64_t>(value);
  PutVarint(out, (bits << 1) ^ (value < 0 ? ~uint64_t{0} : 0));
}

void PutLittleEndian(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool ByteCursor::TakeVarint(uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (at_ == size_) return false;
    const uint8_t byte = data_[at_++];
    // The tenth byte may carry only the top bit of a 64-bit value.
    if (shift == 63 && byte > 1) return false;
    value |= uint64_t{byte & 0x7fu} << shift;
    if (!(byte & 0x80)) return true;
  }
  return false;
}

bool ByteCursor::TakeSignedVarint(int64_t& value) {
  uint64_t bits;
  if (!TakeVarint(bits)) return false;
  value = static_cast<int64_t>((bits >> 1) ^ (~(bits & 1) + 1));
  return true;
}

bool ByteCursor::TakeLittleEndian(uint64_t& value, int bytes) {
  if (size_ - at_ < static_cast<size_t>(bytes)) return false;
  value = 0;
  for (int i = 0; i < bytes; ++i) value |= uint64_t{data_[at_ + i]} << (8 * i);
  at_ += bytes;
  return true;
}

bool ByteCursor::TakeBytes(const uint8_t*& bytes, size_t size) {
  if (size > size_ - at_) return false;
  bytes = data_ + at_;
  at_ += size;
  return true;
}

}  // namespace delta
