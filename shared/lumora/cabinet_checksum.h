// The checksum of a cabinet's data block: what the packer's writer stores, and what the stub's
// check of its setup cabinet and the packer's reader verify, as the cabinet libraries that
// expand the block check it.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The data as little-endian 32-bit words, combined by exclusive or. The last one to three bytes
// form one more word in reverse order, the first of them highest: that is how Microsoft's cabinet
// code computes it, and readers that check it expect exactly that. A block's checksum is this
// over its data, then over its compressed and expanded sizes (the four bytes after the checksum
// field) with the data's sum as the seed.
inline uint32_t CabinetChecksum(const uint8_t* data, size_t size, uint32_t seed) {
  uint32_t sum = seed;
  size_t at = 0;
  for (; at + 4 <= size; at += 4) {
    sum ^= data[at] | data[at + 1] << 8 | data[at + 2] << 16 |
           static_cast<uint32_t>(data[at + 3]) << 24;
  }
  uint32_t tail = 0;
  for (; at < size; ++at) tail = (tail << 8) | data[at];
  return sum ^ tail;
}
