// Whether an image's resource directory is one that every reader finds the same resources in:
// the stub, which walks its own mapped image through EnumResourceNamesW and FindResourceW (whose
// lookups are binary searches that trust the directory's order and counts), and the packer,
// which reads the same directory from the file. Where a directory breaks the rules below, the
// loader's answer depends on how its search happens to step through the entries (a name found by
// the enumeration but not by the lookup, a type seen twice), on its upper-casing tables (a
// name with a lower-case or non-ASCII letter is never found, since the lookup upper-cases the
// name it looks for) or on reading memory beyond the image (a data entry outside it crashes the
// first reader). The stub runs this before it reads any resource and ends the run with
// EXIT_ARCHIVE_UNPACK_FAILED and ERROR_INVALID_DATA on a fault; check runs the same code.
//
// The rules:
//   - the directory's bytes (its data directory entry) lie within the file's bytes of one section
//     as the loader maps it, and every table, entry, name and data entry lies within them;
//   - the tables of each level (the types' name tables, the names' language tables) follow one
//     another in the order of the walk, none overlapping the one before it: so no table is shared
//     and the walk reads each table once. Resource compilers lay tables out breadth first or depth
//     first, and both keep this order;
//   - each table's first NumberOfNamedEntries entries are names, the rest identifiers, names
//     before identifiers, each kind in strictly ascending order (so no duplicates);
//   - a name is 1 or more units, none of them zero, a lower-case ASCII letter or beyond ASCII,
//     and does not begin with '#' (which FindResourceW reads as a number);
//   - a type and a name lead to a table, a language (an identifier) to a data entry; no language
//     table is empty;
//   - every data entry's bytes lie within SizeOfImage and within the memory of one section.
//
// Header-only and free of allocation, for the stub without a C runtime. The bytes come through a
// source of the caller's: memory in the stub, the file in the packer.
#pragma once

#include <stdint.h>

#include "lumora/payload_rules.h"

enum class ResourceFault : uint8_t {
  kNone,
  kDirectoryUnmapped,  // the directory's bytes are not all file bytes of one mapped section
  kOutside,            // a table, entry, name or data entry reaches beyond the directory's bytes
  kOverclaimed,        // its names, read once per entry, add up to more than its bytes
  kUnread,             // the source could not read the bytes (the packer's file)
  kTableOrder,         // a table shared, overlapping another of its level, or out of order
  kCounts,             // a name among the identifiers, or an identifier among the names
  kOrder,              // entries out of order, or the same key twice
  kName,               // a name that the loader's lookup does not find as it is stored
  kLevel,              // data where a table belongs, a table where data belongs, a named language
  kNoLanguage,         // a name without a language
  kDataOutside,        // a data entry outside the image or outside one section's memory
};

struct ResourceCheck {
  ResourceFault fault = ResourceFault::kNone;
  // Where in the directory (bytes from its start) the fault lies.
  uint32_t offset = 0;
};

// What the validator needs of the image's headers, the same whether read from memory or a file.
struct ResourceImage {
  const ImageSection* sections = nullptr;
  uint32_t section_count = 0;
  uint32_t size_of_image = 0;
  uint32_t directory_rva = 0;
  uint32_t directory_size = 0;
};

// The most sections the Windows loader maps; the stub copies the section table onto its stack.
inline constexpr uint32_t kMostImageSections = 96;

namespace resource_directory {

inline constexpr uint32_t kTableHeader = 16;
inline constexpr uint32_t kNamedCountAt = 12;
inline constexpr uint32_t kIdCountAt = 14;
inline constexpr uint32_t kEntry = 8;
inline constexpr uint32_t kDataEntry = 16;
inline constexpr uint32_t kHighBit = 0x80000000u;

// A section's memory once mapped: its virtual size (its file size when that is 0) up to a page.
constexpr uint64_t SectionMemory(const ImageSection& s) {
  return RoundUpToPage(s.virtual_size != 0 ? s.virtual_size : s.raw_size);
}

// Whether [rva, rva + size) lies within one section: in its file bytes, or in all its memory.
constexpr bool WithinOneSection(const ResourceImage& image, uint64_t rva, uint64_t size,
                                bool file_bytes) {
  if (rva + size > image.size_of_image) return false;
  for (uint32_t i = 0; i < image.section_count; ++i) {
    const ImageSection& s = image.sections[i];
    const uint64_t memory = SectionMemory(s);
    const uint64_t end = s.virtual_address + (file_bytes && s.raw_size < memory ? s.raw_size
                                                                                : memory);
    if (rva >= s.virtual_address && rva + size <= end) return true;
  }
  return false;
}

template <typename Source>
class Walk {
 public:
  Walk(const ResourceImage& image, const Source& source)
      : image_(image), source_(source), name_budget_(image.directory_size) {}

  ResourceCheck Run() {
    uint16_t named = 0, ids = 0;
    if (!Table(0, false, named, ids)) return result_;
    const uint32_t types = named + ids;
    // Where the next table of each level may start: after the one before it of its level.
    uint32_t next_names = kTableHeader + kEntry * types;
    uint32_t next_languages = next_names;
    for (uint32_t t = 0; t < types; ++t) {
      uint32_t names_table = 0;
      uint16_t n = 0, i = 0;
      if (!Child(kEntry * t, names_table) || !Follows(names_table, next_names) ||
          !Table(names_table, false, n, i)) {
        return result_;
      }
      next_names = names_table + kTableHeader + kEntry * (n + i);
      for (uint32_t k = 0; k < uint32_t{n} + i; ++k) {
        uint32_t table = 0;
        uint16_t ln = 0, li = 0;
        if (!Child(names_table + kEntry * k, table) || !Follows(table, next_languages) ||
            !Table(table, true, ln, li)) {
          return result_;
        }
        next_languages = table + kTableHeader + kEntry * (ln + li);
      }
    }
    return result_;
  }

 private:
  bool Fail(ResourceFault fault, uint32_t offset) {
    result_.fault = fault;
    result_.offset = offset;
    return false;
  }

  bool Read(uint32_t offset, uint32_t size, uint8_t* out) {
    if (uint64_t{offset} + size > image_.directory_size) return Fail(ResourceFault::kOutside, offset);
    if (!source_.Read(offset, out, size)) return Fail(ResourceFault::kUnread, offset);
    return true;
  }
  bool Read16(uint32_t offset, uint16_t& value) {
    uint8_t b[2];
    if (!Read(offset, 2, b)) return false;
    value = static_cast<uint16_t>(b[0] | b[1] << 8);
    return true;
  }
  bool Read32(uint32_t offset, uint32_t& value) {
    uint8_t b[4];
    if (!Read(offset, 4, b)) return false;
    value = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
    return true;
  }

  bool Counts(uint32_t table, uint16_t& named, uint16_t& ids) {
    return Read16(table + kNamedCountAt, named) && Read16(table + kIdCountAt, ids);
  }

  // The table that the entry at offset leads to.
  bool Child(uint32_t entry_of_table, uint32_t& table) {
    uint32_t field = 0;
    if (!Read32(kTableHeader + entry_of_table + 4, field)) return false;
    table = field & ~kHighBit;
    return true;
  }

  bool Follows(uint32_t table, uint32_t next) {
    return table >= next || Fail(ResourceFault::kTableOrder, table);
  }

  // A name at offset: its units checked, its length returned. Entries may share a name, but the
  // names read add up to no more than the directory's bytes, so that entries pointing at one long
  // name cannot make the walk read it a million times.
  bool Name(uint32_t offset, uint16_t& length) {
    if (!Read16(offset, length)) return false;
    if (length == 0) return Fail(ResourceFault::kName, offset);
    const uint32_t cost = 2 + 2u * length;
    if (cost > name_budget_) return Fail(ResourceFault::kOverclaimed, offset);
    name_budget_ -= cost;
    for (uint32_t i = 0; i < length; ++i) {
      uint16_t unit = 0;
      if (!Read16(offset + 2 + 2 * i, unit)) return false;
      const bool refused = unit == 0 || (unit >= 'a' && unit <= 'z') || unit >= 0x80 ||
                           (i == 0 && unit == '#');
      if (refused) return Fail(ResourceFault::kName, offset);
    }
    return true;
  }

  // Whether name a sorts strictly before name b: by unit, a prefix first.
  bool NameBefore(uint32_t a, uint16_t a_length, uint32_t b, uint16_t b_length, bool& before) {
    for (uint32_t i = 0; i < a_length && i < b_length; ++i) {
      uint16_t ua = 0, ub = 0;
      if (!Read16(a + 2 + 2 * i, ua) || !Read16(b + 2 + 2 * i, ub)) return false;
      if (ua != ub) {
        before = ua < ub;
        return true;
      }
    }
    before = a_length < b_length;
    return true;
  }

  // One table: its entries' kinds, order and targets. languages: a table of the third level.
  bool Table(uint32_t table, bool languages, uint16_t& named, uint16_t& ids) {
    if (!Counts(table, named, ids)) return false;
    const uint32_t count = uint32_t{named} + ids;
    if (uint64_t{table} + kTableHeader + uint64_t{kEntry} * count > image_.directory_size) {
      return Fail(ResourceFault::kOutside, table);
    }
    if (languages && count == 0) return Fail(ResourceFault::kNoLanguage, table);
    if (languages && named != 0) return Fail(ResourceFault::kLevel, table);
    uint32_t previous_name = 0;
    uint16_t previous_length = 0;
    uint32_t previous_id = 0;
    for (uint32_t k = 0; k < count; ++k) {
      const uint32_t entry = table + kTableHeader + kEntry * k;
      uint32_t key = 0, target = 0;
      if (!Read32(entry, key) || !Read32(entry + 4, target)) return false;
      const bool is_name = (key & kHighBit) != 0;
      if (is_name != (k < named)) return Fail(ResourceFault::kCounts, entry);
      if (is_name) {
        const uint32_t at = key & ~kHighBit;
        uint16_t length = 0;
        if (!Name(at, length)) return false;
        bool before = true;
        if (k > 0 && !NameBefore(previous_name, previous_length, at, length, before)) return false;
        if (!before) return Fail(ResourceFault::kOrder, entry);
        previous_name = at;
        previous_length = length;
      } else {
        if (key > 0xFFFF) return Fail(ResourceFault::kCounts, entry);
        if (k > named && key <= previous_id) return Fail(ResourceFault::kOrder, entry);
        previous_id = key;
      }
      const bool to_table = (target & kHighBit) != 0;
      if (to_table == languages) return Fail(ResourceFault::kLevel, entry);
      if (languages && !Data(target)) return false;
    }
    return true;
  }

  bool Data(uint32_t entry) {
    uint32_t rva = 0, size = 0;
    if (uint64_t{entry} + kDataEntry > image_.directory_size) {
      return Fail(ResourceFault::kOutside, entry);
    }
    if (!Read32(entry, rva) || !Read32(entry + 4, size)) return false;
    if (!WithinOneSection(image_, rva, size, false)) return Fail(ResourceFault::kDataOutside, entry);
    return true;
  }

  const ResourceImage& image_;
  const Source& source_;
  uint32_t name_budget_;
  ResourceCheck result_;
};

}  // namespace resource_directory

// Whether the directory's bytes are all file bytes of one section, so that the stub's memory and
// the packer's file hold the same bytes there. An image without a directory (RVA 0) passes: it
// has no resources for anyone to disagree on.
constexpr bool ResourceDirectoryMapped(const ResourceImage& image) {
  return image.directory_rva == 0 ||
         (image.section_count <= kMostImageSections &&
          image.directory_size >= resource_directory::kTableHeader &&
          resource_directory::WithinOneSection(image, image.directory_rva, image.directory_size,
                                               true));
}

// Source: bool Read(uint32_t offset, uint8_t* out, uint32_t size) const, reading the directory's
// bytes from offset on; it is called only within the directory's size.
template <typename Source>
ResourceCheck CheckResourceDirectory(const ResourceImage& image, const Source& source) {
  if (image.directory_rva == 0) return {};
  if (!ResourceDirectoryMapped(image)) return {ResourceFault::kDirectoryUnmapped, 0};
  return resource_directory::Walk<Source>(image, source).Run();
}
