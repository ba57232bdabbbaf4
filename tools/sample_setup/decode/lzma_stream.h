// LZMA and LZMA2 decoding, streamed: the LZMA SDK's decoder (LzmaDec, from Debian's lzma-dev)
// writes into a dictionary buffer that is handed on as it fills and then reused from its start.
// The buffer is the stream's dictionary, or its whole output when that is smaller, so that a
// small file with a large declared dictionary costs no more than its size.
//
// LZMA2 is LZMA in chunks (7-Zip's and xz's LZMA2): a control byte per chunk says whether the
// chunk is stored or LZMA-coded and what it resets (the dictionary, the coder's state, its
// literal and position settings); stored chunks go into the dictionary as they are, LZMA chunks
// restart the range coder. A control byte of 0 ends the stream.
#pragma once

#include <cstdint>
#include <memory>

#include "decode/byte_source.h"
#include "decode/folder.h"

// The memory a coder's decoder allocates for an output of out_size bytes.
uint64_t LzmaMemory(const SevenZipCoder& coder, uint64_t out_size);

// A decoder of exactly out_size bytes from in, for a kMethodLzma or kMethodLzma2 coder whose
// properties IsMethodSupported accepted. Null when the memory cannot be had.
std::unique_ptr<ByteStream> MakeLzmaStream(const SevenZipCoder& coder, ByteStream& in,
                                           uint64_t out_size);
