#include "seven_zip/crc32.h"

namespace {

// Four tables of 256 entries: table k gives the CRC of a byte followed by k zero bytes, so that
// four bytes are folded in per step (every file of an installation passes through here).
struct CrcTables {
  uint32_t entries[4][256];
  CrcTables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t crc = i;
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
      entries[0][i] = crc;
    }
    for (uint32_t i = 0; i < 256; ++i) {
      for (int k = 1; k < 4; ++k) {
        entries[k][i] = (entries[k - 1][i] >> 8) ^ entries[0][entries[k - 1][i] & 0xFF];
      }
    }
  }
};

const CrcTables& Tables() {
  static const CrcTables tables;
  return tables;
}

}  // namespace

uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
  const uint32_t(&t)[4][256] = Tables().entries;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  crc = ~crc;
  for (; size >= 4; size -= 4, p += 4) {
    crc ^= uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    crc = t[3][crc & 0xFF] ^ t[2][(crc >> 8) & 0xFF] ^ t[1][(crc >> 16) & 0xFF] ^ t[0][crc >> 24];
  }
  for (; size > 0; --size, ++p) crc = (crc >> 8) ^ t[0][(crc ^ *p) & 0xFF];
  return ~crc;
}
