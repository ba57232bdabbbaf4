#include "payload/own_resources.h"

#include "lumora/resource_directory.h"

namespace {

// The directory's bytes as the loader mapped them.
struct MappedDirectory {
  const uint8_t* start;
  bool Read(uint32_t offset, uint8_t* out, uint32_t size) const {
    for (uint32_t i = 0; i < size; ++i) out[i] = start[offset + i];
    return true;
  }
};

}  // namespace

bool OwnResourcesAreSound(HMODULE module) {
  // A module loaded as a data file (the low bits of its handle set) holds the file's bytes as they
  // lie, not an image the loader mapped: its addresses name nothing there. The stub runs on its
  // own image; anything else is refused.
  if ((reinterpret_cast<uintptr_t>(module) & 3) != 0) return false;
  const uint8_t* base = reinterpret_cast<const uint8_t*>(module);
  // The loader has already read these headers to map the image; they are as the file has them.
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
  if (nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_RESOURCE) return true;
  const IMAGE_DATA_DIRECTORY& entry =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
  const IMAGE_SECTION_HEADER* headers = IMAGE_FIRST_SECTION(nt);
  const uint32_t count = nt->FileHeader.NumberOfSections;

  // The rules take the section table in their own terms, copied onto the stack; an image of more
  // sections than the loader maps is refused by the rules themselves.
  ImageSection sections[kMostImageSections];
  if (count > kMostImageSections) return false;
  for (uint32_t i = 0; i < count; ++i) {
    sections[i].virtual_address = headers[i].VirtualAddress;
    sections[i].virtual_size = headers[i].Misc.VirtualSize;
    sections[i].raw_size = headers[i].SizeOfRawData;
    sections[i].raw_offset = headers[i].PointerToRawData;
  }
  ResourceImage image;
  image.sections = sections;
  image.section_count = count;
  image.size_of_image = nt->OptionalHeader.SizeOfImage;
  image.directory_rva = entry.VirtualAddress;
  image.directory_size = entry.Size;
  if (!ResourceDirectoryMapped(image)) return false;
  const MappedDirectory directory{base + image.directory_rva};
  return CheckResourceDirectory(image, directory).fault == ResourceFault::kNone;
}
