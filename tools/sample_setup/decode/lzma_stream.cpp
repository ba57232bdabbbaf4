#include "decode/lzma_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "decode/input_buffer.h"

extern "C" {
#include "LzmaDec.h"
// Defined in LzmaDec.c without a declaration in its header: resets the dictionary, the coder's
// state, or neither, and restarts the range coder at the next input. LZMA2 needs it per chunk.
void LzmaDec_InitDicAndState(CLzmaDec* p, Bool initDic, Bool initState);
}

namespace {

void* Allocate(void*, size_t size) { return std::malloc(size); }
void Release(void*, void* address) { std::free(address); }
ISzAlloc kAllocator = {Allocate, Release};

// The probabilities the SDK allocates for literal and position bits lc + lp (its Literal table
// start plus 0x300 per literal context), two bytes each.
uint64_t ProbabilitiesMemory(unsigned lc_plus_lp) {
  return (uint64_t{1846} + (uint64_t{0x300} << lc_plus_lp)) * sizeof(CLzmaProb);
}

uint64_t Lzma2Dictionary(unsigned char property) {
  if (property > 40) return 0;
  if (property == 40) return 0xFFFFFFFFu;
  return uint64_t{2u | (property & 1u)} << (property / 2 + 11);
}

// The SDK's smallest dictionary (kMinDictionary in LzmaDec.c).
constexpr uint64_t kMinDictionary = 1u << 12;

// The buffer the decoder writes into: the dictionary, or the whole output when that is smaller.
size_t DictionaryBuffer(uint64_t dictionary, uint64_t out_size) {
  const uint64_t size = std::min(std::max<uint64_t>(dictionary, kMinDictionary), out_size);
  return static_cast<size_t>(std::max<uint64_t>(size, 1));
}

// What both decoders share: the SDK's state, its dictionary buffer and the part of it that was
// decoded but not yet handed on.
class LzmaBase : public ByteStream {
 public:
  LzmaBase(ByteStream& in, uint64_t out_size) : input_(in), left_(out_size) {
    std::memset(&state_, 0, sizeof(state_));
  }
  ~LzmaBase() override {
    LzmaDec_FreeProbs(&state_, &kAllocator);
    std::free(state_.dic);
  }
  bool AllocateDictionary(size_t size) {
    state_.dic = static_cast<Byte*>(std::malloc(size));
    state_.dicBufSize = size;
    return state_.dic != nullptr;
  }

 protected:
  // Hands on decoded bytes not yet read; true when there were any.
  bool Serve(unsigned char* out, size_t capacity, size_t& produced) {
    if (served_ == state_.dicPos) return false;
    produced = std::min(capacity, state_.dicPos - served_);
    std::memcpy(out, state_.dic + served_, produced);
    served_ += produced;
    return true;
  }
  // Once everything decoded was handed on and the buffer is full, decoding restarts at its
  // start; returns how much may be decoded now, at most limit.
  size_t Room(uint64_t limit) {
    if (state_.dicPos == state_.dicBufSize) {
      state_.dicPos = 0;
      served_ = 0;
    }
    return static_cast<size_t>(std::min<uint64_t>(limit, state_.dicBufSize - state_.dicPos));
  }
  // Decodes up to room bytes from at most in_limit input bytes; reports what it took and gave.
  DecodeStatus Decode(size_t room, size_t in_limit, size_t& consumed, size_t& decoded,
                      ELzmaStatus& status) {
    const SizeT before = state_.dicPos;
    SizeT in_size = std::min(in_limit, input_.available());
    if (LzmaDec_DecodeToDic(&state_, before + room, input_.data(), &in_size, LZMA_FINISH_ANY,
                            &status) != SZ_OK) {
      return DecodeStatus::kDamaged;
    }
    input_.Consume(in_size);
    consumed = in_size;
    decoded = state_.dicPos - before;
    return DecodeStatus::kOk;
  }

  CLzmaDec state_;
  InputBuffer input_;
  uint64_t left_;  // bytes of output still to decode
  size_t served_ = 0;
};

class LzmaStream : public LzmaBase {
 public:
  using LzmaBase::LzmaBase;
  bool Init(const SevenZipCoder& coder, uint64_t out_size) {
    if (LzmaDec_AllocateProbs(&state_, coder.properties.data(), LZMA_PROPS_SIZE, &kAllocator) !=
        SZ_OK) {
      return false;
    }
    if (!AllocateDictionary(DictionaryBuffer(state_.prop.dicSize, out_size))) return false;
    LzmaDec_Init(&state_);
    return true;
  }

  DecodeStatus Read(unsigned char* out, size_t capacity, size_t& produced) override {
    produced = 0;
    while (!Serve(out, capacity, produced)) {
      if (left_ == 0) return DecodeStatus::kOk;
      DecodeStatus result = input_.Refill();
      if (result != DecodeStatus::kOk) return result;
      const bool input_ended = input_.available() == 0;
      size_t consumed = 0;
      size_t decoded = 0;
      ELzmaStatus status;
      result = Decode(Room(left_), input_.available(), consumed, decoded, status);
      if (result != DecodeStatus::kOk) return result;
      left_ -= decoded;
      // The stream's end mark before its size, or input that ends without a step forward.
      if (left_ > 0 && status == LZMA_STATUS_FINISHED_WITH_MARK) return DecodeStatus::kDamaged;
      if (decoded == 0 && consumed == 0 && input_ended) return DecodeStatus::kDamaged;
    }
    return DecodeStatus::kOk;
  }
};

class Lzma2Stream : public LzmaBase {
 public:
  using LzmaBase::LzmaBase;
  bool Init(const SevenZipCoder& coder, uint64_t out_size) {
    // Probabilities for the largest lc + lp that LZMA2 allows (4), whatever its chunks set.
    const Byte widest[LZMA_PROPS_SIZE] = {4, 0, 0, 0, 0};
    if (LzmaDec_AllocateProbs(&state_, widest, LZMA_PROPS_SIZE, &kAllocator) != SZ_OK) {
      return false;
    }
    const uint64_t dictionary = Lzma2Dictionary(coder.properties[0]);
    state_.prop.dicSize = static_cast<UInt32>(std::min<uint64_t>(dictionary, 0xFFFFFFFFu));
    if (!AllocateDictionary(DictionaryBuffer(dictionary, out_size))) return false;
    state_.dicPos = 0;
    return true;
  }

  DecodeStatus Read(unsigned char* out, size_t capacity, size_t& produced) override {
    produced = 0;
    while (!Serve(out, capacity, produced)) {
      if (ended_) return DecodeStatus::kOk;
      DecodeStatus result = chunk_unpacked_ == 0 ? StartChunk() : DecodeChunk();
      if (result != DecodeStatus::kOk) return result;
    }
    return DecodeStatus::kOk;
  }

 private:
  DecodeStatus StartChunk() {
    if (lzma_chunk_ && packed_left_ != 0) return DecodeStatus::kDamaged;  // chunk not used up
    unsigned char control = 0;
    DecodeStatus status = input_.Byte(control);
    if (status != DecodeStatus::kOk) return status;
    if (control == 0x00) {
      ended_ = true;
      return left_ == 0 ? DecodeStatus::kOk : DecodeStatus::kDamaged;
    }
    if (control >= 0x03 && control < 0x80) return DecodeStatus::kDamaged;
    unsigned char size[4] = {};
    const size_t size_bytes = control >= 0x80 ? 4 : 2;
    for (size_t i = 0; i < size_bytes && status == DecodeStatus::kOk; ++i) {
      status = input_.Byte(size[i]);
    }
    if (status != DecodeStatus::kOk) return status;
    const bool resets_dictionary = control == 0x01 || control >= 0xE0;
    if (!resets_dictionary && needs_dictionary_reset_) return DecodeStatus::kDamaged;
    if (resets_dictionary) {
      needs_dictionary_reset_ = false;
      state_.processedPos = 0;
      state_.checkDicSize = 0;
    }
    uint64_t unpacked = (uint64_t{size[0]} << 8 | size[1]) + 1;
    lzma_chunk_ = control >= 0x80;
    if (lzma_chunk_) {
      unpacked += uint64_t{control & 0x1Fu} << 16;
      packed_left_ = (uint64_t{size[2]} << 8 | size[3]) + 1;
      const unsigned mode = (control >> 5) & 3u;
      if (mode >= 2) {
        unsigned char properties = 0;
        status = input_.Byte(properties);
        if (status != DecodeStatus::kOk) return status;
        if (properties >= 9 * 5 * 5) return DecodeStatus::kDamaged;
        const unsigned lc = properties % 9;
        const unsigned lp = properties / 9 % 5;
        if (lc + lp > 4) return DecodeStatus::kDamaged;
        state_.prop.lc = lc;
        state_.prop.lp = lp;
        state_.prop.pb = properties / 45;
        needs_properties_ = false;
      } else if (needs_properties_) {
        return DecodeStatus::kDamaged;
      }
      LzmaDec_InitDicAndState(&state_, mode == 3, mode >= 1);
    } else {
      // A stored chunk that resets the dictionary leaves the coder's settings to be given anew.
      if (control == 0x01) needs_properties_ = true;
    }
    if (unpacked > left_) return DecodeStatus::kDamaged;
    chunk_unpacked_ = unpacked;
    return DecodeStatus::kOk;
  }

  DecodeStatus DecodeChunk() {
    DecodeStatus result = input_.Refill();
    if (result != DecodeStatus::kOk) return result;
    if (input_.available() == 0) return DecodeStatus::kDamaged;
    const size_t room = Room(chunk_unpacked_);
    size_t decoded = 0;
    if (!lzma_chunk_) {
      decoded = std::min(room, input_.available());
      std::memcpy(state_.dic + state_.dicPos, input_.data(), decoded);
      input_.Consume(decoded);
      // What the SDK's own stored-data update does: the bytes become history that later
      // matches may reach back into.
      if (state_.checkDicSize == 0 && state_.prop.dicSize - state_.processedPos <= decoded) {
        state_.checkDicSize = state_.prop.dicSize;
      }
      state_.processedPos += static_cast<UInt32>(decoded);
      state_.dicPos += decoded;
    } else {
      size_t consumed = 0;
      ELzmaStatus status;
      const size_t in_limit = static_cast<size_t>(std::min<uint64_t>(packed_left_, SIZE_MAX));
      result = Decode(room, in_limit, consumed, decoded, status);
      if (result != DecodeStatus::kOk) return result;
      packed_left_ -= consumed;
      if (decoded < chunk_unpacked_ && status == LZMA_STATUS_FINISHED_WITH_MARK) {
        return DecodeStatus::kDamaged;
      }
      if (decoded == 0 && consumed == 0) return DecodeStatus::kDamaged;  // no step forward
    }
    chunk_unpacked_ -= decoded;
    left_ -= decoded;
    return DecodeStatus::kOk;
  }

  bool ended_ = false;
  bool needs_dictionary_reset_ = true;
  bool needs_properties_ = true;
  bool lzma_chunk_ = false;
  uint64_t chunk_unpacked_ = 0;
  uint64_t packed_left_ = 0;
};

}  // namespace

uint64_t LzmaMemory(const SevenZipCoder& coder, uint64_t out_size) {
  const uint64_t dictionary = DeclaredDictionary(coder);
  unsigned lc_plus_lp = 4;
  if (coder.method == kMethodLzma && !coder.properties.empty()) {
    const unsigned d = coder.properties[0];
    lc_plus_lp = d % 9 + d / 9 % 5;
  }
  return DictionaryBuffer(dictionary, out_size) + ProbabilitiesMemory(lc_plus_lp) + (1u << 16);
}

uint64_t DeclaredDictionary(const SevenZipCoder& coder) {
  const std::vector<unsigned char>& p = coder.properties;
  if (coder.method == kMethodLzma && p.size() == LZMA_PROPS_SIZE) {
    return uint64_t{p[1]} | uint64_t{p[2]} << 8 | uint64_t{p[3]} << 16 | uint64_t{p[4]} << 24;
  }
  if (coder.method == kMethodLzma2 && p.size() == 1) return Lzma2Dictionary(p[0]);
  return 0;
}

std::unique_ptr<ByteStream> MakeLzmaStream(const SevenZipCoder& coder, ByteStream& in,
                                           uint64_t out_size) {
  if (coder.method == kMethodLzma) {
    std::unique_ptr<LzmaStream> stream(new (std::nothrow) LzmaStream(in, out_size));
    if (stream == nullptr || !stream->Init(coder, out_size)) return nullptr;
    return stream;
  }
  std::unique_ptr<Lzma2Stream> stream(new (std::nothrow) Lzma2Stream(in, out_size));
  if (stream == nullptr || !stream->Init(coder, out_size)) return nullptr;
  return stream;
}
