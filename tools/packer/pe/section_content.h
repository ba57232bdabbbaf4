// What the packer's new last section holds: bytes built in memory, then files streamed after
// them. The resource directory fills one; the image writer writes it out without knowing what it
// means.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/file_io.h"

struct StreamedBlob {
  uint64_t offset = 0;  // from the start of the section
  const InputFile* file = nullptr;
};

struct SectionContent {
  std::vector<uint8_t> head;          // directory, names, data entries, in-memory data
  std::vector<StreamedBlob> blobs;    // after head, ascending offsets
  uint64_t size = 0;                  // the section's content, up to the end of the last blob
};
