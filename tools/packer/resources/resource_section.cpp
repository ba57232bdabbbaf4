#include "resources/resource_section.h"

#include <algorithm>
#include <map>

#include "pe/pe_format.h"

namespace {

// Resource data is DWORD-aligned by every resource compiler; version blocks rely on it.
constexpr uint32_t kDataAlignment = 8;

bool ResourceLess(const Resource& a, const Resource& b) {
  if (a.type != b.type) return KeyLess(a.type, b.type);
  if (a.name != b.name) return KeyLess(a.name, b.name);
  return a.language < b.language;
}

uint64_t DataSize(const Resource& r) { return r.file != nullptr ? r.file->size() : r.bytes.size(); }

// Index ranges of the sorted resources: one per type, and within it one per name.
struct NameGroup {
  size_t first = 0, count = 0;
};
struct TypeGroup {
  std::vector<NameGroup> names;
};

void PutTableHeader(std::vector<uint8_t>& out, uint64_t at, uint16_t named, uint16_t ids) {
  // Characteristics, time stamp and version stay zero: nothing reads them, and zeros keep the
  // output reproducible.
  Store16(&out[at + kResourceTableNamedEntries], named);
  Store16(&out[at + kResourceTableIdEntries], ids);
}

}  // namespace

bool BuildResourceSection(std::vector<Resource>& resources, uint32_t section_rva,
                          SectionContent& section, std::string& error) {
  section = SectionContent();
  std::stable_sort(resources.begin(), resources.end(), ResourceLess);
  std::vector<TypeGroup> types;
  for (size_t i = 0; i < resources.size(); ++i) {
    Resource& r = resources[i];
    if (DataSize(r) > UINT32_MAX) {
      error = "resource " + KeyText(r.name) + " is larger than a resource can be (4 GiB)";
      return false;
    }
    r.size = static_cast<uint32_t>(DataSize(r));
    const bool new_type = i == 0 || resources[i - 1].type != r.type;
    const bool new_name = new_type || resources[i - 1].name != r.name;
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
  uint64_t at = ResourceTableBytes(types.size());
  std::vector<uint64_t> name_tables(types.size());
  std::vector<std::vector<uint64_t>> language_tables(types.size());
  for (size_t t = 0; t < types.size(); ++t) {
    name_tables[t] = at;
    at += ResourceTableBytes(types[t].names.size());
  }
  for (size_t t = 0; t < types.size(); ++t) {
    for (const NameGroup& n : types[t].names) {
      language_tables[t].push_back(at);
      at += ResourceTableBytes(n.count);
    }
  }
  const uint64_t data_entries = at;
  at += kResourceDataEntrySize * resources.size();
  std::map<std::u16string, uint64_t> strings;
  for (const Resource& r : resources) {
    for (const ResourceKey* key : {&r.type, &r.name}) {
      if (key->named && strings.emplace(key->name(), at).second) {
        at += kResourceNameLengthSize + 2 * key->name().size();
      }
    }
  }
  std::vector<uint64_t> data_at(resources.size());
  for (size_t i = 0; i < resources.size(); ++i) {
    if (resources[i].file != nullptr) continue;
    at = AlignUp(at, kDataAlignment);
    data_at[i] = at;
    at += resources[i].size;
  }
  const uint64_t head_size = at;
  for (size_t i = 0; i < resources.size(); ++i) {
    if (resources[i].file == nullptr) continue;
    at = AlignUp(at, resources[i].page_aligned ? kPageSize : kDataAlignment);
    data_at[i] = at;
    at += resources[i].size;
  }
  section.size = at;
  if (section_rva + section.size > UINT32_MAX) {
    error = "the payload does not fit a PE image (4 GiB of address space)";
    return false;
  }

  std::vector<uint8_t>& out = section.head;
  out.assign(head_size, 0);
  auto name_field = [&](const ResourceKey& key) {
    return key.named ? kResourceHighBit | static_cast<uint32_t>(strings.at(key.name())) : key.id;
  };
  uint16_t named_types = 0;
  for (const TypeGroup& g : types) named_types += resources[g.names.front().first].type.named;
  PutTableHeader(out, 0, named_types, static_cast<uint16_t>(types.size() - named_types));
  uint32_t name_entry = 0;
  for (size_t t = 0; t < types.size(); ++t) {
    const uint64_t type_at = ResourceTableBytes(t);
    Store32(&out[type_at], name_field(resources[types[t].names.front().first].type));
    Store32(&out[type_at + 4], kResourceHighBit | static_cast<uint32_t>(name_tables[t]));

    const std::vector<NameGroup>& names = types[t].names;
    uint16_t named = 0;
    for (const NameGroup& n : names) named += resources[n.first].name.named;
    PutTableHeader(out, name_tables[t], named, static_cast<uint16_t>(names.size() - named));
    for (size_t n = 0; n < names.size(); ++n, ++name_entry) {
      const uint64_t name_at = name_tables[t] + ResourceTableBytes(n);
      Store32(&out[name_at], name_field(resources[names[n].first].name));
      Store32(&out[name_at + 4], kResourceHighBit | static_cast<uint32_t>(language_tables[t][n]));

      PutTableHeader(out, language_tables[t][n], 0, static_cast<uint16_t>(names[n].count));
      for (size_t l = 0; l < names[n].count; ++l) {
        const size_t i = names[n].first + l;
        Resource& r = resources[i];
        const uint64_t language_at = language_tables[t][n] + ResourceTableBytes(l);
        const uint64_t entry_at = data_entries + kResourceDataEntrySize * i;
        r.data_rva = static_cast<uint32_t>(section_rva + data_at[i]);
        r.mapped = true;
        r.type_entry = static_cast<uint32_t>(t);
        r.name_entry = name_entry;
        Store32(&out[language_at], r.language);
        Store32(&out[language_at + 4], static_cast<uint32_t>(entry_at));
        Store32(&out[entry_at + kResourceDataRva], r.data_rva);
        Store32(&out[entry_at + kResourceDataSize], r.size);
        Store32(&out[entry_at + kResourceDataCodepage], r.codepage);
      }
    }
  }
  for (const auto& [name, offset] : strings) {
    Store16(&out[offset], static_cast<uint16_t>(name.size()));
    for (size_t c = 0; c < name.size(); ++c) {
      Store16(&out[offset + kResourceNameLengthSize + 2 * c], name[c]);
    }
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
