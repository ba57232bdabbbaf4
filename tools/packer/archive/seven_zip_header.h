// The 7z header's bytes, built from what was written: the solid folders with their coders and
// streams, then every entry's name, kind, time and attributes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How a folder's bytes are filtered before LZMA: not at all, by the one-stream x86 branch filter,
// or by the four-stream branch converter.
enum class FolderFilter { kNone, kX86Branch, kBcj2 };

// One packed stream of a folder: LZMA's output (properties set), or bytes stored as they are.
struct PackedStream {
  std::vector<uint8_t> lzma_properties;  // the coder's five bytes; empty: stored
  uint64_t packed_size = 0;
  uint64_t unpacked_size = 0;
};

// One solid folder as written. Its packed streams: LZMA's (after the one-stream filter or none);
// with the four-stream converter, the main stream's, the calls', the jumps' (each LZMA) and the
// stored bit stream, in that order.
struct FolderRecord {
  FolderFilter filter = FolderFilter::kNone;
  std::vector<PackedStream> streams;
  uint64_t unpacked_size = 0;
  std::vector<uint64_t> file_sizes;  // the files in the folder, in order
  std::vector<uint32_t> file_crcs;
};

struct HeaderEntry {
  std::u16string name;
  bool is_folder = false;
  bool has_data = false;  // its bytes are the next file of the folders, in their order
};

// Appends a 7z variable-length number: the count of extra bytes as leading one bits of the first,
// the rest of the first byte the number's high bits, then the low bytes little-endian.
void AppendNumber(std::vector<uint8_t>& out, uint64_t value);

// The plain header (kHeader). filetime, in 100 ns units since 1601, is stored for every entry
// when has_time; otherwise no times are stored and the files take the time they are installed.
std::vector<uint8_t> BuildHeader(const std::vector<FolderRecord>& folders,
                                 const std::vector<HeaderEntry>& entries, bool has_time,
                                 uint64_t filetime);

// The header that points at the packed header (kEncodedHeader): one LZMA folder at pack_position
// (from the end of the start header) holding the plain header.
std::vector<uint8_t> BuildEncodedHeader(uint64_t pack_position, uint64_t packed_size,
                                        const std::vector<uint8_t>& lzma_properties,
                                        uint64_t header_size, uint32_t header_crc);

// The 32-byte start header that points at the header.
std::vector<uint8_t> BuildStartHeader(uint64_t header_offset, uint64_t header_size,
                                      uint32_t header_crc);

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
