#include "pe_image.h"

#include <algorithm>
#include <cstring>

uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Store16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}
void Store32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

namespace {

constexpr uint16_t kDosMagic = 0x5A4D;            // "MZ"
constexpr uint32_t kPeSignature = 0x00004550;     // "PE\0\0"
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kFileHeaderSize = 20;
// Headers larger than this are not something a linker makes; refusing them bounds what is read.
constexpr uint32_t kMaxHeaders = 1 << 20;

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

bool ReadPeImage(const InputFile& file, PeImage& image, std::string& error) {
  image = PeImage();
  image.file_size = file.size();
  const std::string& path = file.path();
  uint8_t dos[64];
  if (file.size() < sizeof(dos) || !file.ReadAt(0, dos, sizeof(dos), error) ||
      Load16(dos) != kDosMagic) {
    error = path + " is not a PE image (no MZ header)";
    return false;
  }
  const uint32_t nt_offset = Load32(dos + 60);
  uint8_t nt[4 + kFileHeaderSize + 72];  // through the CheckSum field
  if (nt_offset > kMaxHeaders || nt_offset + uint64_t{sizeof(nt)} > file.size() ||
      !file.ReadAt(nt_offset, nt, sizeof(nt), error) || Load32(nt) != kPeSignature) {
    error = path + " is not a PE image (no PE signature)";
    return false;
  }
  const uint16_t number_of_sections = Load16(nt + 6);
  const uint16_t optional_size = Load16(nt + 20);
  image.optional_offset = nt_offset + 4 + kFileHeaderSize;
  const uint8_t* optional = nt + 4 + kFileHeaderSize;
  const uint16_t magic = Load16(optional);
  if (magic != kPe32Magic && magic != kPe32PlusMagic) {
    error = path + ": unknown optional header magic";
    return false;
  }
  image.pe32_plus = magic == kPe32PlusMagic;
  image.section_alignment = Load32(optional + 32);
  image.file_alignment = Load32(optional + 36);
  image.size_of_image = Load32(optional + 56);
  image.size_of_headers = Load32(optional + 60);
  image.checksum = Load32(optional + 64);
  const uint32_t directories_at = image.pe32_plus ? 112 : 96;
  image.data_directory_offset = image.optional_offset + directories_at;
  image.section_table_offset = image.optional_offset + optional_size;
  if (!IsPowerOfTwo(image.section_alignment) || !IsPowerOfTwo(image.file_alignment) ||
      image.size_of_headers > kMaxHeaders || image.size_of_headers > file.size() ||
      optional_size < directories_at ||
      image.section_table_offset + uint64_t{number_of_sections} * kSectionHeaderSize >
          image.size_of_headers) {
    error = path + ": malformed PE headers";
    return false;
  }
  image.headers.resize(image.size_of_headers);
  if (!file.ReadAt(0, image.headers.data(), image.headers.size(), error)) return false;
  const uint8_t* h = image.headers.data();
  image.number_of_directories =
      std::min<uint32_t>(Load32(h + image.optional_offset + directories_at - 4),
                         (optional_size - directories_at) / 8);
  uint64_t sections_end = 0;
  for (uint32_t i = 0; i < number_of_sections; ++i) {
    const uint8_t* s = h + image.section_table_offset + i * kSectionHeaderSize;
    PeSection section;
    std::memcpy(section.name, s, 8);
    section.virtual_size = Load32(s + 8);
    section.virtual_address = Load32(s + 12);
    section.raw_size = Load32(s + 16);
    section.raw_offset = Load32(s + 20);
    section.characteristics = Load32(s + 36);
    if (section.raw_size != 0 && section.raw_offset + uint64_t{section.raw_size} > file.size()) {
      error = path + ": section " + section.name + " extends past the end of the file";
      return false;
    }
    // The loader maps sections at ascending addresses without overlap and refuses other
    // images; holding to the same lets SectionAt find an address by binary search, so that
    // looking up every resource of a directory costs no more than a pass over it.
    const uint64_t extent = std::max(section.virtual_size, section.raw_size);
    if (section.virtual_address < sections_end) {
      error = path + ": section " + section.name + " overlaps the one before it";
      return false;
    }
    sections_end = uint64_t{section.virtual_address} + extent;
    image.sections.push_back(section);
  }
  return true;
}

uint64_t PeImage::RawEnd() const {
  uint64_t end = size_of_headers;
  for (const PeSection& s : sections) {
    if (s.raw_size != 0) end = std::max<uint64_t>(end, uint64_t{s.raw_offset} + s.raw_size);
  }
  return end;
}

uint64_t PeImage::FirstRawOffset() const {
  uint64_t first = size_of_headers;
  for (const PeSection& s : sections) {
    if (s.raw_size != 0) first = std::min<uint64_t>(first, s.raw_offset);
  }
  return first;
}

void PeImage::Directory(uint32_t index, uint32_t& rva, uint32_t& size) const {
  rva = 0;
  size = 0;
  if (index >= number_of_directories) return;
  const uint8_t* entry = headers.data() + data_directory_offset + index * 8;
  rva = Load32(entry);
  size = Load32(entry + 4);
}

const PeSection* PeImage::SectionAt(uint32_t rva) const {
  auto after = std::upper_bound(
      sections.begin(), sections.end(), rva,
      [](uint32_t value, const PeSection& s) { return value < s.virtual_address; });
  if (after == sections.begin()) return nullptr;
  const PeSection& s = *(after - 1);
  const uint32_t extent = std::max(s.virtual_size, s.raw_size);
  return rva - s.virtual_address < extent ? &s : nullptr;
}

bool PeImage::RvaToOffset(uint32_t rva, uint64_t size, uint64_t& offset) const {
  if (rva + size <= size_of_headers) {
    offset = rva;
    return true;
  }
  const PeSection* s = SectionAt(rva);
  if (s == nullptr || uint64_t{rva - s->virtual_address} + size > s->raw_size) return false;
  offset = uint64_t{s->raw_offset} + (rva - s->virtual_address);
  return true;
}
