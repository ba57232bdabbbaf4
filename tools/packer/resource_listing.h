// Reading an image's resource directory: every resource as (type, name, language) with where its
// data lies, in the order the directory stores them, which is the order in which Windows
// enumerates them. The directory comes from files nobody vouches for, so the walk is bounded by
// the bytes it reads: no table is read twice, and a directory that claims more tables, entries
// and names than its bytes can hold is refused before the work is done.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "file_io.h"
#include "pe_image.h"

// A resource type, name or language: an integer identifier or a UTF-16 string. The string is
// shared, not copied: a directory may point many entries at one long name, and each copy would
// cost the whole name again.
struct ResourceKey {
  bool named = false;
  uint16_t id = 0;
  std::shared_ptr<const std::u16string> text;

  static ResourceKey Id(uint16_t id) { return {false, id, nullptr}; }
  static ResourceKey Name(std::u16string name) {
    return {true, 0, std::make_shared<const std::u16string>(std::move(name))};
  }
  // The string name; empty for an identifier.
  const std::u16string& name() const;
  bool operator==(const ResourceKey& other) const;
};

// The order a resource directory keeps its entries in, which the loader's binary search relies
// on: string names first, by UTF-16 code unit, then identifiers, ascending.
bool KeyLess(const ResourceKey& a, const ResourceKey& b);

struct ListedResource {
  ResourceKey type;
  ResourceKey name;
  uint16_t language = 0;
  // Which type entry and which name entry of the directory this resource hangs under, counted
  // from 0 in walking order: languages of one name share name_entry. Readers group by these
  // instead of comparing names, which may be long.
  uint32_t type_entry = 0;
  uint32_t name_entry = 0;
  uint32_t data_rva = 0;
  uint32_t size = 0;
  uint32_t codepage = 0;
  bool mapped = false;  // the data lies within the file's section data
  uint64_t file_offset = 0;
};

bool ReadResourceListing(const PeImage& image, const InputFile& file,
                         std::vector<ListedResource>& resources, std::string& error);

// Printable forms: "B7", "#24" for an identifier; names as UTF-8, a name too long to be a
// payload name shortened with its length shown.
std::string KeyText(const ResourceKey& key);
std::string NameText(const std::u16string& name);
std::string Utf16ToUtf8(const std::u16string& text);
