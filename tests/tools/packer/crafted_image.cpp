#include "crafted_image.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "pe/pe_image.h"

namespace {

uint32_t NtOffset(const std::vector<uint8_t>& image) { return Load32(&image[60]); }
uint32_t OptionalOffset(const std::vector<uint8_t>& image) { return NtOffset(image) + 24; }
uint32_t SectionTable(const std::vector<uint8_t>& image) {
  return OptionalOffset(image) + Load16(&image[NtOffset(image) + 20]);
}
uint16_t SectionCount(const std::vector<uint8_t>& image) { return Load16(&image[NtOffset(image) + 6]); }
uint32_t Align(uint64_t value, uint32_t alignment) {
  return static_cast<uint32_t>((value + alignment - 1) / alignment * alignment);
}

}  // namespace

uint32_t DirectoryBytes::Table(uint16_t named, uint16_t ids) {
  const uint32_t at = static_cast<uint32_t>(bytes.size());
  bytes.resize(at + 16 + 8u * (named + ids));
  Store16(&bytes[at + 12], named);
  Store16(&bytes[at + 14], ids);
  return at;
}

void DirectoryBytes::Entry(uint32_t table, uint32_t index, uint32_t name, uint32_t target) {
  Store32(&bytes[table + 16 + 8 * index], name);
  Store32(&bytes[table + 16 + 8 * index + 4], target);
}

uint32_t DirectoryBytes::String(const std::u16string& text) {
  const uint32_t at = static_cast<uint32_t>(bytes.size());
  bytes.resize(at + 2 + 2 * text.size());
  Store16(&bytes[at], static_cast<uint16_t>(text.size()));
  for (size_t i = 0; i < text.size(); ++i) Store16(&bytes[at + 2 + 2 * i], text[i]);
  bytes.resize(Align(bytes.size(), 4));
  return at;
}

uint32_t DirectoryBytes::DataEntry(uint32_t rva, uint32_t size) {
  const uint32_t at = static_cast<uint32_t>(bytes.size());
  bytes.resize(at + 16);
  Store32(&bytes[at], rva);
  Store32(&bytes[at + 4], size);
  return at;
}

uint32_t DirectoryBytes::Data(const std::vector<uint8_t>& data) {
  const uint32_t at = Align(bytes.size(), 8);
  bytes.resize(at);
  bytes.insert(bytes.end(), data.begin(), data.end());
  return at;
}

uint32_t NextSectionRva(const std::vector<uint8_t>& image) {
  const uint32_t section_alignment = Load32(&image[OptionalOffset(image) + 32]);
  uint64_t end = 0;
  for (uint32_t i = 0; i < SectionCount(image); ++i) {
    const uint8_t* s = &image[SectionTable(image) + 40 * i];
    end = std::max<uint64_t>(end, uint64_t{Load32(s + 12)} + std::max(Load32(s + 8), Load32(s + 16)));
  }
  return Align(end, section_alignment);
}

std::vector<uint8_t> WithResourceDirectory(std::vector<uint8_t> image,
                                           const std::vector<uint8_t>& directory) {
  const uint32_t rva = NextSectionRva(image);
  const uint32_t optional = OptionalOffset(image);
  const uint32_t file_alignment = Load32(&image[optional + 36]);
  const uint32_t section_alignment = Load32(&image[optional + 32]);
  const uint16_t count = SectionCount(image);
  uint8_t* header = &image[SectionTable(image) + 40 * count];
  const uint32_t raw_offset = Align(image.size(), file_alignment);
  const uint32_t raw_size = Align(directory.size(), file_alignment);
  std::copy_n(".hostile", 8, header);
  Store32(header + 8, static_cast<uint32_t>(directory.size()));
  Store32(header + 12, rva);
  Store32(header + 16, raw_size);
  Store32(header + 20, raw_offset);
  Store32(header + 36, 0x40000040);
  Store16(&image[NtOffset(image) + 6], count + 1);
  Store32(&image[optional + 56], Align(uint64_t{rva} + directory.size(), section_alignment));
  SetDataDirectory(image, 2, rva, static_cast<uint32_t>(directory.size()));
  image.resize(raw_offset, 0);
  image.insert(image.end(), directory.begin(), directory.end());
  image.resize(raw_offset + raw_size, 0);
  return image;
}

std::vector<uint8_t> PayloadDirectory(uint32_t section_rva, const std::u16string& archive_name,
                                      const std::u16string& setup_name,
                                      const std::u16string* previous_version,
                                      const std::vector<uint8_t>& cabinet) {
  DirectoryBytes d;
  // Tables in the order of a breadth-first walk, as resource compilers lay them out.
  const bool versioned = previous_version != nullptr;
  const uint32_t root = d.Table(2, versioned ? 1 : 0);
  const uint32_t b7 = d.Table(1, 0), bl = d.Table(1, 0);
  const uint32_t rcdata = versioned ? d.Table(0, 1) : 0;
  const uint32_t archive_languages = d.Table(0, 1), setup_languages = d.Table(0, 1);
  const uint32_t one = versioned ? d.Table(0, 1) : 0;
  d.Entry(root, 0, kHigh | d.String(u"B7"), kHigh | b7);
  d.Entry(root, 1, kHigh | d.String(u"BL"), kHigh | bl);
  d.Entry(b7, 0, kHigh | d.String(archive_name), kHigh | archive_languages);
  d.Entry(bl, 0, kHigh | d.String(setup_name), kHigh | setup_languages);
  const uint32_t archive_entry = d.DataEntry(0, 0), setup_entry = d.DataEntry(0, 0);
  d.Entry(archive_languages, 0, 1033, archive_entry);
  d.Entry(setup_languages, 0, 1033, setup_entry);
  uint32_t version_entry = 0;
  if (versioned) {
    version_entry = d.DataEntry(0, 0);
    d.Entry(root, 2, 10, kHigh | rcdata);
    d.Entry(rcdata, 0, 1, kHigh | one);
    d.Entry(one, 0, 1033, version_entry);
  }
  const std::vector<uint8_t> archive(100, 'A');
  const uint32_t archive_at = d.Data(archive), cabinet_at = d.Data(cabinet);
  Store32(&d.bytes[archive_entry], section_rva + archive_at);
  Store32(&d.bytes[archive_entry + 4], static_cast<uint32_t>(archive.size()));
  Store32(&d.bytes[setup_entry], section_rva + cabinet_at);
  Store32(&d.bytes[setup_entry + 4], static_cast<uint32_t>(cabinet.size()));
  if (previous_version != nullptr) {
    std::vector<uint8_t> text;
    for (char16_t c : *previous_version + u'\0') {
      text.push_back(static_cast<uint8_t>(c));
      text.push_back(static_cast<uint8_t>(c >> 8));
    }
    const uint32_t at = d.Data(text);
    Store32(&d.bytes[version_entry], section_rva + at);
    Store32(&d.bytes[version_entry + 4], static_cast<uint32_t>(text.size()));
  }
  return d.bytes;
}

bool PatchDataEntry(std::vector<uint8_t>& image, uint32_t size, bool rva_field, uint32_t value) {
  uint32_t rva = 0, directory_size = 0;
  const uint32_t optional = OptionalOffset(image);
  rva = Load32(&image[optional + 112 + 16]);
  directory_size = Load32(&image[optional + 112 + 20]);
  for (uint32_t i = 0; i < SectionCount(image); ++i) {
    const uint8_t* s = &image[SectionTable(image) + 40 * i];
    if (Load32(s + 12) != rva) continue;
    const uint32_t raw = Load32(s + 20);
    // Data entries are 4-byte aligned, hold an RVA inside the directory and a zero reserved word.
    for (uint32_t at = raw; at + 16 <= raw + directory_size && at + 16 <= image.size(); at += 4) {
      const uint32_t entry_rva = Load32(&image[at]);
      if (Load32(&image[at + 4]) == size && Load32(&image[at + 12]) == 0 && entry_rva >= rva &&
          entry_rva < rva + directory_size) {
        Store32(&image[at + (rva_field ? 0 : 4)], value);
        return true;
      }
    }
  }
  return false;
}

void SetDataDirectory(std::vector<uint8_t>& image, uint32_t index, uint32_t rva, uint32_t size) {
  const uint32_t at = OptionalOffset(image) + 112 + 8 * index;
  Store32(&image[at], rva);
  Store32(&image[at + 4], size);
}

SectionFields FindSection(const std::vector<uint8_t>& image, const char* name) {
  SectionFields f;
  for (uint32_t i = 0; i < SectionCount(image); ++i) {
    const uint8_t* s = &image[SectionTable(image) + 40 * i];
    if (std::string(reinterpret_cast<const char*>(s), strnlen(reinterpret_cast<const char*>(s), 8)) != name) {
      continue;
    }
    f.found = true;
    f.virtual_size = Load32(s + 8);
    f.virtual_address = Load32(s + 12);
    f.raw_size = Load32(s + 16);
    f.raw_offset = Load32(s + 20);
  }
  return f;
}

void SetVirtualSize(std::vector<uint8_t>& image, const char* name, uint32_t virtual_size,
                    bool fit_image) {
  for (uint32_t i = 0; i < SectionCount(image); ++i) {
    uint8_t* s = &image[SectionTable(image) + 40 * i];
    if (std::string(reinterpret_cast<const char*>(s), strnlen(reinterpret_cast<const char*>(s), 8)) != name) {
      continue;
    }
    Store32(s + 8, virtual_size);
    if (fit_image) {
      const uint32_t optional = Load32(&image[60]) + 24;
      Store32(&image[optional + 56], Load32(s + 12) + ((virtual_size + 0xFFF) & ~0xFFFu));
    }
  }
}

uint32_t FileOffsetOf(const std::vector<uint8_t>& image, uint32_t rva) {
  for (uint32_t i = 0; i < SectionCount(image); ++i) {
    const uint8_t* s = &image[SectionTable(image) + 40 * i];
    if (rva >= Load32(s + 12) && rva - Load32(s + 12) < Load32(s + 16)) {
      return Load32(s + 20) + (rva - Load32(s + 12));
    }
  }
  return 0;
}

std::vector<uint8_t> WithSectionTableAtThePageEnd(const std::vector<uint8_t>& image) {
  const uint32_t page = 4096;
  const uint32_t count = SectionCount(image);
  const uint32_t old_table = SectionTable(image);
  const uint32_t first_raw = Load32(&image[old_table + 20]);
  const uint32_t new_table = page - 40 * count;
  std::vector<uint8_t> out(image.begin(), image.begin() + old_table);
  out.resize(page, 0);
  std::copy_n(image.begin() + old_table, 40 * count, out.begin() + new_table);
  // The table follows the optional header, which is said to be as long as needed.
  Store16(&out[NtOffset(out) + 20], static_cast<uint16_t>(new_table - OptionalOffset(out)));
  Store32(&out[OptionalOffset(out) + 60], page);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* s = &out[new_table + 40 * i];
    if (Load32(s + 16) != 0) Store32(s + 20, Load32(s + 20) - first_raw + page);
  }
  out.insert(out.end(), image.begin() + first_raw, image.end());
  return out;
}

std::vector<uint8_t> DebugData() {
  return {'R', 'S', 'D', 'S', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
}

std::vector<uint8_t> WithDebugEntry(std::vector<uint8_t> image, bool in_overlay) {
  uint8_t* rdata = nullptr;
  for (uint32_t i = 0; i < SectionCount(image); ++i) {
    uint8_t* s = &image[SectionTable(image) + 40 * i];
    if (std::memcmp(s, ".rdata", 7) == 0) rdata = s;
  }
  const uint32_t va = Load32(rdata + 12), raw_size = Load32(rdata + 16), raw = Load32(rdata + 20);
  // The section's file data grows by one file-alignment unit of zeros, so that the entry never
  // lands on the stub's own read-only data, however little room the stub's build left at its
  // end; the sections behind it move along in the file. 64 bytes at the start of the new room:
  // the entry (28 bytes), then the data at +32.
  constexpr uint32_t kRoom = 512;
  const uint32_t room_at = raw + raw_size;
  for (uint32_t i = 0; i < SectionCount(image); ++i) {
    uint8_t* s = &image[SectionTable(image) + 40 * i];
    if (Load32(s + 20) >= room_at) Store32(s + 20, Load32(s + 20) + kRoom);
  }
  image.insert(image.begin() + room_at, kRoom, 0);
  for (uint32_t i = 0; i < SectionCount(image); ++i) {
    uint8_t* s = &image[SectionTable(image) + 40 * i];
    if (std::memcmp(s, ".rdata", 7) == 0) rdata = s;
  }
  Store32(rdata + 16, raw_size + kRoom);
  Store32(rdata + 8, raw_size + kRoom);
  const uint32_t entry_rva = va + raw_size, entry_at = room_at;
  const std::vector<uint8_t> data = DebugData();
  uint8_t* entry = &image[entry_at];
  Store32(entry + 12, 2);  // IMAGE_DEBUG_TYPE_CODEVIEW
  Store32(entry + 16, static_cast<uint32_t>(data.size()));
  if (in_overlay) {
    Store32(entry + 24, static_cast<uint32_t>(image.size()));
    image.insert(image.end(), data.begin(), data.end());
  } else {
    Store32(entry + 20, entry_rva + 32);
    Store32(entry + 24, entry_at + 32);
    std::copy(data.begin(), data.end(), image.begin() + entry_at + 32);
  }
  SetDataDirectory(image, 6, entry_rva, 28);
  return image;
}
