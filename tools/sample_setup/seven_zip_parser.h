// The structure of the 7z archives that the sample setup program installs from, worked out from
// bytes alone: no file, no Windows call. The reader (seven_zip_reader.h) hands it the archive's
// 32-byte start header and then the header it locates, and reads the entries' bytes from the file
// itself; the fuzzing tree hands it arbitrary bytes on Linux.
//
// The subset is what `7zz a -mx0 -mhc=off` writes: data stored with the Copy coder, headers not
// compressed. Everything else is refused rather than guessed at. The header is hostile input: it
// may declare counts and sizes it does not hold. Every count is checked against the header bytes
// that must still spell its items out before it sizes an allocation or drives a loop, so work and
// memory stay proportional to a header that is itself bounded (kSevenZipMaxHeaderSize); every
// offset and size is checked against the bytes before the header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class SevenZipStatus {
  kOk,
  kNotSevenZip,   // no 7z signature: some other file
  kUnsupported,   // a 7z archive beyond the subset: compressed or encrypted headers, a coder
                  // other than Copy, anti-items, archive properties, external data, a header
                  // larger than kSevenZipMaxHeaderSize
  kDamaged,       // a CRC mismatch, a size, count or offset that the bytes cannot hold, a
                  // malformed or self-contradicting header
  kUnsafeName,    // a name that IsSafeEntryName refuses
  kReadFailed,    // the archive could not be read
  kWriteFailed,   // a directory or file of the extraction could not be written
};

constexpr uint64_t kSevenZipStartHeaderSize = 32;
// The sample's archives have headers of a few kilobytes, some 60 bytes a file. Within this bound
// a header lists at most a quarter of a million entries (a name takes at least 4 bytes), and
// parsing it takes a few tens of megabytes at most.
constexpr uint64_t kSevenZipMaxHeaderSize = 1u << 20;

struct SevenZipHeaderLocation {
  uint64_t offset = 0;  // from the start of the file; the packed streams end here
  uint64_t size = 0;    // 0: an archive without entries
  uint32_t crc = 0;
};

constexpr size_t kNoFolder = SIZE_MAX;

// A folder's bytes lie in the file unchanged (Copy), its files' bytes one after another in them.
struct SevenZipFolder {
  uint64_t offset = 0;
  uint64_t size = 0;
  // A CRC of the whole folder that no single entry's CRC covers: the packed stream's or the
  // folder's, given for a folder of several files. A folder of one file has its CRCs checked as
  // that file's; one of no files is never read.
  bool has_crc = false;
  uint32_t crc = 0;
};

struct SevenZipEntry {
  std::u16string name;  // relative path with backslashes, accepted by IsSafeEntryName
  bool is_directory = false;
  uint64_t size = 0;
  uint64_t offset = 0;  // where the entry's bytes start in the archive file
  bool has_crc = false;
  uint32_t crc = 0;
  size_t folder = kNoFolder;  // the folder that holds the bytes; kNoFolder for empty entries
};

struct SevenZipListing {
  std::vector<SevenZipFolder> folders;
  std::vector<SevenZipEntry> entries;  // in archive order
};

// Checks the signature, version and CRC of the start header (its first kSevenZipStartHeaderSize
// bytes, of a file of file_size bytes) and where it places the header.
SevenZipStatus ReadStartHeader(const unsigned char* start, uint64_t file_size,
                               SevenZipHeaderLocation& header);

// Parses a header whose CRC the caller has checked. data_end is the header's offset in the file:
// every entry's bytes must lie before it, after the start header.
SevenZipStatus ParseHeader(const unsigned char* header, size_t size, uint64_t data_end,
                           SevenZipListing& listing);
