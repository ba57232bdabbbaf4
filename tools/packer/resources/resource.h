// One description of a resource, for the directory read from an image and for the directory the
// packer writes: its type, name and language, its code page and size, where its data lies, and
// for a resource being written, where the data comes from.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lumora/payload_rules.h"

class InputFile;

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
  static ResourceKey Name(const char* ascii);
  // The string name; empty for an identifier.
  const std::u16string& name() const;
  bool operator==(const ResourceKey& other) const;
  bool operator!=(const ResourceKey& other) const { return !(*this == other); }
};

// The order a resource directory keeps its entries in, which the loader's binary search relies
// on: string names first, by UTF-16 code unit, then identifiers, ascending.
bool KeyLess(const ResourceKey& a, const ResourceKey& b);

struct Resource {
  ResourceKey type;
  ResourceKey name;
  uint16_t language = 0;
  uint32_t codepage = 0;
  uint32_t size = 0;

  // Where the data lies in the image: its RVA, and when it lies within the file's section data
  // (mapped), its file offset; and what the image's own code finds at the RVA once the loader has
  // mapped the image (loaded): the file's bytes, or bytes beyond a section's virtual size.
  uint32_t data_rva = 0;
  bool mapped = false;
  uint64_t file_offset = 0;
  MappedBytes loaded = MappedBytes::kFromFile;

  // Which type entry and which name entry of the directory the resource hangs under, counted
  // from 0 in directory order: languages of one name share name_entry. Readers group by these
  // instead of comparing names, which may be long.
  uint32_t type_entry = 0;
  uint32_t name_entry = 0;

  // For a resource being written: its data held in memory, or streamed whole from a file, and
  // whether it starts a page of its own.
  std::vector<uint8_t> bytes;
  const InputFile* file = nullptr;
  bool page_aligned = false;
};

// A resource the packer writes: data in memory, or (with file) streamed from a file on its own
// page. The size is checked when the section is laid out.
Resource MemoryResource(ResourceKey type, ResourceKey name, uint16_t language,
                        std::vector<uint8_t> bytes);
Resource StreamedResource(ResourceKey type, ResourceKey name, uint16_t language,
                          const InputFile& file);

// English (United States): the language resource compilers give resources unless told
// otherwise, and the one the packer writes its own resources in.
constexpr uint16_t kEnglishUsLanguage = 1033;

// The standard resource types of the application's face.
constexpr uint16_t kRtIcon = 3;
constexpr uint16_t kRtGroupIcon = 14;
constexpr uint16_t kRtVersion = 16;
constexpr uint16_t kRtManifest = 24;

bool HasId(const ResourceKey& key, uint16_t id);
// A string name as Windows hands it to a program, a terminated string: cut at its first zero unit.
std::u16string TerminatedName(const ResourceKey& key);

// Printable forms: "B7", "#24" for an identifier; names as UTF-8, a name too long to be a
// payload name shortened with its length shown. These are the names as they are, for JSON.
std::string KeyText(const ResourceKey& key);
std::string NameText(const std::u16string& name);
// The same for people, with whatever a terminal would act on escaped (escaped_text.h): as a
// report lists them, and in double quotes within a sentence; "#24" for an identifier.
std::string ShownKey(const ResourceKey& key);
std::string ShownName(const std::u16string& name);
std::string QuotedName(const std::u16string& name);
