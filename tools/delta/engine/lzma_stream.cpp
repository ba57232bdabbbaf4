#include "delta/engine/lzma_stream.h"

#include <cstdlib>

#include "LzmaDec.h"

namespace delta {
namespace {

void* Allocate(void*, size_t size) { return std::malloc(size); }
void Release(void*, void* address) { std::free(address); }
ISzAlloc g_allocator = {Allocate, Release};

constexpr size_t kInputChunk = 64 << 10;

}  // namespace

struct LzmaReaderState {
  CLzmaDec decoder;
  bool allocated = false;
  ByteReader* source = nullptr;
  uint64_t compressed_left = 0;  // not yet pulled from the source
  uint64_t decoded_left = 0;
  uint8_t chunk[kInputChunk];
  size_t chunk_at = 0;
  size_t chunk_size = 0;
  bool failed = false;
};

LzmaReader::LzmaReader() : state_(new LzmaReaderState) { LzmaDec_Construct(&state_->decoder); }

LzmaReader::~LzmaReader() {
  if (state_->allocated) LzmaDec_Free(&state_->decoder, &g_allocator);
}

bool LzmaReader::Start(ByteReader& source, uint64_t compressed_size, uint64_t decoded_size) {
  LzmaReaderState& s = *state_;
  uint8_t props[kLzmaPropertiesSize];
  if (compressed_size < kLzmaPropertiesSize || !source.Read(props, sizeof props)) return false;
  const uint32_t dictionary = uint32_t{props[1]} | uint32_t{props[2]} << 8 |
                              uint32_t{props[3]} << 16 | uint32_t{props[4]} << 24;
  // Checked before the decoder allocates it: the dictionary is the reader's largest buffer.
  if (dictionary > kMaxLzmaDictionary) return false;
  if (LzmaDec_Allocate(&s.decoder, props, kLzmaPropertiesSize, &g_allocator) != SZ_OK) return false;
  s.allocated = true;
  LzmaDec_Init(&s.decoder);
  s.source = &source;
  s.compressed_left = compressed_size - kLzmaPropertiesSize;
  s.decoded_left = decoded_size;
  return true;
}

bool LzmaReader::Read(uint8_t* buffer, size_t size) {
  LzmaReaderState& s = *state_;
  if (s.failed || !s.allocated || size > s.decoded_left) return false;
  while (size > 0) {
    if (s.chunk_at == s.chunk_size && s.compressed_left > 0) {
      const size_t take = s.compressed_left < kInputChunk ? s.compressed_left : kInputChunk;
      if (!s.source->Read(s.chunk, take)) {
        s.failed = true;
        return false;
      }
      s.compressed_left -= take;
      s.chunk_at = 0;
      s.chunk_size = take;
    }
    SizeT out_size = size;
    SizeT in_size = s.chunk_size - s.chunk_at;
    ELzmaStatus status;
    const SRes result = LzmaDec_DecodeToBuf(&s.decoder, buffer, &out_size, s.chunk + s.chunk_at,
                                            &in_size, LZMA_FINISH_ANY, &status);
    s.chunk_at += in_size;
    if (result != SZ_OK) {
      s.failed = true;
      return false;
    }
    buffer += out_size;
    size -= out_size;
    s.decoded_left -= out_size;
    // No progress with no input left: the stream ended early, or marked its end.
    if (out_size == 0 && in_size == 0 && (s.compressed_left == 0 || status == LZMA_STATUS_FINISHED_WITH_MARK)) {
      s.failed = true;
      return false;
    }
  }
  return true;
}

bool LzmaReader::Finished() const {
  const LzmaReaderState& s = *state_;
  // The decoder may leave the last bytes of the range coder's flush unread; they carry nothing.
  return !s.failed && s.decoded_left == 0;
}

}  // namespace delta
