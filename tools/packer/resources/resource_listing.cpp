#include "resources/resource_listing.h"

#include <algorithm>
#include <map>
#include <set>

#include "pe/pe_format.h"

namespace {

struct Walker {
  const PeImage& image;
  const ByteSource& file;
  uint32_t base_rva;
  uint32_t directory_size;
  // The bytes the walk may still consume; see ReadResourceListing for why this is safe.
  uint64_t budget;
  std::set<uint32_t> tables_read;
  std::map<uint32_t, std::shared_ptr<const std::u16string>> names_read;  // by offset
  std::string& error;
  uint32_t extent = 0;  // the end of the furthest bytes read

  bool Consume(uint64_t bytes) {
    if (bytes > budget) {
      error = "the resource directory claims more tables, entries and names than its " +
              std::to_string(directory_size) + " bytes can hold";
      return false;
    }
    budget -= bytes;
    return true;
  }

  bool Read(uint32_t offset, void* buffer, uint32_t size) {
    uint64_t at = 0;
    if (uint64_t{offset} + size > directory_size ||
        !image.RvaToOffset(base_rva + offset, size, at)) {
      error = "the resource directory points outside the image";
      return false;
    }
    extent = std::max(extent, offset + size);
    return file.ReadAt(at, buffer, size, error);
  }

  bool ReadKey(uint32_t name_field, ResourceKey& key) {
    if ((name_field & kResourceHighBit) == 0) {
      key = ResourceKey::Id(static_cast<uint16_t>(name_field));
      return true;
    }
    const uint32_t at = name_field & ~kResourceHighBit;
    key = ResourceKey();
    key.named = true;
    // Entries that share a name share its one copy; only a name's first use costs its bytes.
    auto known = names_read.find(at);
    if (known != names_read.end()) {
      key.text = known->second;
      return true;
    }
    uint8_t length_bytes[kResourceNameLengthSize];
    if (!Read(at, length_bytes, kResourceNameLengthSize)) return false;
    const uint16_t length = Load16(length_bytes);
    if (!Consume(kResourceNameLengthSize + 2u * length)) return false;
    std::vector<uint8_t> units(length * 2u);
    if (length != 0 && !Read(at + kResourceNameLengthSize, units.data(), length * 2u)) return false;
    std::u16string name(length, u'\0');
    for (uint16_t i = 0; i < length; ++i) name[i] = Load16(&units[i * 2u]);
    key.text = std::make_shared<const std::u16string>(std::move(name));
    names_read.emplace(at, key.text);
    return true;
  }

  // Reads one directory table's entries: (key, offset field) pairs in stored order.
  bool ReadDirectory(uint32_t offset, std::vector<std::pair<ResourceKey, uint32_t>>& entries) {
    if (!tables_read.insert(offset).second) {
      error = "the resource directory refers to its table at offset " + std::to_string(offset) +
              " more than once";
      return false;
    }
    uint8_t header[kResourceTableHeaderSize];
    if (!Read(offset, header, sizeof(header))) return false;
    const uint32_t count = uint32_t{Load16(header + kResourceTableNamedEntries)} + Load16(header + kResourceTableIdEntries);
    // Paid for before anything is allocated for the entries.
    if (!Consume(ResourceTableBytes(count))) return false;
    std::vector<uint8_t> raw(count * kResourceEntrySize);
    if (count != 0 && !Read(offset + kResourceTableHeaderSize, raw.data(), count * kResourceEntrySize)) {
      return false;
    }
    entries.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
      ResourceKey key;
      if (!ReadKey(Load32(&raw[i * kResourceEntrySize]), key)) return false;
      entries.emplace_back(std::move(key), Load32(&raw[i * kResourceEntrySize + 4]));
    }
    return true;
  }

  bool SubDirectory(uint32_t field, uint32_t& offset) {
    if ((field & kResourceHighBit) == 0) {
      error = "the resource directory has data where a directory belongs";
      return false;
    }
    offset = field & ~kResourceHighBit;
    return true;
  }
};

}  // namespace

bool ReadResourceListing(const PeImage& image, const ByteSource& file,
                         std::vector<Resource>& resources, std::string& error, uint32_t* extent) {
  resources.clear();
  uint32_t rva = 0, size = 0;
  image.Directory(kDirectoryResource, rva, size);
  if (rva == 0) return true;
  // Every part of a resource directory lies within the directory's bytes, and in any image a
  // linker or resource compiler makes no two parts share bytes: each table (16 bytes and 8 per
  // entry), each data entry (16 bytes) and each distinct name (2 bytes and 2 per unit) has bytes
  // of its own. So a real directory never needs more than its size, nor more than the file
  // holds, since every part is read from the file. Tables are visited once each, names read once
  // per offset; what a crafted directory claims beyond its bytes it could only claim by reusing
  // them, and the walk refuses it instead of doing that work again.
  Walker walker{image, file, rva, size, std::min<uint64_t>(size, file.size()), {}, {}, error};
  std::vector<std::pair<ResourceKey, uint32_t>> types;
  if (!walker.ReadDirectory(0, types)) return false;
  uint32_t type_entry = 0, name_entry = 0;
  for (const auto& [type, type_field] : types) {
    uint32_t names_at = 0;
    std::vector<std::pair<ResourceKey, uint32_t>> names;
    if (!walker.SubDirectory(type_field, names_at) || !walker.ReadDirectory(names_at, names)) {
      return false;
    }
    for (const auto& [name, name_field] : names) {
      uint32_t languages_at = 0;
      std::vector<std::pair<ResourceKey, uint32_t>> languages;
      if (!walker.SubDirectory(name_field, languages_at) ||
          !walker.ReadDirectory(languages_at, languages)) {
        return false;
      }
      for (const auto& [language, data_field] : languages) {
        if ((data_field & kResourceHighBit) != 0) {
          error = "the resource directory nests deeper than type, name and language";
          return false;
        }
        uint8_t data[kResourceDataEntrySize];
        if (!walker.Consume(kResourceDataEntrySize) || !walker.Read(data_field, data, sizeof(data))) {
          return false;
        }
        Resource r;
        r.type = type;
        r.name = name;
        r.language = language.id;
        r.type_entry = type_entry;
        r.name_entry = name_entry;
        r.data_rva = Load32(data + kResourceDataRva);
        r.size = Load32(data + kResourceDataSize);
        r.codepage = Load32(data + kResourceDataCodepage);
        r.mapped = image.RvaToOffset(r.data_rva, r.size, r.file_offset);
        r.loaded = image.WhereLoaded(r.data_rva, r.size);
        resources.push_back(std::move(r));
      }
      ++name_entry;
    }
    ++type_entry;
  }
  if (extent != nullptr) *extent = walker.extent;
  return true;
}
