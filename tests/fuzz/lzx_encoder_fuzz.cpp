// The LZX encoder on arbitrary bytes: whatever it is given, libmspack's decoder (cabextract's)
// must expand its frames to exactly those bytes, and no frame may outgrow what cabinet readers
// accept. The first byte chooses the window (its low 3 bits, modulo 7, above 2^15) and the call
// translation (bit 7: off; bit 6: a fixed size instead of the file's); the rest is the file.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "libmspack_expand.h"
#include "cabinet/lzx/lzx_encoder.h"

namespace {

class Source final : public lzx::ByteSource {
 public:
  Source(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Read(uint8_t* buffer, size_t size, std::string&) override {
    FUZZ_CHECK(at_ + size <= size_);  // the encoder reads the file once, front to back
    std::memcpy(buffer, data_ + at_, size);
    at_ += size;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

class Sink final : public lzx::FrameSink {
 public:
  bool Take(const lzx::Frame& frame, std::string&) override {
    FUZZ_CHECK(frame.bytes.size() <= lzx::kMaxFrameBytes);
    frames.push_back(frame);
    return true;
  }
  std::vector<lzx::Frame> frames;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t choice = data[0];
  const uint8_t* const file = data + 1;
  const size_t file_size = size - 1;
  lzx::EncoderSettings settings;
  settings.window_bits = lzx::kMinWindowBits + (choice & 7) % 7;
  settings.translation_size = (choice & 0x80) ? 0
                              : (choice & 0x40) ? 12000000
                                                : lzx::TranslationSizeFor(file_size);
  Source source(file, file_size);
  Sink sink;
  std::string error;
  FUZZ_CHECK(lzx::Compress(file_size, settings, source, sink, error));
  FUZZ_CHECK(sink.frames.size() == (file_size + lzx::kFrameSize - 1) / lzx::kFrameSize);

  std::vector<uint8_t> expanded;
  const bool decoded = ExpandWithLibmspack(
      CabinetOfFrames(sink.frames, file_size, settings.window_bits), expanded, error);
  if (!decoded) std::fprintf(stderr, "%s\n", error.c_str());
  FUZZ_CHECK(decoded);
  FUZZ_CHECK(expanded.size() == file_size);
  FUZZ_CHECK(file_size == 0 || std::memcmp(expanded.data(), file, file_size) == 0);
  return 0;
}
