// The PE image checksum (the optional header's CheckSum field, which Windows checks for drivers
// and some signing tools report): the ones'-complement sum of the file's 16-bit little-endian
// words, with the CheckSum field itself counted as zero, folded to 16 bits, plus the file length.
// Fed in order while the installer is written, so that a large payload is summed as it streams.
#pragma once

#include <cstddef>
#include <cstdint>

class PeChecksum {
 public:
  // Adds the next bytes of the file. The caller passes the CheckSum field as zeros.
  void Add(const uint8_t* data, size_t size);
  uint64_t length() const { return length_; }
  // The checksum of everything added so far, as stored in the field.
  uint32_t Finish() const;

 private:
  uint64_t sum_ = 0;
  uint64_t length_ = 0;
  bool has_odd_byte_ = false;  // the low byte of a word that the next Add completes
  uint8_t odd_byte_ = 0;
};
