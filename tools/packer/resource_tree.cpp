#include "resource_tree.h"

#include <algorithm>
#include <map>

#include "pe_image.h"

namespace {

constexpr uint32_t kDirectoryHeaderSize = 16;
constexpr uint32_t kEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000u;
// Resource data is DWORD-aligned by every resource compiler; version blocks rely on it.
constexpr uint32_t kDataAlignment = 8;

bool ResourceLess(const NewResource& a, const NewResource& b) {
  if (!(a.type == b.type)) return KeyLess(a.type, b.type);
  if (!(a.name == b.name)) return KeyLess(a.name, b.name);
  return a.language < b.language;
}

// Index ranges of the sorted resources: one per type, and within it one per name.
struct NameGroup {
  size_t first = 0, count = 0;
};
struct TypeGroup {
  std::vector<NameGroup> names;
};

void PutDirectoryHeader(std::vector<uint8_t>& out, uint32_t at, uint16_t named, uint16_t ids) {
  // Characteristics, time stamp and version stay zero: nothing reads them, and zeros keep the
  // output reproducible.
  Store16(&out[at + 12], named);
  Store16(&out[at + 14], ids);
}

}  // namespace

uint64_t AlignUp(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

bool BuildResourceSection(std::vector<NewResource> resources, uint32_t section_rva,
                          ResourceSection& section, std::string& error) {
  section = ResourceSection();
  std::stable_sort(resources.begin(), resources.end(), ResourceLess);
  std::vector<TypeGroup> types;
  for (size_t i = 0; i < resources.size(); ++i) {
    const NewResource& r = resources[i];
    if (r.size() > UINT32_MAX) {
      error = "resource " + KeyText(r.name) + " is larger than a resource can be (4 GiB)";
      return false;
    }
    const bool new_type = i == 0 || !(resources[i - 1].type == r.type);
    const bool new_name = new_type || !(resources[i - 1].name == r.name);
    if (!new_name && resources[i - 1].language == r.language) {
      error = "two resources of type " + KeyText(r.type) + " named " + KeyText(r.name) +
              " with language " + std::to_string(r.language);
      return false;
    }
    if (new_type) types.emplace_back();
    if (new_name) types.back().names.push_back({i, 0});
    ++types.back().names.back().count;
  }

  // Offsets of every part, in the order they are stored.
  uint64_t at = kDirectoryHeaderSize + kEntrySize * types.size();
  std::vector<uint64_t> name_dirs(types.size());
  std::vector<std::vector<uint64_t>> language_dirs(types.size());
  for (size_t t = 0; t < types.size(); ++t) {
    name_dirs[t] = at;
    at += kDirectoryHeaderSize + kEntrySize * types[t].names.size();
  }
  for (size_t t = 0; t < types.size(); ++t) {
    for (const NameGroup& n : types[t].names) {
      language_dirs[t].push_back(at);
      at += kDirectoryHeaderSize + kEntrySize * n.count;
    }
  }
  const uint64_t data_entries = at;
  at += kDataEntrySize * resources.size();
  std::map<std::u16string, uint64_t> strings;
  for (const NewResource& r : resources) {
    for (const ResourceKey* key : {&r.type, &r.name}) {
      if (key->named && strings.emplace(key->name(), at).second) at += 2 + 2 * key->name().size();
    }
  }
  std::vector<uint64_t> data_at(resources.size());
  for (size_t i = 0; i < resources.size(); ++i) {
    if (resources[i].file != nullptr) continue;
    at = AlignUp(at, kDataAlignment);
    data_at[i] = at;
    at += resources[i].size();
  }
  const uint64_t head_size = at;
  for (size_t i = 0; i < resources.size(); ++i) {
    if (resources[i].file == nullptr) continue;
    at = AlignUp(at, resources[i].page_aligned ? kPageSize : kDataAlignment);
    data_at[i] = at;
    at += resources[i].size();
  }
  section.size = at;
  if (section_rva + section.size > UINT32_MAX) {
    error = "the payload does not fit a PE image (4 GiB of address space)";
    return false;
  }

  std::vector<uint8_t>& out = section.head;
  out.assign(head_size, 0);
  auto name_field = [&](const ResourceKey& key) {
    return key.named ? kHighBit | static_cast<uint32_t>(strings.at(key.name())) : key.id;
  };
  auto count_named = [](auto begin, auto end, auto key_of) {
    uint16_t named = 0;
    for (auto it = begin; it != end; ++it) named += key_of(*it).named ? 1 : 0;
    return named;
  };

  const auto& first_of_type = [&](const TypeGroup& g) -> const NewResource& {
    return resources[g.names.front().first];
  };
  const uint16_t named_types = count_named(types.begin(), types.end(),
                                           [&](const TypeGroup& g) { return first_of_type(g).type; });
  PutDirectoryHeader(out, 0, named_types, static_cast<uint16_t>(types.size() - named_types));
  for (size_t t = 0; t < types.size(); ++t) {
    const uint32_t entry = kDirectoryHeaderSize + kEntrySize * t;
    Store32(&out[entry], name_field(first_of_type(types[t]).type));
    Store32(&out[entry + 4], kHighBit | static_cast<uint32_t>(name_dirs[t]));

    const std::vector<NameGroup>& names = types[t].names;
    const uint16_t named = count_named(names.begin(), names.end(),
                                       [&](const NameGroup& n) { return resources[n.first].name; });
    PutDirectoryHeader(out, name_dirs[t], named, static_cast<uint16_t>(names.size() - named));
    for (size_t n = 0; n < names.size(); ++n) {
      const uint64_t name_entry = name_dirs[t] + kDirectoryHeaderSize + kEntrySize * n;
      Store32(&out[name_entry], name_field(resources[names[n].first].name));
      Store32(&out[name_entry + 4], kHighBit | static_cast<uint32_t>(language_dirs[t][n]));

      PutDirectoryHeader(out, language_dirs[t][n], 0, static_cast<uint16_t>(names[n].count));
      for (size_t l = 0; l < names[n].count; ++l) {
        const size_t i = names[n].first + l;
        const uint64_t language_entry = language_dirs[t][n] + kDirectoryHeaderSize + kEntrySize * l;
        const uint64_t data_entry = data_entries + kDataEntrySize * i;
        Store32(&out[language_entry], resources[i].language);
        Store32(&out[language_entry + 4], static_cast<uint32_t>(data_entry));
        Store32(&out[data_entry], static_cast<uint32_t>(section_rva + data_at[i]));
        Store32(&out[data_entry + 4], static_cast<uint32_t>(resources[i].size()));
        Store32(&out[data_entry + 8], resources[i].codepage);
      }
    }
  }
  for (const auto& [name, offset] : strings) {
    Store16(&out[offset], static_cast<uint16_t>(name.size()));
    for (size_t c = 0; c < name.size(); ++c) Store16(&out[offset + 2 + 2 * c], name[c]);
  }
  for (size_t i = 0; i < resources.size(); ++i) {
    if (resources[i].file == nullptr) {
      std::copy(resources[i].bytes.begin(), resources[i].bytes.end(), out.begin() + data_at[i]);
    } else {
      section.blobs.push_back({data_at[i], resources[i].file});
    }
  }
  return true;
}
