// The patch archive's one solid LZMA stream (the LZMA SDK's encoder and decoder): every delta
// and every added file in a row, so that what one file shares with another is coded once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "delta/engine/byte_stream.h"

namespace delta {

// The five bytes of LZMA properties: lc/lp/pb and the dictionary size.
constexpr size_t kLzmaPropertiesSize = 5;
// The largest dictionary the reader accepts, which bounds its memory; the writer never uses more.
constexpr uint32_t kMaxLzmaDictionary = 8u << 20;

// The properties followed by the raw LZMA data, without an end mark: the reader knows how many
// bytes to expect. False when the encoder fails (out of memory).
bool CompressLzma(const std::vector<uint8_t>& data, std::vector<uint8_t>& compressed);

struct LzmaReaderState;

// Decodes a stream of known compressed and uncompressed sizes, pulling the compressed bytes from
// source as needed, in chunks of a fixed size.
class LzmaReader final : public ByteReader {
 public:
  LzmaReader();
  ~LzmaReader() override;
  LzmaReader(const LzmaReader&) = delete;
  LzmaReader& operator=(const LzmaReader&) = delete;

  // False when the properties are invalid or name a dictionary above kMaxLzmaDictionary.
  bool Start(ByteReader& source, uint64_t compressed_size, uint64_t decoded_size);
  bool Read(uint8_t* buffer, size_t size) override;
  // True when every decoded byte has been read without a fault.
  bool Finished() const;

 private:
  std::unique_ptr<LzmaReaderState> state_;
};

}  // namespace delta
