#include "pe/pe_image.h"

#include <algorithm>
#include <cstring>

#include "platform/escaped_text.h"

namespace {

// Headers larger than this are not something a linker makes; refusing them bounds what is read.
constexpr uint32_t kMaxHeaders = 1 << 20;

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

bool ReadPeImage(const ByteSource& file, PeImage& image, std::string& error) {
  image = PeImage();
  image.file_size = file.size();
  const std::string& path = file.path();
  uint8_t dos[kDosHeaderSize];
  if (file.size() < sizeof(dos) || !file.ReadAt(0, dos, sizeof(dos), error) ||
      Load16(dos) != kDosMagic) {
    error = path + " is not a PE image (no MZ header)";
    return false;
  }
  const uint32_t nt_offset = Load32(dos + kDosNtHeadersOffset);
  uint8_t nt[kPeSignatureSize + kFileHeaderSize + kOptionalThroughCheckSum];
  if (nt_offset > kMaxHeaders || nt_offset + uint64_t{sizeof(nt)} > file.size() ||
      !file.ReadAt(nt_offset, nt, sizeof(nt), error) || Load32(nt) != kPeSignature) {
    error = path + " is not a PE image (no PE signature)";
    return false;
  }
  const uint8_t* file_header = nt + kPeSignatureSize;
  const uint8_t* optional = file_header + kFileHeaderSize;
  image.file_header_offset = nt_offset + kPeSignatureSize;
  image.optional_offset = image.file_header_offset + kFileHeaderSize;
  image.machine = Load16(file_header + kFileMachine);
  image.characteristics = Load16(file_header + kFileCharacteristics);
  const uint16_t number_of_sections = Load16(file_header + kFileNumberOfSections);
  const uint16_t optional_size = Load16(file_header + kFileSizeOfOptionalHeader);
  const uint16_t magic = Load16(optional + kOptionalMagic);
  if (magic != kPe32Magic && magic != kPe32PlusMagic) {
    error = path + ": unknown optional header magic";
    return false;
  }
  image.pe32_plus = magic == kPe32PlusMagic;
  image.section_alignment = Load32(optional + kOptionalSectionAlignment);
  image.file_alignment = Load32(optional + kOptionalFileAlignment);
  image.size_of_image = Load32(optional + kOptionalSizeOfImage);
  image.size_of_headers = Load32(optional + kOptionalSizeOfHeaders);
  image.checksum = Load32(optional + kOptionalCheckSum);
  const uint32_t directories_at =
      image.pe32_plus ? kOptionalDirectoriesPe32Plus : kOptionalDirectoriesPe32;
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
  image.subsystem = Load16(h + image.optional_offset + kOptionalSubsystem);
  // The count of directories is the optional header's last field before them.
  image.number_of_directories =
      std::min<uint32_t>(Load32(h + image.data_directory_offset - 4),
                         (optional_size - directories_at) / kDirectoryEntrySize);
  uint64_t sections_end = 0;
  for (uint32_t i = 0; i < number_of_sections; ++i) {
    const uint8_t* s = h + image.section_table_offset + i * kSectionHeaderSize;
    PeSection section;
    std::memcpy(section.name, s + kSectionName, kSectionNameSize);
    section.virtual_size = Load32(s + kSectionVirtualSize);
    section.virtual_address = Load32(s + kSectionVirtualAddress);
    section.raw_size = Load32(s + kSectionSizeOfRawData);
    section.raw_offset = Load32(s + kSectionPointerToRawData);
    section.characteristics = Load32(s + kSectionCharacteristics);
    if (section.raw_size != 0 && section.raw_offset + uint64_t{section.raw_size} > file.size()) {
      error = path + ": section " + Escaped(std::string(section.name)) +
              " extends past the end of the file";
      return false;
    }
    // The loader maps sections at ascending addresses without overlap and refuses other
    // images; holding to the same lets SectionAt find an address by binary search, so that
    // looking up every resource of a directory costs no more than a pass over it.
    const uint64_t extent = std::max(section.virtual_size, section.raw_size);
    if (section.virtual_address < sections_end) {
      error = path + ": section " + Escaped(std::string(section.name)) + " overlaps the one before it";
      return false;
    }
    sections_end = uint64_t{section.virtual_address} + extent;
    image.sections.push_back(section);
    image.loaded_sections.push_back(
        {section.virtual_address, section.virtual_size, section.raw_size, section.raw_offset});
  }
  return true;
}

MappedBytes PeImage::WhereLoaded(uint64_t rva, uint64_t size) const {
  return WhereBytesLie(loaded_sections.data(), static_cast<uint32_t>(loaded_sections.size()),
                       size_of_headers, size_of_image, rva, size);
}

bool PeImage::ReadLoaded(const ByteSource& file, uint64_t rva, uint8_t* out, size_t size,
                         std::string& error) const {
  for (size_t done = 0; done < size;) {
    const LoadedRun run =
        LoadedRunAt(loaded_sections.data(), static_cast<uint32_t>(loaded_sections.size()),
                    size_of_headers, size_of_image, rva + done);
    if (run.kind == LoadedRun::kNothing || run.length == 0) {
      error = "address " + std::to_string(rva + done) + " lies beyond the loaded image";
      return false;
    }
    const size_t n = static_cast<size_t>(std::min<uint64_t>(run.length, size - done));
    if (run.kind == LoadedRun::kZeros) {
      std::fill_n(out + done, n, uint8_t{0});
    } else if (!file.ReadAt(run.file_offset, out + done, n, error)) {
      return false;
    }
    done += n;
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
  const uint8_t* entry = headers.data() + data_directory_offset + index * kDirectoryEntrySize;
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
