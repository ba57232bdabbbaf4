// The LZX encoder for cabinets: compresses a file into the frames that fill a folder's data
// blocks, one frame per 32 KiB of the file (the last one shorter). Each frame's bytes decode as
// the next 32 KiB of output with the decoder's state carried over from the frame before, which
// is how cabinet readers decode an LZX folder.
//
// It reads the file front to back and holds one window of it, plus the part being compressed,
// so its memory does not grow with the file. The output depends only on the input and the
// settings: the same on every platform and compiler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cabinet/lzx/frame_stream.h"

namespace lzx {

// The file's bytes, front to back: each call asks for exactly the next size bytes.
class ByteSource {
 public:
  virtual bool Read(uint8_t* buffer, size_t size, std::string& error) = 0;

 protected:
  ~ByteSource() = default;
};

// Takes the frames in order.
class FrameSink {
 public:
  virtual bool Take(const Frame& frame, std::string& error) = 0;

 protected:
  ~FrameSink() = default;
};

// Readers refuse a data block of more than 32 KiB + 6 KiB of compressed bytes; no frame is
// larger.
constexpr uint32_t kMaxFrameBytes = kFrameSize + 6144;

struct EncoderSettings {
  int window_bits = kMaxWindowBits;
  // The x86 call translation's size in the stream's header; 0 turns the translation off.
  uint32_t translation_size = 0;
  // How hard to search: a match of nice bytes ends the search at a position, and a search visits
  // at most depth earlier positions.
  uint32_t nice = 96;
  uint32_t depth = 32;
  // Blocks are chosen within regions of this many frames.
  uint32_t region_frames = 16;
  // Parses of each region, to choose its blocks, and of each block, each priced with the codes
  // of the parse before.
  uint32_t region_passes = 1;
  uint32_t block_passes = 2;
  // A frame's largest size: past it, the region's frames get a block each, and a frame's block
  // that would still be larger holds literals only (which fit readers' limit). Tests lower it
  // to take that path.
  uint32_t max_frame_bytes = kMaxFrameBytes;
};

// The translation size for a file: the file's own size, so that calls to any place in it are
// translated.
uint32_t TranslationSizeFor(uint64_t file_size);

// Compresses size bytes (at most 2^31 - 1) read from source. False with the reason in error
// when reading or the sink fails.
bool Compress(uint64_t size, const EncoderSettings& settings, ByteSource& source, FrameSink& sink,
              std::string& error);

}  // namespace lzx
