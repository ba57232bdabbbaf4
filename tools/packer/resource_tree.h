// Building a resource section: the directory of types, names and languages, the names, the data
// entries, then the data. Small data (the stub's own manifest and version block, the previous
// version) is held in memory and placed right after the directory; payload members are streamed
// from their files later, each starting on a 4 KiB page boundary of the section, so that with a
// page-aligned section the loader can map them from the file rather than read them into memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file_io.h"
#include "resource_listing.h"

constexpr uint32_t kPageSize = 4096;

struct NewResource {
  ResourceKey type;
  ResourceKey name;
  uint16_t language = 0;
  uint32_t codepage = 0;
  std::vector<uint8_t> bytes;          // data held in memory, or
  const InputFile* file = nullptr;     // data streamed from this file, all of it
  bool page_aligned = false;

  uint64_t size() const { return file != nullptr ? file->size() : bytes.size(); }
};

struct StreamedBlob {
  uint64_t offset = 0;  // from the start of the section
  const InputFile* file = nullptr;
};

struct ResourceSection {
  std::vector<uint8_t> head;          // directory, names, data entries, in-memory data
  std::vector<StreamedBlob> blobs;    // after head, ascending offsets
  uint64_t size = 0;                  // the section's content, up to the end of the last blob
};

// Lays out the resources for a section that starts at section_rva. Fails on a duplicate
// (type, name, language) or when the section would not fit the 32-bit address space.
bool BuildResourceSection(std::vector<NewResource> resources, uint32_t section_rva,
                          ResourceSection& section, std::string& error);

uint64_t AlignUp(uint64_t value, uint64_t alignment);
