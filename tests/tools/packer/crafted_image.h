// Hostile and damaged images made byte by byte: a resource directory laid out by hand (tables
// shared between entries, names shared or overlapping, counts that lie) placed into a copy of
// the bare stub, and single fields of a packed installer changed in place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A resource directory under construction. Offsets are from the start of the directory, which
// becomes the start of a new last section of the image; data RVAs are the section's RVA plus
// an offset.
struct DirectoryBytes {
  std::vector<uint8_t> bytes;

  // A table with room for named + ids entries; returns its offset.
  uint32_t Table(uint16_t named, uint16_t ids);
  // Entry index of the table at table: a name (a string's offset with the high bit, or an
  // identifier) and a target (a table's offset with the high bit, or a data entry's offset).
  void Entry(uint32_t table, uint32_t index, uint32_t name, uint32_t target);
  uint32_t String(const std::u16string& text);
  uint32_t DataEntry(uint32_t rva, uint32_t size);
  uint32_t Data(const std::vector<uint8_t>& data);
};

constexpr uint32_t kHigh = 0x80000000u;

// The RVA the next section of the image gets, and the image with the directory put in there.
uint32_t NextSectionRva(const std::vector<uint8_t>& image);
std::vector<uint8_t> WithResourceDirectory(std::vector<uint8_t> image,
                                           const std::vector<uint8_t>& directory);

// A directory of an ordinary installer: an archive in "B7", the cabinet given as the setup
// program in "BL", names as given, and a previous version when one is given.
std::vector<uint8_t> PayloadDirectory(uint32_t section_rva, const std::u16string& archive_name,
                                      const std::u16string& setup_name,
                                      const std::u16string* previous_version,
                                      const std::vector<uint8_t>& cabinet);

// Sets the RVA or the size field of the data entry whose size is size, in a packed installer.
bool PatchDataEntry(std::vector<uint8_t>& image, uint32_t size, bool rva_field, uint32_t value);
// Sets a data directory entry of the image (index 4 is the certificate table).
void SetDataDirectory(std::vector<uint8_t>& image, uint32_t index, uint32_t rva, uint32_t size);

// One section header's fields, read from the image's bytes.
struct SectionFields {
  bool found = false;
  uint32_t virtual_size = 0, virtual_address = 0, raw_size = 0, raw_offset = 0;
};
SectionFields FindSection(const std::vector<uint8_t>& image, const char* name);
// Sets the virtual size of the section of that name: the memory the loader gives it. fit_image:
// SizeOfImage ends with it too, so that nothing is mapped after it.
void SetVirtualSize(std::vector<uint8_t>& image, const char* name, uint32_t virtual_size,
                    bool fit_image);
// The file offset of rva in the image's section data, or 0.
uint32_t FileOffsetOf(const std::vector<uint8_t>& image, uint32_t rva);

// The stub with its headers grown to a page and the section table moved to their very end, the
// section data moved after them: a stub with no room left for one more section header.
std::vector<uint8_t> WithSectionTableAtThePageEnd(const std::vector<uint8_t>& image);

// The 16 bytes of debug data WithDebugEntry adds.
std::vector<uint8_t> DebugData();
// The stub with a debug directory of one CodeView entry, placed with its data in the slack at the
// end of .rdata's file data (whose virtual size is grown to cover them), or with its data after
// the sections (in_overlay: no address, only a file offset), as linkers leave unmapped data.
std::vector<uint8_t> WithDebugEntry(std::vector<uint8_t> image, bool in_overlay);
