#include "resource_listing.h"


namespace {

constexpr uint32_t kDirectoryHeaderSize = 16;
constexpr uint32_t kEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000u;
// Real images hold a few hundred resources; a bound keeps a hostile directory from running long.
constexpr size_t kMaxResources = 100000;

struct Walker {
  const PeImage& image;
  const InputFile& file;
  uint32_t base_rva;
  uint32_t directory_size;
  std::string& error;

  bool Read(uint32_t offset, void* buffer, uint32_t size) {
    uint64_t at = 0;
    if (uint64_t{offset} + size > directory_size ||
        !image.RvaToOffset(base_rva + offset, size, at)) {
      error = "the resource directory points outside the image";
      return false;
    }
    return file.ReadAt(at, buffer, size, error);
  }

  bool ReadKey(uint32_t name_field, ResourceKey& key) {
    if ((name_field & kHighBit) == 0) {
      key = ResourceKey::Id(static_cast<uint16_t>(name_field));
      return true;
    }
    uint8_t length_bytes[2];
    const uint32_t at = name_field & ~kHighBit;
    if (!Read(at, length_bytes, 2)) return false;
    const uint16_t length = Load16(length_bytes);
    std::vector<uint8_t> units(length * 2u);
    if (length != 0 && !Read(at + 2, units.data(), length * 2u)) return false;
    std::u16string name(length, u'\0');
    for (uint16_t i = 0; i < length; ++i) name[i] = Load16(&units[i * 2u]);
    key = ResourceKey::Name(std::move(name));
    return true;
  }

  // Reads one directory's entries: (key, offset field) pairs in stored order.
  bool ReadDirectory(uint32_t offset, std::vector<std::pair<ResourceKey, uint32_t>>& entries) {
    uint8_t header[kDirectoryHeaderSize];
    if (!Read(offset, header, sizeof(header))) return false;
    const uint32_t count = uint32_t{Load16(header + 12)} + Load16(header + 14);
    std::vector<uint8_t> raw(count * kEntrySize);
    if (count != 0 && !Read(offset + kDirectoryHeaderSize, raw.data(), count * kEntrySize)) {
      return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
      ResourceKey key;
      if (!ReadKey(Load32(&raw[i * kEntrySize]), key)) return false;
      entries.emplace_back(std::move(key), Load32(&raw[i * kEntrySize + 4]));
    }
    return true;
  }

  bool SubDirectory(uint32_t field, uint32_t& offset) {
    if ((field & kHighBit) == 0) {
      error = "the resource directory has data where a directory belongs";
      return false;
    }
    offset = field & ~kHighBit;
    return true;
  }
};

}  // namespace

bool KeyLess(const ResourceKey& a, const ResourceKey& b) {
  if (a.named != b.named) return a.named;
  if (a.named) return a.name < b.name;
  return a.id < b.id;
}

bool ReadResourceListing(const PeImage& image, const InputFile& file,
                         std::vector<ListedResource>& resources, std::string& error) {
  resources.clear();
  uint32_t rva = 0, size = 0;
  image.Directory(kDirectoryResource, rva, size);
  if (rva == 0) return true;
  Walker walker{image, file, rva, size, error};
  std::vector<std::pair<ResourceKey, uint32_t>> types;
  if (!walker.ReadDirectory(0, types)) return false;
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
        if ((data_field & kHighBit) != 0) {
          error = "the resource directory nests deeper than type, name and language";
          return false;
        }
        uint8_t data[kDataEntrySize];
        if (!walker.Read(data_field, data, sizeof(data))) return false;
        ListedResource r;
        r.type = type;
        r.name = name;
        r.language = language.id;
        r.data_rva = Load32(data);
        r.size = Load32(data + 4);
        r.codepage = Load32(data + 8);
        r.mapped = image.RvaToOffset(r.data_rva, r.size, r.file_offset);
        resources.push_back(std::move(r));
        if (resources.size() > kMaxResources) {
          error = "the resource directory holds implausibly many entries";
          return false;
        }
      }
    }
  }
  return true;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // an unpaired surrogate has no UTF-8 form
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string KeyText(const ResourceKey& key) {
  if (key.named) return Utf16ToUtf8(key.name);
  return "#" + std::to_string(key.id);
}
