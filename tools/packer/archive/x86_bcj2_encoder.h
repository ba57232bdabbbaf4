// The four-stream x86 branch converter of the 7z format (method 0303011B, "BCJ2"). Like the
// one-stream filter it turns the displacement of a CALL (E8), JMP (E9) or conditional jump
// (0F 80..8F) into the absolute target, but moves the converted targets out of the code: calls'
// into one stream, jumps' into another (big-endian, so that targets near each other share their
// leading bytes), and whether each candidate opcode was converted into a fourth, range-coded with
// adaptive probabilities. What is left of the code (the main stream) holds no operands that vary
// from call to call, and each stream compresses with settings of its own. Windows programs pack
// some 3% smaller than through the one-stream filter.
//
// The decoder re-reads the decisions from the bit stream, so which candidates are converted is
// the encoder's choice alone: here, calls that lie in a region of code (a program's executable
// section; a group is many programs one after the other) and whose target lies in the same
// region, which are the real calls, and jumps that do the same and reach at least 64 KiB away.
//
// The converter is fed the group's bytes in pieces. It decides a candidate only once the four
// bytes after it are there, so it leaves up to four bytes of a piece for the next call; at the
// end of the data what is left is copied as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The range coder of the bit stream: LZMA's, with 11-bit probabilities moved by 1/32.
struct Bcj2RangeEncoder {
  uint64_t low = 0;
  uint32_t range = 0xFFFFFFFFu;
  uint8_t cache = 0;
  uint64_t cache_size = 1;
  std::vector<uint8_t>* out = nullptr;
};

// Bytes [start, end) of the stream.
struct Bcj2Region {
  uint64_t start = 0;
  uint64_t end = 0;
};

struct Bcj2Encoder {
  // The regions of code, ascending and apart: a candidate is converted when it and its target
  // lie in the same one.
  std::vector<Bcj2Region> regions;
  size_t region_index = 0;

  uint64_t position = 0;  // the stream offset of the next byte given
  uint8_t previous = 0;   // the byte before it as the decoder sees it
  uint16_t probabilities[258];
  Bcj2RangeEncoder bits;

  std::vector<uint8_t> call;  // the converted calls' targets
  std::vector<uint8_t> jump;  // the converted jumps' targets
  std::vector<uint8_t> bit_stream;
};

// Sets up an encoder for data whose code lies in regions (ascending, not overlapping).
void StartBcj2(Bcj2Encoder& encoder, const std::vector<Bcj2Region>& regions);

// Converts data[0, size), appending what goes into the main stream to main. Returns how many bytes
// were taken; the rest (at most four) must be given again at the start of the next call. With
// last set, every byte is taken and the bit stream is completed.
size_t EncodeBcj2(Bcj2Encoder& encoder, const uint8_t* data, size_t size, bool last,
                  std::vector<uint8_t>& main);
