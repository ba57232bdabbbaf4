#include "archive/x86_branch_filter.h"

namespace {

// An operand whose top byte is 00 or FF is a near displacement (within +-16 MiB): the only kind
// the filter converts, since only those are likely real branches and not data that happens to
// hold E8.
bool IsNearByte(uint8_t b) { return b == 0x00 || b == 0xFF; }

// Of the three bytes before an E8/E9, those that were themselves E8/E9 candidates (the prefix
// mask): some patterns mean the current byte is likely inside an earlier instruction's operand,
// and it is left alone. The table and the bit choice are the format's, as its decoder applies them.
constexpr bool kMaskAllowsConversion[8] = {true, true, true, false, true, false, false, false};
constexpr uint32_t kMaskToByteIndex[8] = {0, 1, 2, 2, 3, 3, 3, 3};

// The distance that means "no recent E8/E9": five bytes, one instruction with its operand.
constexpr uint32_t kInstructionSize = 5;

}  // namespace

size_t EncodeX86Branches(X86BranchFilter& filter, uint8_t* data, size_t size) {
  if (size < kInstructionSize) return 0;
  if (!filter.started) {
    filter.prev_pos = filter.position - kInstructionSize;
    filter.started = true;
  }
  uint32_t prev_mask = filter.prev_mask;
  uint32_t prev_pos = filter.prev_pos;
  const uint32_t now = filter.position;
  if (now - prev_pos > kInstructionSize) prev_pos = now - kInstructionSize;

  const size_t last = size - kInstructionSize;
  size_t i = 0;
  while (i <= last) {
    uint8_t b = data[i];
    if (b != 0xE8 && b != 0xE9) {
      ++i;
      continue;
    }
    const uint32_t here = now + static_cast<uint32_t>(i);
    const uint32_t distance = here - prev_pos;
    prev_pos = here;
    if (distance > kInstructionSize) {
      prev_mask = 0;
    } else {
      for (uint32_t k = 0; k < distance; ++k) prev_mask = (prev_mask & 0x77) << 1;
    }
    b = data[i + 4];
    if (IsNearByte(b) && kMaskAllowsConversion[(prev_mask >> 1) & 7] && (prev_mask >> 1) < 0x10) {
      uint32_t source = static_cast<uint32_t>(b) << 24 | static_cast<uint32_t>(data[i + 3]) << 16 |
                        static_cast<uint32_t>(data[i + 2]) << 8 | data[i + 1];
      uint32_t target = 0;
      for (;;) {
        target = source + here + kInstructionSize;
        if (prev_mask == 0) break;
        const uint32_t index = kMaskToByteIndex[prev_mask >> 1];
        b = static_cast<uint8_t>(target >> (24 - index * 8));
        if (!IsNearByte(b)) break;
        source = target ^ ((1u << (32 - index * 8)) - 1);
      }
      // The top byte only says the sign, 00 or FF, as bit 24 of the target.
      data[i + 4] = static_cast<uint8_t>(~(((target >> 24) & 1) - 1));
      data[i + 3] = static_cast<uint8_t>(target >> 16);
      data[i + 2] = static_cast<uint8_t>(target >> 8);
      data[i + 1] = static_cast<uint8_t>(target);
      i += kInstructionSize;
      prev_mask = 0;
    } else {
      ++i;
      prev_mask |= 1;
      if (IsNearByte(b)) prev_mask |= 0x10;
    }
  }
  filter.prev_mask = prev_mask;
  filter.prev_pos = prev_pos;
  filter.position = now + static_cast<uint32_t>(i);
  return i;
}
