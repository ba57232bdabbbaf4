// Whether a setup cabinet is one that every cabinet library expands the same way: Windows'
// cabinet.dll and Wine's, through FDI, which the stub calls, and libmspack, which the packer's
// Linux build reads cabinets with. On a malformed cabinet these disagree (one reads through a
// null folder, one stops at a bad block that another never checks, one hangs on a damaged
// block), so no cabinet that breaks these rules is handed to any of them: the stub ends the run
// with EXIT_SETUP_UNPACK_FAILED and ERROR_INVALID_DATA before FDI, check predicts exactly that,
// and pack writes no such cabinet.
//
// The rules, for the cabinet as the resource holds it:
//   - "MSCF", format version 1.3, the cabinet-size field equal to the resource's size, no flags
//     (no previous or next cabinet, no reserved fields), exactly one folder, at least one file;
//   - the file entries start right after the one folder entry; each has a name of 1 to 255
//     printable ASCII bytes, lies within the cabinet, stands in folder 0 (no continuation), and
//     ends within the folder's expanded bytes; the first starts at offset 0 of the folder;
//   - the folder is stored, MSZIP, or LZX with a window of 2^15 to 2^21 bytes (no Quantum);
//   - its data blocks start after the file entries and run to the cabinet's end exactly; each has
//     a nonzero checksum that matches, 1 to 32 KiB expanded (all but the last exactly 32 KiB,
//     as libmspack's decoders take them), at most what a block may hold compressed, and the two
//     sizes equal when stored; an MSZIP block begins with its "CK" signature;
//   - the blocks' expanded sizes add up to exactly the end of the furthest file.
//
// A block's declared expanded size is checked against the method's bounds, not against what it
// decodes to: that needs the decoder. The stub compares the expanded file's size with its entry
// after FDI.
//
// Header-only and free of allocation, for the stub without a C runtime; the bytes come through a
// source of the caller's, as for the resource directory (resource_directory.h).
#pragma once

#include <stdint.h>

#include "lumora/cabinet_checksum.h"

enum class CabinetFault : uint8_t {
  kNone,
  kUnread,         // the source could not read the bytes (the packer's file)
  kHeader,         // no "MSCF" header, or shorter than one
  kVersion,        // not format version 1.3
  kCabinetSize,    // the cabinet-size field is not the resource's size
  kFlags,          // a previous or next cabinet, or reserved fields
  kFolderCount,    // not exactly one folder
  kNoFile,         // no file
  kFileTable,      // the file entries do not start after the folder, or run beyond the cabinet
  kFileName,       // an empty, overlong or non-ASCII file name
  kFileFolder,     // a file in another folder than 0, or continued from or into another cabinet
  kFirstOffset,    // the first file does not start at the folder's offset 0
  kCompression,    // an unknown method, Quantum, or an LZX window out of range
  kDataOffset,     // the data blocks do not start after the file entries
  kBlockOutside,   // a data block reaches beyond the cabinet
  kBlockSizes,     // a block size the method does not allow
  kChecksum,       // a checksum of 0, or one that does not match
  kSignature,      // an MSZIP block without "CK"
  kTrailing,       // bytes after the last block
  kExpandedTotal,  // the blocks' expanded total is not the furthest file's end
};

struct CabinetCheck {
  CabinetFault fault = CabinetFault::kNone;
  // Where in the cabinet the fault lies.
  uint32_t offset = 0;
};

namespace setup_cabinet {

inline constexpr uint32_t kHeaderSize = 36;
inline constexpr uint32_t kFolderSize = 8;
inline constexpr uint32_t kFileEntrySize = 16;
inline constexpr uint32_t kBlockHeaderSize = 8;
inline constexpr uint32_t kFilesOffset = kHeaderSize + kFolderSize;
inline constexpr uint16_t kVersion13 = 0x0103;
// Names are at most 256 bytes with their terminator.
inline constexpr uint32_t kLongestName = 255;
// A block expands to at most 32 KiB; compressed it may hold that and the coder's overhead
// (6 KiB for LZX, the most of any method), as the libraries size their input buffers.
inline constexpr uint32_t kBlockExpanded = 32768;
inline constexpr uint32_t kBlockCompressed = kBlockExpanded + 6144;
inline constexpr uint16_t kStored = 0;
inline constexpr uint16_t kMszip = 1;
inline constexpr uint16_t kLzx = 3;
inline constexpr uint16_t kLzxSmallestWindow = 15;
inline constexpr uint16_t kLzxLargestWindow = 21;
// Checksums are summed over chunks of this many bytes, a multiple of the 4-byte word.
inline constexpr uint32_t kChunk = 256;

constexpr bool KnownCompression(uint16_t type) {
  if (type == kStored || type == kMszip) return true;
  const uint16_t window = (type >> 8) & 0x1F;
  return (type & 0xE0FF) == kLzx && window >= kLzxSmallestWindow && window <= kLzxLargestWindow;
}

template <typename Source>
class Walk {
 public:
  Walk(const Source& source, uint32_t size) : source_(source), size_(size) {}

  CabinetCheck Run() {
    uint8_t h[kHeaderSize];
    if (size_ < kFilesOffset) return Fail(CabinetFault::kHeader, 0);
    if (!Read(0, h, kHeaderSize)) return result_;
    if (h[0] != 'M' || h[1] != 'S' || h[2] != 'C' || h[3] != 'F') {
      return Fail(CabinetFault::kHeader, 0);
    }
    if (Get16(h + 24) != kVersion13) return Fail(CabinetFault::kVersion, 24);
    if (Get32(h + 8) != size_) return Fail(CabinetFault::kCabinetSize, 8);
    if (Get16(h + 30) != 0) return Fail(CabinetFault::kFlags, 30);
    if (Get16(h + 26) != 1) return Fail(CabinetFault::kFolderCount, 26);
    const uint16_t files = Get16(h + 28);
    if (files == 0) return Fail(CabinetFault::kNoFile, 28);
    if (Get32(h + 16) != kFilesOffset) return Fail(CabinetFault::kFileTable, 16);

    uint8_t folder[kFolderSize];
    if (!Read(kHeaderSize, folder, kFolderSize)) return result_;
    const uint32_t data_offset = Get32(folder);
    const uint16_t blocks = Get16(folder + 4);
    const uint16_t compression = Get16(folder + 6);
    if (!KnownCompression(compression)) return Fail(CabinetFault::kCompression, kHeaderSize + 6);

    uint32_t at = kFilesOffset;
    uint64_t furthest = 0;
    for (uint32_t f = 0; f < files; ++f) {
      uint8_t entry[kFileEntrySize];
      if (uint64_t{at} + kFileEntrySize > size_) return Fail(CabinetFault::kFileTable, at);
      if (!Read(at, entry, kFileEntrySize)) return result_;
      if (Get16(entry + 8) != 0) return Fail(CabinetFault::kFileFolder, at + 8);
      const uint32_t offset = Get32(entry + 4);
      if (f == 0 && offset != 0) return Fail(CabinetFault::kFirstOffset, at + 4);
      const uint64_t end = uint64_t{offset} + Get32(entry);
      if (end > furthest) furthest = end;
      uint32_t name_length = 0;
      if (!Name(at + kFileEntrySize, name_length)) return result_;
      at += kFileEntrySize + name_length + 1;
    }
    if (data_offset != at) return Fail(CabinetFault::kDataOffset, kHeaderSize);

    uint64_t expanded = 0;
    at = data_offset;
    for (uint32_t b = 0; b < blocks; ++b) {
      uint8_t block[kBlockHeaderSize];
      if (uint64_t{at} + kBlockHeaderSize > size_) return Fail(CabinetFault::kBlockOutside, at);
      if (!Read(at, block, kBlockHeaderSize)) return result_;
      const uint16_t packed = Get16(block + 4);
      const uint16_t unpacked = Get16(block + 6);
      const bool last = b + 1 == blocks;
      if (packed == 0 || packed > kBlockCompressed || unpacked == 0 ||
          unpacked > kBlockExpanded || (!last && unpacked != kBlockExpanded) ||
          (compression == kStored && packed != unpacked)) {
        return Fail(CabinetFault::kBlockSizes, at + 4);
      }
      const uint32_t data = at + kBlockHeaderSize;
      if (uint64_t{data} + packed > size_) return Fail(CabinetFault::kBlockOutside, at);
      if (compression == kMszip) {
        uint8_t ck[2] = {0, 0};
        if (packed < 2) return Fail(CabinetFault::kSignature, data);
        if (!Read(data, ck, 2)) return result_;
        if (ck[0] != 'C' || ck[1] != 'K') return Fail(CabinetFault::kSignature, data);
      }
      uint32_t sum = 0;
      if (!Checksum(data, packed, sum)) return result_;
      sum = CabinetChecksum(block + 4, 4, sum);
      const uint32_t stored = Get32(block);
      if (stored == 0 || stored != sum) return Fail(CabinetFault::kChecksum, at);
      expanded += unpacked;
      at = data + packed;
    }
    if (at != size_) return Fail(CabinetFault::kTrailing, at);
    if (expanded != furthest) return Fail(CabinetFault::kExpandedTotal, kHeaderSize + 4);
    return result_;
  }

 private:
  static uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
  static uint32_t Get32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
  }

  CabinetCheck Fail(CabinetFault fault, uint32_t offset) {
    result_.fault = fault;
    result_.offset = offset;
    return result_;
  }

  bool Read(uint32_t offset, uint8_t* out, uint32_t size) {
    if (source_.Read(offset, out, size)) return true;
    Fail(CabinetFault::kUnread, offset);
    return false;
  }

  bool Checksum(uint32_t data, uint32_t size, uint32_t& sum) {
    uint8_t chunk[kChunk];
    for (uint32_t done = 0; done < size;) {
      const uint32_t n = size - done < kChunk ? size - done : kChunk;
      if (!Read(data + done, chunk, n)) return false;
      sum = CabinetChecksum(chunk, n, sum);
      done += n;
    }
    return true;
  }

  // A terminated name of 1 to 255 printable ASCII bytes at offset, within the cabinet.
  bool Name(uint32_t offset, uint32_t& length) {
    for (length = 0; length <= kLongestName; ++length) {
      uint8_t c = 0;
      if (uint64_t{offset} + length >= size_) {
        Fail(CabinetFault::kFileTable, offset);
        return false;
      }
      if (!Read(offset + length, &c, 1)) return false;
      if (c == 0) break;
      if (c < 0x20 || c > 0x7E) {
        Fail(CabinetFault::kFileName, offset);
        return false;
      }
    }
    if (length == 0 || length > kLongestName) {
      Fail(CabinetFault::kFileName, offset);
      return false;
    }
    return true;
  }

  const Source& source_;
  uint32_t size_;
  CabinetCheck result_;
};

}  // namespace setup_cabinet

// Source: bool Read(uint32_t offset, uint8_t* out, uint32_t size) const, reading the cabinet's
// bytes; it is called only within size. A cabinet larger than 4 GiB cannot be one: its size
// field has 32 bits.
template <typename Source>
CabinetCheck CheckSetupCabinet(const Source& source, uint64_t size) {
  if (size > 0xFFFFFFFFu) return {CabinetFault::kCabinetSize, 8};
  return setup_cabinet::Walk<Source>(source, static_cast<uint32_t>(size)).Run();
}
