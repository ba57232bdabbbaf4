// A 7z archive as 7-Zip writes it, read from its bytes alone: no file, no Windows call, so that
// the setup program, the packer and the fuzzing tree share it. Reading takes the start header,
// the header it points at (decoding it first when 7-Zip compressed it), and gives back the
// archive's packed streams, its folders with their coders, and its files with their sizes, CRCs
// and attributes. The files' bytes are decoded later, folder by folder (folder_extraction.h).
//
// The header is hostile input: every count is checked against the header bytes that must still
// spell its items out before it sizes an allocation or drives a loop, every offset and size
// against the archive's size, and the header itself is bounded (kSevenZipMaxHeaderSize) before it
// is read or decoded, so that reading costs memory and work in proportion to a bounded header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "decode/byte_source.h"
#include "decode/folder.h"
#include "seven_zip/format_ids.h"

enum class SevenZipStatus {
  kOk,
  kNotSevenZip,        // no 7z signature: some other file
  kUnsupported,        // a 7z archive with a feature beyond what installs: a major version we do
                       // not know, anti-items (deletions of an update), data kept outside the
                       // header, a header or file count above the bounds below
  kUnsupportedMethod,  // a coder this reader cannot decode (PPMd, BZip2, Deflate, AES, ...), or
                       // a dictionary above kMaxDictionarySize
  kDamaged,            // a CRC mismatch, a size, count or offset that the bytes cannot hold, a
                       // malformed or self-contradicting header or data
  kUnsafeName,         // a name that IsSafeEntryName refuses
  kTooLarge,           // decoding needs more memory than the limit it was given
  kReadFailed,         // the archive could not be read
  kWriteFailed,        // a receiver of the files refused them
};

constexpr uint64_t kSevenZipStartHeaderSize = seven_zip_format::kStartHeaderSize;
// Headers of real applications take some 60 bytes a file, compressed much less: 8 MiB holds a
// hundred thousand files. Decoded header and listing stay below some 16 MiB together.
constexpr uint64_t kSevenZipMaxHeaderSize = uint64_t{8} << 20;
constexpr size_t kSevenZipMaxFiles = size_t{1} << 17;
// The memory decoding a compressed header may take (its dictionary is 7-Zip's 1 MiB at most).
constexpr uint64_t kSevenZipHeaderDecodeMemory = uint64_t{16} << 20;

constexpr size_t kNoFolder = SIZE_MAX;

struct SevenZipFolder {
  SevenZipFolderCoding coding;
  size_t first_packed_stream = 0;  // the folder's packed streams follow each other from here
  bool has_crc = false;            // of the folder's unpacked bytes
  uint32_t crc = 0;
  size_t file_count = 0;           // files whose bytes the folder holds, one after another
  size_t first_file = 0;           // the first of them in SevenZipArchive::files; the others
                                   // follow it there, between empty files of no folder
};

// Windows attributes that 7-Zip records (FILE_ATTRIBUTE_*); the high 16 bits may hold a Unix
// mode when the archive comes from Unix (kSevenZipUnixExtension).
constexpr uint32_t kSevenZipUnixExtension = 0x8000;

struct SevenZipFile {
  std::u16string name;  // relative path with backslashes, accepted by IsSafeEntryName
  bool is_directory = false;
  uint64_t size = 0;
  bool has_crc = false;
  uint32_t crc = 0;
  bool has_attributes = false;
  uint32_t attributes = 0;
  size_t folder = kNoFolder;  // the folder that holds the bytes; kNoFolder for empty entries
};

struct SevenZipArchive {
  std::vector<uint64_t> packed_offsets;  // from the start of the archive
  std::vector<uint64_t> packed_sizes;
  std::vector<SevenZipFolder> folders;
  std::vector<SevenZipFile> files;  // in archive order: a folder's files in the folder's order
};

// Reads the listing of the archive in source.
SevenZipStatus OpenSevenZip(ArchiveSource& source, SevenZipArchive& archive);

// Parses a header (already decoded, its CRC checked) of an archive of archive_size bytes whose
// header starts at header_offset: every packed stream must lie between the start header and it.
SevenZipStatus ParseSevenZipHeader(const unsigned char* header, size_t size,
                                   uint64_t header_offset, SevenZipArchive& archive);

// Whether every folder's every coder is one this reader decodes; if not, the first that is not.
bool AllMethodsSupported(const SevenZipArchive& archive, uint64_t* unsupported_method);

// The largest LZMA or LZMA2 dictionary of the archive (0 for none), and the largest memory one
// folder's decoding takes (FolderMemory), which decoding is then given.
uint64_t LargestDictionary(const SevenZipArchive& archive);
uint64_t LargestFolderMemory(const SevenZipArchive& archive);

// A method's name as 7-Zip prints it ("LZMA2", "BCJ2", "PPMD"), or its id in hexadecimal.
std::string MethodName(uint64_t method);
