#include "resource_listing.h"

#include <algorithm>
#include <map>
#include <set>

namespace {

constexpr uint32_t kDirectoryHeaderSize = 16;
constexpr uint32_t kEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kNameLengthSize = 2;
constexpr uint32_t kHighBit = 0x80000000u;
// The longest name shown whole: every name the stub can take is shorter.
constexpr size_t kLongestShownName = 260;

// The bytes one directory table takes: its header and its entries.
uint64_t TableBytes(uint32_t entries) { return kDirectoryHeaderSize + uint64_t{kEntrySize} * entries; }

struct Walker {
  const PeImage& image;
  const InputFile& file;
  uint32_t base_rva;
  uint32_t directory_size;
  // The bytes the walk may still consume; see ReadResourceListing for why this is safe.
  uint64_t budget;
  std::set<uint32_t> tables_read;
  std::map<uint32_t, std::shared_ptr<const std::u16string>> names_read;  // by offset
  std::string& error;

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
    return file.ReadAt(at, buffer, size, error);
  }

  bool ReadKey(uint32_t name_field, ResourceKey& key) {
    if ((name_field & kHighBit) == 0) {
      key = ResourceKey::Id(static_cast<uint16_t>(name_field));
      return true;
    }
    const uint32_t at = name_field & ~kHighBit;
    key = ResourceKey();
    key.named = true;
    // Entries that share a name share its one copy; only a name's first use costs its bytes.
    auto known = names_read.find(at);
    if (known != names_read.end()) {
      key.text = known->second;
      return true;
    }
    uint8_t length_bytes[kNameLengthSize];
    if (!Read(at, length_bytes, kNameLengthSize)) return false;
    const uint16_t length = Load16(length_bytes);
    if (!Consume(kNameLengthSize + 2u * length)) return false;
    std::vector<uint8_t> units(length * 2u);
    if (length != 0 && !Read(at + kNameLengthSize, units.data(), length * 2u)) return false;
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
    uint8_t header[kDirectoryHeaderSize];
    if (!Read(offset, header, sizeof(header))) return false;
    const uint32_t count = uint32_t{Load16(header + 12)} + Load16(header + 14);
    // Paid for before anything is allocated for the entries.
    if (!Consume(TableBytes(count))) return false;
    std::vector<uint8_t> raw(count * kEntrySize);
    if (count != 0 && !Read(offset + kDirectoryHeaderSize, raw.data(), count * kEntrySize)) {
      return false;
    }
    entries.reserve(count);
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

const std::u16string& ResourceKey::name() const {
  static const std::u16string kNone;
  return text != nullptr ? *text : kNone;
}

bool ResourceKey::operator==(const ResourceKey& other) const {
  if (named != other.named || id != other.id) return false;
  return text == other.text || name() == other.name();
}

bool KeyLess(const ResourceKey& a, const ResourceKey& b) {
  if (a.named != b.named) return a.named;
  if (a.named) return a.text != b.text && a.name() < b.name();
  return a.id < b.id;
}

bool ReadResourceListing(const PeImage& image, const InputFile& file,
                         std::vector<ListedResource>& resources, std::string& error) {
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
        if ((data_field & kHighBit) != 0) {
          error = "the resource directory nests deeper than type, name and language";
          return false;
        }
        uint8_t data[kDataEntrySize];
        if (!walker.Consume(kDataEntrySize) || !walker.Read(data_field, data, sizeof(data))) {
          return false;
        }
        ListedResource r;
        r.type = type;
        r.name = name;
        r.language = language.id;
        r.type_entry = type_entry;
        r.name_entry = name_entry;
        r.data_rva = Load32(data);
        r.size = Load32(data + 4);
        r.codepage = Load32(data + 8);
        r.mapped = image.RvaToOffset(r.data_rva, r.size, r.file_offset);
        resources.push_back(std::move(r));
      }
      ++name_entry;
    }
    ++type_entry;
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

std::string NameText(const std::u16string& name) {
  if (name.size() <= kLongestShownName) return Utf16ToUtf8(name);
  return Utf16ToUtf8(name.substr(0, kLongestShownName)) + "... (" + std::to_string(name.size()) +
         " units)";
}

std::string KeyText(const ResourceKey& key) {
  if (key.named) return NameText(key.name());
  return "#" + std::to_string(key.id);
}
