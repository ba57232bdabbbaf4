#include "cabinet/cabinet_header.h"

#include "platform/byte_order.h"
#include "cabinet/cabinet_format.h"

namespace {

using namespace cabinet_format;

// Skips a terminated name of at most 255 bytes and its terminator.
bool SkipName(const uint8_t* bytes, size_t size, size_t& at) {
  for (size_t n = 0; n < kLongestName && at < size; ++n) {
    if (bytes[at++] == 0) return true;
  }
  return false;
}

}  // namespace

bool ReadFolderCompression(const uint8_t* bytes, size_t size, uint16_t& type) {
  if (size < kHeaderSize || bytes[0] != 'M' || bytes[1] != 'S' || bytes[2] != 'C' ||
      bytes[3] != 'F' || Load16(bytes + kHeaderFolderCount) == 0) {
    return false;
  }
  const uint16_t flags = Load16(bytes + kHeaderFlags);
  size_t at = kHeaderSize;
  if (flags & kFlagReservePresent) {
    if (at + 4 > size) return false;
    at += 4 + Load16(bytes + at);
  }
  if (flags & kFlagPreviousCabinet) {
    if (!SkipName(bytes, size, at) || !SkipName(bytes, size, at)) return false;
  }
  if (flags & kFlagNextCabinet) {
    if (!SkipName(bytes, size, at) || !SkipName(bytes, size, at)) return false;
  }
  if (at + kFolderSize > size) return false;
  type = Load16(bytes + at + kFolderCompression);
  return true;
}

std::string CompressionTypeText(uint16_t type) {
  switch (CompressionMethod(type)) {
    case kCabinetCompressionNone:
      return "none";
    case kCabinetCompressionMszip:
      return "MSZIP";
    case kCabinetCompressionQuantum:
      return "Quantum";
    case kCabinetCompressionLzx: {
      const int bits = LzxWindowBits(type);
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
