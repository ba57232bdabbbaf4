#include "archive/x86_bcj2_encoder.h"

namespace {

constexpr uint32_t kTop = 1u << 24;
constexpr unsigned kProbabilityBits = 11;
constexpr unsigned kMoveBits = 5;
// A candidate's opcode and its four-byte operand.
constexpr size_t kInstructionSize = 5;
// The probability slots: calls by the byte before them, then jumps, then conditional jumps.
constexpr size_t kJumpSlot = 256;
constexpr size_t kConditionalSlot = 257;
// Jumps nearer than this are left as they are: most are the branches of one function, whose
// targets repeat no more as absolute addresses than as displacements, and taking them out costs
// more than it gains (the bench's programs: 25 KB larger converting every in-section jump, 1.5 KB
// larger converting none). Farther ones are mostly tail calls, whose targets repeat as calls' do.
constexpr int64_t kNearestJumpConverted = 1 << 16;

// Hands the top byte of low on, carrying into the bytes held back while they were FF.
void ShiftLow(Bcj2RangeEncoder& rc) {
  if (static_cast<uint32_t>(rc.low) < 0xFF000000u || (rc.low >> 32) != 0) {
    const uint8_t carry = static_cast<uint8_t>(rc.low >> 32);
    uint8_t held = rc.cache;
    do {
      rc.out->push_back(static_cast<uint8_t>(held + carry));
      held = 0xFF;
    } while (--rc.cache_size != 0);
    rc.cache = static_cast<uint8_t>(rc.low >> 24);
  }
  ++rc.cache_size;
  rc.low = (rc.low & 0x00FFFFFFu) << 8;
}

void EncodeBit(Bcj2RangeEncoder& rc, uint16_t& p, bool bit) {
  const uint32_t bound = (rc.range >> kProbabilityBits) * p;
  if (!bit) {
    rc.range = bound;
    p = static_cast<uint16_t>(p + (((1u << kProbabilityBits) - p) >> kMoveBits));
  } else {
    rc.low += bound;
    rc.range -= bound;
    p = static_cast<uint16_t>(p - (p >> kMoveBits));
  }
  while (rc.range < kTop) {
    rc.range <<= 8;
    ShiftLow(rc);
  }
}

void FlushBits(Bcj2RangeEncoder& rc) {
  for (int i = 0; i < 5; ++i) ShiftLow(rc);
}

bool IsConditionalJump(uint8_t previous, uint8_t b) {
  return previous == 0x0F && (b & 0xF0) == 0x80;
}

// The probability slot of a candidate opcode b after previous, or -1 when b is none.
int SlotOf(uint8_t previous, uint8_t b) {
  if (b == 0xE8) return previous;
  if (b == 0xE9) return kJumpSlot;
  if (IsConditionalJump(previous, b)) return kConditionalSlot;
  return -1;
}

void AppendBigEndian(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

void StartBcj2(Bcj2Encoder& encoder, const std::vector<Bcj2Region>& regions) {
  encoder = Bcj2Encoder();
  encoder.regions = regions;
  for (uint16_t& p : encoder.probabilities) p = 1u << (kProbabilityBits - 1);
}

size_t EncodeBcj2(Bcj2Encoder& e, const uint8_t* data, size_t size, bool last,
                  std::vector<uint8_t>& main) {
  e.bits.out = &e.bit_stream;
  size_t at = 0;
  while (at < size) {
    // A candidate needs its operand in this piece, unless the data ends before it.
    if (size - at < kInstructionSize && !last) break;
    const uint8_t b = data[at];
    main.push_back(b);
    const int slot = SlotOf(e.previous, b);
    const uint64_t opcode_at = e.position;
    ++at;
    ++e.position;
    if (slot < 0) {
      e.previous = b;
      continue;
    }
    // The decoder reads no decision for an opcode that ends the data; one written there anyway
    // only lengthens the bit stream, as other encoders write it.
    bool convert = false;
    uint32_t target = 0;
    if (size - at >= 4) {
      const uint32_t operand = static_cast<uint32_t>(data[at]) |
                               static_cast<uint32_t>(data[at + 1]) << 8 |
                               static_cast<uint32_t>(data[at + 2]) << 16 |
                               static_cast<uint32_t>(data[at + 3]) << 24;
      const int64_t absolute = static_cast<int64_t>(e.position + 4) +
                               static_cast<int32_t>(operand);
      while (e.region_index < e.regions.size() && e.regions[e.region_index].end <= opcode_at) {
        ++e.region_index;
      }
      if (e.region_index < e.regions.size()) {
        const Bcj2Region& region = e.regions[e.region_index];
        const int64_t displacement = static_cast<int32_t>(operand);
        const bool far = displacement >= kNearestJumpConverted ||
                         displacement <= -kNearestJumpConverted;
        convert = region.start <= opcode_at && absolute >= static_cast<int64_t>(region.start) &&
                  absolute < static_cast<int64_t>(region.end) && (b == 0xE8 || far);
      }
      target = static_cast<uint32_t>(absolute);
    }
    EncodeBit(e.bits, e.probabilities[slot], convert);
    if (!convert) {
      e.previous = b;
      continue;
    }
    AppendBigEndian(b == 0xE8 ? e.call : e.jump, target);
    e.previous = data[at + 3];
    at += 4;
    e.position += 4;
  }
  if (last) FlushBits(e.bits);
  return at;
}
