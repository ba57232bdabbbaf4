// Writing the packed installer: the stub's headers and sections laid out again with every part on
// a page of the file (FileAlignment 4096, headers padded to a page, each section's raw data at
// the file offset equal to its address and rounded to whole pages), followed by one new last
// section, also at its own address, that holds the whole new resource directory and its data.
// Addresses in memory do not change: the stub's sections keep their RVAs, and the loader can map
// every page of the image straight from the file instead of reading it.
//
// The new section is named ".rsrc", as resource compilers name theirs: tools that find an image's
// resources by the section's name rather than by the data directory (7-Zip lists the version
// texts from it) read the installer's own. The stub's resource section keeps its place in memory
// (sections must stay contiguous there) but loses its bytes: it becomes ".oldrsrc", zero-filled
// memory with no file data, so that no stale copy of the stub's icon and version texts remains
// anywhere in the installer.
//
// What holds a file offset is moved with it: the section headers, and the debug directory's
// pointers to its data. Whatever followed the stub's last section (an overlay, a COFF symbol
// table) is left out, so that the installer can be signed afterwards. The stub itself comes
// unsigned: the packer refuses a signed one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "pe/pe_image.h"
#include "platform/progress.h"
#include "pe/section_content.h"

// The name of the section that carries the resources in a packed installer, and the one the
// stub's emptied resource section takes.
constexpr char kPayloadSectionName[] = ".rsrc";
constexpr char kEmptiedSectionName[] = ".oldrsrc";

// Four bytes of the stub's section data that hold a file offset, and the value they take in the
// installer.
struct OffsetFixup {
  uint64_t stub_offset = 0;
  uint32_t value = 0;
};

// Where everything goes in the installer's file.
struct PackedLayout {
  uint32_t size_of_headers = 0;
  std::vector<uint32_t> raw_offsets;  // of the stub's sections, in section table order
  std::vector<uint32_t> raw_sizes;
  uint32_t payload_rva = 0;     // the new section's address
  uint64_t payload_offset = 0;  // ... and its file offset
  std::vector<OffsetFixup> fixups;
  // The stub's resource section, emptied; the number of sections when the stub has none.
  size_t emptied = 0;
};

// Checks that the stub can take one more section and be laid out on pages, and that its resource
// section holds nothing else the image needs, and plans where each part goes.
bool PlanPackedLayout(const PeImage& stub, const InputFile& stub_file, PackedLayout& layout,
                      std::string& error);

// Writes the installer into out, a freshly created output file, and leaves committing it to the
// caller, who reads it back first. progress, when given, hears of every piece written.
bool WritePackedImage(const PeImage& stub, const InputFile& stub_file, const PackedLayout& layout,
                      const SectionContent& resources, StagedFile& out, Progress* progress,
                      std::string& error);
