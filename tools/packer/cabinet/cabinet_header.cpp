#include "cabinet_header.h"

#include "byte_order.h"

namespace {

constexpr size_t kFixedHeader = 36;
constexpr uint16_t kPreviousCabinet = 0x0001;
constexpr uint16_t kNextCabinet = 0x0002;
constexpr uint16_t kReservePresent = 0x0004;

// Skips a terminated name of at most 255 bytes and its terminator.
bool SkipName(const uint8_t* bytes, size_t size, size_t& at) {
  for (size_t n = 0; n <= 255 && at < size; ++n) {
    if (bytes[at++] == 0) return true;
  }
  return false;
}

}  // namespace

bool ReadFolderCompression(const uint8_t* bytes, size_t size, uint16_t& type) {
  if (size < kFixedHeader || bytes[0] != 'M' || bytes[1] != 'S' || bytes[2] != 'C' ||
      bytes[3] != 'F' || Load16(bytes + 26) == 0) {
    return false;
  }
  const uint16_t flags = Load16(bytes + 30);
  size_t at = kFixedHeader;
  if (flags & kReservePresent) {
    if (at + 4 > size) return false;
    at += 4 + Load16(bytes + at);
  }
  if (flags & kPreviousCabinet) {
    if (!SkipName(bytes, size, at) || !SkipName(bytes, size, at)) return false;
  }
  if (flags & kNextCabinet) {
    if (!SkipName(bytes, size, at) || !SkipName(bytes, size, at)) return false;
  }
  // The folder entry: its data's offset (4 bytes), its data block count (2), its type (2).
  if (at + 8 > size) return false;
  type = Load16(bytes + at + 6);
  return true;
}

std::string CompressionTypeText(uint16_t type) {
  switch (type & 0x000F) {
    case 0:
      return "none";
    case 1:
      return "MSZIP";
    case 2:
      return "Quantum";
    case 3: {
      const int bits = (type >> 8) & 0x1F;
      std::string text = "LZX, window 2^" + std::to_string(bits);
      if (bits >= 20) return text + " (" + std::to_string(1 << (bits - 20)) + " MiB)";
      if (bits >= 10) return text + " (" + std::to_string(1 << (bits - 10)) + " KiB)";
      return text;
    }
    default:
      break;
  }
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex = "type 0x";
  for (int shift = 12; shift >= 0; shift -= 4) hex += kDigits[(type >> shift) & 0xF];
  return hex;
}
