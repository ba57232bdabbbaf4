// The LZX format as cabinets carry it: the numbers that the encoder's pieces share. Offsets are
// coded as a position slot (part of the main symbol) plus extra bits; matches as a length header
// (the rest of the main symbol) plus, for long ones, a symbol of the length code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lzx {

// Windows of 2^15 to 2^21 bytes; the cabinet's compression type carries the exponent.
constexpr int kMinWindowBits = 15;
constexpr int kMaxWindowBits = 21;

// The decoder turns out 32 KiB at a time, and each cabinet data block holds exactly one frame.
// No match may run past a frame's end, and the bit stream restarts on a 16-bit word at each.
constexpr uint32_t kFrameSize = 32768;

constexpr uint32_t kMinMatch = 2;
constexpr uint32_t kMaxMatch = 257;
// Lengths 2 to 8 sit in the main symbol's length header; the header value 7 sends the length on
// to the length code, whose symbols stand for 9 to 257.
constexpr uint32_t kNumPrimaryLengths = 7;
constexpr uint32_t kNumLengthSymbols = 249;

constexpr uint32_t kNumChars = 256;
// The three most recent offsets are coded as slots 0 to 2 without extra bits.
constexpr uint32_t kNumRepeats = 3;
constexpr uint32_t kMaxPositionSlots = 50;
constexpr uint32_t kMaxMainSymbols = kNumChars + kMaxPositionSlots * 8;
constexpr uint32_t kNumAlignedSymbols = 8;
constexpr uint32_t kNumPretreeSymbols = 20;

// Code lengths: at most 16 bits for the main and length codes; the pretree's lengths are sent in
// 4 bits and the aligned code's in 3.
constexpr int kMaxCodeLength = 16;
constexpr int kMaxPretreeLength = 15;
constexpr int kMaxAlignedLength = 7;

enum class BlockType : uint32_t { kVerbatim = 1, kAligned = 2 };

// Position slots: slot s covers formatted offsets PositionBase(s) to PositionBase(s + 1) - 1,
// with ExtraBits(s) bits to tell them apart. A formatted offset is the match offset plus 2;
// 0 to 2 name the repeated offsets.
constexpr uint32_t ExtraBits(uint32_t slot) {
  return slot < 4 ? 0 : (slot - 2) / 2 < 17 ? (slot - 2) / 2 : 17;
}
constexpr uint32_t PositionBase(uint32_t slot) {
  uint32_t base = 0;
  for (uint32_t s = 0; s < slot; ++s) base += 1u << ExtraBits(s);
  return base;
}

// The slots of a window: enough for its largest offset, window size - 3.
constexpr uint32_t PositionSlots(int window_bits) {
  const uint32_t largest = (1u << window_bits) - 3 + 2;
  uint32_t slot = 0;
  while (PositionBase(slot + 1) <= largest) ++slot;
  return slot + 1;
}
static_assert(PositionSlots(15) == 30 && PositionSlots(18) == 36 && PositionSlots(20) == 42 &&
                  PositionSlots(21) == kMaxPositionSlots,
              "the slot counts that decoders expect");

// The same, as tables for the encoder's inner loops.
struct SlotTable {
  uint32_t base[kMaxPositionSlots + 1];
  uint32_t extra[kMaxPositionSlots];
};
constexpr SlotTable MakeSlotTable() {
  SlotTable table = {};
  for (uint32_t s = 0; s <= kMaxPositionSlots; ++s) table.base[s] = PositionBase(s);
  for (uint32_t s = 0; s < kMaxPositionSlots; ++s) table.extra[s] = ExtraBits(s);
  return table;
}
inline constexpr SlotTable kSlots = MakeSlotTable();

constexpr uint32_t MainSymbols(int window_bits) { return kNumChars + 8 * PositionSlots(window_bits); }

constexpr uint32_t MaxOffset(int window_bits) { return (1u << window_bits) - 3; }

// The slot of a formatted offset (3 or more: an offset of its own).
inline uint32_t SlotOf(uint32_t formatted) {
  if (formatted < 4) return formatted;
  if (formatted >= (1u << 18)) return 36 + ((formatted - (1u << 18)) >> 17);
  const uint32_t top = 31 - static_cast<uint32_t>(__builtin_clz(formatted));
  return 2 * top + ((formatted >> (top - 1)) & 1);
}

// The x86 call translation: an E8 byte in the last 10 bytes of a frame starts none, and frames
// from 32768 on (past the first 2^30 bytes) are left alone.
constexpr uint32_t kE8Tail = 10;
constexpr uint32_t kE8Frames = 32768;

}  // namespace lzx
