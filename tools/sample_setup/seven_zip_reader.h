// Reads the 7z archives that the sample setup program installs from: archives stored with the
// Copy method and uncompressed headers, as `7zz a -mx0 -mhc=off` writes them. The sample needs no
// decompressor, so it reads exactly that subset and refuses everything else, rather than guessing
// at a header it does not understand. Every offset and size comes from the file and is checked
// against the file before it is used; every CRC the archive carries is verified.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

enum class SevenZipStatus {
  kOk,
  kNotSevenZip,   // no 7z signature: some other file
  kUnsupported,   // a 7z archive beyond the subset: compressed or encrypted headers, a coder
                  // other than Copy, anti-items, archive properties, external data
  kDamaged,       // a CRC mismatch, a size or offset outside the file, a malformed header
  kUnsafeName,    // a name that would leave the target directory or that Windows cannot hold
  kReadFailed,    // the archive could not be read
  kWriteFailed,   // a directory or file of the extraction could not be written
};

struct SevenZipEntry {
  std::wstring name;  // relative path with backslashes, checked by IsSafeEntryName
  bool is_directory = false;
  uint64_t size = 0;
  uint64_t offset = 0;  // where the entry's bytes start in the archive file
  bool has_crc = false;
  uint32_t crc = 0;
};

// Lists the archive's entries in archive order.
SevenZipStatus ReadSevenZip(HANDLE archive, std::vector<SevenZipEntry>& entries);

// Reads a small entry whole, checking its CRC; refuses (kUnsupported) one above max_size bytes.
SevenZipStatus ReadEntryBytes(HANDLE archive, const SevenZipEntry& entry, size_t max_size,
                              std::string& bytes);

// Writes every entry below directory (which ends in a backslash), creating the directories that
// entries name. A file whose CRC does not match is deleted again and ends the extraction.
SevenZipStatus ExtractSevenZip(HANDLE archive, const std::vector<SevenZipEntry>& entries,
                               const std::wstring& directory);

// A relative path of non-empty components, none of them "." or "..", without a drive, a stream
// name (':'), characters that Windows refuses in names, or control characters.
bool IsSafeEntryName(const std::wstring& name);

uint32_t Crc32(uint32_t crc, const void* data, size_t size);
