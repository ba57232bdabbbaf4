// Decoding a folder's files in order, each handed to a receiver as it is decoded and checked
// against its CRC before the receiver is told it is complete. Memory: the folder's decoder
// (FolderMemory) and one buffer of 64 KiB, whatever the files' sizes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "seven_zip/archive.h"

class SevenZipFileReceiver {
 public:
  virtual ~SevenZipFileReceiver() = default;
  virtual SevenZipStatus Begin(size_t file_index) = 0;
  virtual SevenZipStatus Write(const unsigned char* data, size_t size) = 0;
  // The file's bytes are complete and its CRC matched.
  virtual SevenZipStatus End(size_t file_index) = 0;
};

// Decodes folder folder_index of the archive into its files. A CRC that does not match (a file's,
// or the folder's) ends it with kDamaged before End is called for that file (for the folder's,
// after the last). Refuses (kTooLarge) a folder that needs more than memory_limit.
SevenZipStatus ExtractFolder(ArchiveSource& source, const SevenZipArchive& archive,
                             size_t folder_index, uint64_t memory_limit,
                             SevenZipFileReceiver& receiver);
