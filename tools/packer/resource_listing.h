// Reading an image's resource directory: every resource as (type, name, language) with where its
// data lies, in the order the directory stores them, which is the order in which Windows
// enumerates them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file_io.h"
#include "pe_image.h"

// A resource type, name or language: an integer identifier or a UTF-16 string.
struct ResourceKey {
  bool named = false;
  uint16_t id = 0;
  std::u16string name;

  static ResourceKey Id(uint16_t id) { return {false, id, {}}; }
  static ResourceKey Name(std::u16string name) { return {true, 0, std::move(name)}; }
  bool operator==(const ResourceKey& other) const {
    return named == other.named && id == other.id && name == other.name;
  }
};

// The order a resource directory keeps its entries in, which the loader's binary search relies
// on: string names first, by UTF-16 code unit, then identifiers, ascending.
bool KeyLess(const ResourceKey& a, const ResourceKey& b);

struct ListedResource {
  ResourceKey type;
  ResourceKey name;
  uint16_t language = 0;
  uint32_t data_rva = 0;
  uint32_t size = 0;
  uint32_t codepage = 0;
  bool mapped = false;  // the data lies within the file's section data
  uint64_t file_offset = 0;
};

bool ReadResourceListing(const PeImage& image, const InputFile& file,
                         std::vector<ListedResource>& resources, std::string& error);

// Printable forms: "B7", "#24" for an identifier; names as UTF-8.
std::string KeyText(const ResourceKey& key);
std::string Utf16ToUtf8(const std::u16string& text);
