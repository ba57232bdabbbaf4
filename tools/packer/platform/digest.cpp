// What both platforms' digests share.
#include "platform/digest.h"

#include <cstdio>

std::string HexDigest(const std::vector<uint8_t>& digest) {
  std::string text;
  char byte[3];
  for (uint8_t b : digest) {
    std::snprintf(byte, sizeof(byte), "%02x", b);
    text += byte;
  }
  return text;
}
