#include "decode/branch_filters.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

uint32_t Le32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void PutLe32(unsigned char* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The top byte of an operand that the x86 encoder converts: a near target, forward or back.
bool IsNearTop(unsigned char b) { return b == 0x00 || b == 0xFF; }

// Pulls from the input in blocks, converts them and hands on the final bytes.
class BranchFilterStream : public ByteStream {
 public:
  BranchFilterStream(ByteStream& in, bool x86, uint32_t start)
      : in_(in), x86_(x86), arm64_position_(start), buffer_(kBlock) {
    x86_state_.position = start;
  }

  DecodeStatus Read(unsigned char* out, size_t capacity, size_t& produced) override {
    produced = 0;
    while (served_ == converted_) {
      // Keep the bytes still waiting for their instruction's end, then fill up behind them.
      std::memmove(buffer_.data(), buffer_.data() + converted_, filled_ - converted_);
      filled_ -= converted_;
      served_ = converted_ = 0;
      while (!ended_ && filled_ < buffer_.size()) {
        size_t got = 0;
        const DecodeStatus status = in_.Read(buffer_.data() + filled_, buffer_.size() - filled_, got);
        if (status != DecodeStatus::kOk) return status;
        if (got == 0) ended_ = true;
        filled_ += got;
      }
      if (filled_ == 0) return DecodeStatus::kOk;  // the end
      converted_ = Convert(buffer_.data(), filled_);
      if (ended_) converted_ = filled_;  // a last partial instruction stays as it is
    }
    produced = std::min(capacity, converted_ - served_);
    std::memcpy(out, buffer_.data() + served_, produced);
    served_ += produced;
    return DecodeStatus::kOk;
  }

 private:
  static constexpr size_t kBlock = size_t{1} << 16;

  size_t Convert(unsigned char* data, size_t size) {
    if (x86_) return X86Decode(x86_state_, data, size);
    const size_t done = Arm64Decode(arm64_position_, data, size);
    arm64_position_ += static_cast<uint32_t>(done);
    return done;
  }

  ByteStream& in_;
  const bool x86_;
  X86FilterState x86_state_;
  uint32_t arm64_position_;
  std::vector<unsigned char> buffer_;
  size_t served_ = 0;
  size_t converted_ = 0;
  size_t filled_ = 0;
  bool ended_ = false;
};

}  // namespace

size_t X86Decode(X86FilterState& state, unsigned char* data, size_t size) {
  // Which earlier-opcode patterns (bits of the mask, newest lowest) still allow a conversion, and
  // which byte of the target decides whether the encoder's conversion was undone once more.
  static const bool kAllowed[8] = {true, true, true, false, true, false, false, false};
  static const uint32_t kByteIndex[8] = {0, 1, 2, 2, 3, 3, 3, 3};
  if (size < 5) return 0;
  uint32_t mask = state.previous_mask;
  uint32_t previous = state.previous_opcode;
  const uint32_t start = state.position;
  if (start - previous > 5) previous = start - 5;
  size_t i = 0;
  for (; i + 5 <= size; ) {
    const unsigned char opcode = data[i];
    if (opcode != 0xE8 && opcode != 0xE9) {
      ++i;
      continue;
    }
    const uint32_t here = start + static_cast<uint32_t>(i);
    const uint32_t distance = here - previous;
    previous = here;
    if (distance > 5) {
      mask = 0;
    } else {
      for (uint32_t k = 0; k < distance; ++k) mask = (mask & 0x77u) << 1;
    }
    unsigned char top = data[i + 4];
    if (IsNearTop(top) && kAllowed[(mask >> 1) & 7u] && (mask >> 1) < 0x10u) {
      uint32_t operand = Le32(data + i + 1);
      uint32_t target = 0;
      for (;;) {
        target = operand - (here + 5);
        if (mask == 0) break;
        const uint32_t index = kByteIndex[mask >> 1];
        top = static_cast<unsigned char>(target >> (24 - index * 8));
        if (!IsNearTop(top)) break;
        operand = target ^ ((1u << (32 - index * 8)) - 1);
      }
      // Bits 24 to 31 follow bit 24, as the encoder found them.
      target = (target & 0x01FFFFFFu) | ((target & 0x01000000u) != 0 ? 0xFF000000u : 0);
      PutLe32(data + i + 1, target);
      i += 5;
      mask = 0;
    } else {
      ++i;
      mask |= 1;
      if (IsNearTop(top)) mask |= 0x10;
    }
  }
  state.previous_mask = mask;
  state.previous_opcode = previous;
  state.position = start + static_cast<uint32_t>(i);
  return i;
}

size_t Arm64Decode(uint32_t position, unsigned char* data, size_t size) {
  size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    const uint32_t pc = position + static_cast<uint32_t>(i);
    uint32_t instruction = Le32(data + i);
    if ((instruction >> 26) == 0x25) {
      // BL: the whole 26-bit offset, in words.
      instruction = 0x94000000u | ((instruction - (pc >> 2)) & 0x03FFFFFFu);
      PutLe32(data + i, instruction);
    } else if ((instruction & 0x9F000000u) == 0x90000000u) {
      // ADRP: its 21-bit page offset (low two bits in 29-30, high nineteen in 5-23), converted
      // only within +-512 MiB, where the encoder converted it.
      const uint32_t page = ((instruction >> 29) & 3u) | ((instruction >> 3) & 0x001FFFFCu);
      if (((page + 0x00020000u) & 0x001C0000u) != 0) continue;
      const uint32_t target = page - (pc >> 12);
      instruction &= 0x9000001Fu;
      instruction |= (target & 3u) << 29;
      instruction |= (target & 0x0003FFFCu) << 3;
      instruction |= (0u - (target & 0x00020000u)) & 0x00E00000u;
      PutLe32(data + i, instruction);
    }
  }
  return i;
}

std::unique_ptr<ByteStream> MakeBranchFilterStream(const SevenZipCoder& coder, ByteStream& in) {
  uint32_t start = 0;
  if (coder.properties.size() == 4) start = Le32(coder.properties.data());
  return std::unique_ptr<ByteStream>(new (std::nothrow)
                                         BranchFilterStream(in, coder.method == kMethodX86, start));
}
