// The cabinet format's fixed layout ("MSCF", version 1.3), as the packer writes and reads it:
// the header, folder, file and data-block entries, the flags and the compression types. Every
// number in a cabinet is stored least significant byte first.
#pragma once

#include <cstddef>
#include <cstdint>

// The compression types a folder names (typeCompress, low four bits), and what the higher bits
// hold for LZX (the window's size as a power of two) and Quantum (level and window).
constexpr uint16_t kCabinetCompressionNone = 0;
constexpr uint16_t kCabinetCompressionMszip = 1;
constexpr uint16_t kCabinetCompressionQuantum = 2;
constexpr uint16_t kCabinetCompressionLzx = 3;

constexpr uint16_t CompressionMethod(uint16_t type) { return type & 0x000F; }
// LZX's window as a power of two.
constexpr int LzxWindowBits(uint16_t type) { return (type >> 8) & 0x1F; }
constexpr uint16_t LzxCompressionType(int window_bits) {
  return static_cast<uint16_t>(kCabinetCompressionLzx | (window_bits << 8));
}

namespace cabinet_format {

// CFHEADER: the signature "MSCF", the cabinet's size, where the file entries start, the counts
// of folders and files, the flags; then optional reserved sizes and names of other cabinets.
constexpr size_t kHeaderSize = 36;
constexpr size_t kHeaderCabinetSize = 8;
constexpr size_t kHeaderFilesOffset = 16;
constexpr size_t kHeaderVersion = 24;  // minor, then major
constexpr size_t kHeaderFolderCount = 26;
constexpr size_t kHeaderFileCount = 28;
constexpr size_t kHeaderFlags = 30;
constexpr uint16_t kFlagPreviousCabinet = 0x0001;
constexpr uint16_t kFlagNextCabinet = 0x0002;
constexpr uint16_t kFlagReservePresent = 0x0004;
// CFFOLDER: the data's offset, its block count, the compression type; then reserved bytes.
constexpr size_t kFolderSize = 8;
constexpr size_t kFolderDataOffset = 0;
constexpr size_t kFolderBlockCount = 4;
constexpr size_t kFolderCompression = 6;
// CFDATA: checksum, compressed size, expanded size; then reserved bytes and the data.
constexpr size_t kBlockHeaderSize = 8;
constexpr size_t kBlockSizes = 4;
constexpr size_t kBlockCompressedSize = 4;
constexpr size_t kBlockExpandedSize = 6;
// CFFILE: size, offset in the folder, folder index, date, time, attributes, then the name.
constexpr size_t kFileEntrySize = 16;
constexpr size_t kFileSize = 0;
constexpr size_t kFileFolderOffset = 4;
constexpr size_t kFileFolder = 8;
constexpr size_t kFileDate = 10;
constexpr size_t kFileTime = 12;
constexpr size_t kFileAttributes = 14;
// Folder indexes with a meaning of their own: the file continues from the previous cabinet
// (alone, or also into the next), or into the next cabinet from this one's last folder.
constexpr uint16_t kContinuedFromPrevious = 0xFFFD;
constexpr uint16_t kContinuedToNext = 0xFFFE;
constexpr uint16_t kContinuedBothWays = 0xFFFF;
// Names in a cabinet are at most 256 bytes with their terminator.
constexpr size_t kLongestName = 256;

}  // namespace cabinet_format
