// The branch filters that 7-Zip puts before LZMA for programs: they turn the relative targets of
// calls and jumps back from the absolute addresses that compress better (7-Zip's Methods.txt,
// "BCJ" x86 and "ARM64"). Each converts a buffer in place, starting at the stream position
// `position`, and returns how many leading bytes are final; the rest must wait for more bytes
// (they may start an instruction), or pass unchanged at the stream's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "decode/byte_source.h"
#include "decode/folder.h"

// x86: E8 (call) and E9 (jmp) followed by a 32-bit operand whose top byte is 00 or FF. Which
// operands the encoder converted depends on the opcodes seen in the bytes before, which the state
// carries from one buffer to the next.
struct X86FilterState {
  uint32_t position = 0;
  uint32_t previous_mask = 0;
  uint32_t previous_opcode = static_cast<uint32_t>(-5);  // position of the last E8/E9 seen
};
size_t X86Decode(X86FilterState& state, unsigned char* data, size_t size);

// ARM64: BL (26-bit word offset) and ADRP (page offset within +-512 MiB), every 4-byte word.
size_t Arm64Decode(uint32_t position, unsigned char* data, size_t size);

// A stream of the filter's output for a kMethodX86 or kMethodArm64 coder.
std::unique_ptr<ByteStream> MakeBranchFilterStream(const SevenZipCoder& coder, ByteStream& in);
