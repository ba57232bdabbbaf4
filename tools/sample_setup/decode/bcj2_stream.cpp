#include "decode/bcj2_stream.h"

#include <new>

#include "decode/input_buffer.h"

namespace {

// The range decoder of the bit stream: 11-bit probabilities moved by 1/32, as LZMA's.
constexpr uint32_t kTop = 1u << 24;
constexpr unsigned kProbabilityBits = 11;
constexpr unsigned kMoveBits = 5;

class Bcj2Stream : public ByteStream {
 public:
  Bcj2Stream(ByteStream& main, ByteStream& call, ByteStream& jump, ByteStream& bits,
             uint64_t out_size)
      : main_(main), call_(call), jump_(jump), bits_(bits), left_(out_size) {
    for (uint16_t& p : probabilities_) p = 1u << (kProbabilityBits - 1);
  }

  DecodeStatus Read(unsigned char* out, size_t capacity, size_t& produced) override {
    produced = 0;
    if (!started_) {
      started_ = true;
      for (int i = 0; i < 5; ++i) {
        unsigned char b = 0;
        const DecodeStatus status = bits_.Byte(b);
        if (status != DecodeStatus::kOk) return status;
        code_ = (code_ << 8) | b;
      }
    }
    while (produced < capacity && left_ > 0) {
      if (pending_ > 0) {
        out[produced++] = static_cast<unsigned char>(target_ >> (8 * (4 - pending_)));
        --pending_;
        --left_;
        ++position_;
        continue;
      }
      unsigned char b = 0;
      DecodeStatus status = main_.Byte(b);
      if (status != DecodeStatus::kOk) return status;
      out[produced++] = b;
      --left_;
      ++position_;
      const bool jump = (b & 0xFEu) == 0xE8u || (previous_ == 0x0Fu && (b & 0xF0u) == 0x80u);
      if (!jump || left_ == 0) {
        previous_ = b;
        continue;
      }
      uint16_t& p = probabilities_[b == 0xE8 ? previous_ : b == 0xE9 ? 256 : 257];
      bool taken = false;
      status = DecodeBit(p, taken);
      if (status != DecodeStatus::kOk) return status;
      if (!taken) {
        previous_ = b;
        continue;
      }
      InputBuffer& source = b == 0xE8 ? call_ : jump_;
      uint32_t absolute = 0;
      for (int i = 0; i < 4; ++i) {
        unsigned char a = 0;
        status = source.Byte(a);
        if (status != DecodeStatus::kOk) return status;
        absolute = (absolute << 8) | a;
      }
      target_ = absolute - (position_ + 4);
      pending_ = 4;
      previous_ = static_cast<unsigned char>(target_ >> 24);
    }
    return DecodeStatus::kOk;
  }

 private:
  DecodeStatus DecodeBit(uint16_t& p, bool& bit) {
    const uint32_t bound = (range_ >> kProbabilityBits) * p;
    if (code_ < bound) {
      range_ = bound;
      p = static_cast<uint16_t>(p + (((1u << kProbabilityBits) - p) >> kMoveBits));
      bit = false;
    } else {
      range_ -= bound;
      code_ -= bound;
      p = static_cast<uint16_t>(p - (p >> kMoveBits));
      bit = true;
    }
    if (range_ < kTop) {
      unsigned char b = 0;
      const DecodeStatus status = bits_.Byte(b);
      if (status != DecodeStatus::kOk) return status;
      range_ <<= 8;
      code_ = (code_ << 8) | b;
    }
    return DecodeStatus::kOk;
  }

  InputBuffer main_;
  InputBuffer call_;
  InputBuffer jump_;
  InputBuffer bits_;
  uint64_t left_;
  uint32_t position_ = 0;  // of the next output byte
  unsigned char previous_ = 0;
  uint32_t target_ = 0;
  int pending_ = 0;  // bytes of target_ still to hand on, lowest first
  bool started_ = false;
  uint32_t range_ = 0xFFFFFFFFu;
  uint32_t code_ = 0;
  uint16_t probabilities_[258];
};

}  // namespace

std::unique_ptr<ByteStream> MakeBcj2Stream(ByteStream& main, ByteStream& call, ByteStream& jump,
                                           ByteStream& bits, uint64_t out_size) {
  return std::unique_ptr<ByteStream>(new (std::nothrow)
                                         Bcj2Stream(main, call, jump, bits, out_size));
}
