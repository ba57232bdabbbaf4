#include "pe/pe_checksum.h"

void PeChecksum::Add(const uint8_t* data, size_t size) {
  length_ += size;
  if (size == 0) return;
  if (has_odd_byte_) {
    sum_ += static_cast<uint32_t>(odd_byte_) | (static_cast<uint32_t>(data[0]) << 8);
    has_odd_byte_ = false;
    ++data;
    --size;
  }
  // Folding is deferred: a 64-bit sum of 16-bit words cannot overflow for any file a 32-bit
  // image can describe, and folding once at the end gives the same ones'-complement result.
  // The plain loop over byte pairs is what the compiler turns into wide additions.
  uint64_t sum = 0;
  size_t words = size / 2;
  for (size_t i = 0; i < words; ++i) {
    sum += static_cast<uint32_t>(data[2 * i]) | (static_cast<uint32_t>(data[2 * i + 1]) << 8);
  }
  sum_ += sum;
  if (size % 2 != 0) {
    has_odd_byte_ = true;
    odd_byte_ = data[size - 1];
  }
}

uint32_t PeChecksum::Finish() const {
  uint64_t sum = sum_;
  if (has_odd_byte_) sum += odd_byte_;  // a last odd byte counts as a word with a zero high byte
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum) + static_cast<uint32_t>(length_);
}
