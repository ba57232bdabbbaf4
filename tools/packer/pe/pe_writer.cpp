#include "pe/pe_writer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "pe/pe_checksum.h"

namespace {

// A debug directory of more entries than this is not something a linker makes; refusing it
// bounds what is read.
constexpr uint32_t kMaxDebugEntries = 64;

// Writes everything in order, feeding the checksum as it goes.
struct ChecksummedWriter {
  ChecksummedWriter(StagedFile& file, Progress* watcher, uint64_t size)
      : out(file), progress(watcher), total(size) {}
  StagedFile& out;
  Progress* progress;
  uint64_t total;
  PeChecksum checksum;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kCopyChunk);

  bool Put(const uint8_t* data, size_t size, std::string& error) {
    checksum.Add(data, size);
    if (!out.Write(data, size, error)) return false;
    if (progress != nullptr) progress->Advance(checksum.length(), total);
    return true;
  }
  bool PadTo(uint64_t offset, std::string& error) {
    std::fill(buffer.begin(), buffer.end(), 0);
    for (uint64_t count = offset - checksum.length(); count > 0;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(count, buffer.size()));
      if (!Put(buffer.data(), n, error)) return false;
      count -= n;
    }
    return true;
  }
  // Copies size bytes of file from offset from, with the fixups that fall into them applied.
  bool Copy(const InputFile& file, uint64_t from, uint64_t size,
            const std::vector<OffsetFixup>& fixups, std::string& error) {
    while (size > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(size, buffer.size()));
      if (!file.ReadAt(from, buffer.data(), n, error)) return false;
      for (const OffsetFixup& f : fixups) {
        uint8_t value[4];
        Store32(value, f.value);
        for (uint64_t i = 0; i < 4; ++i) {
          if (f.stub_offset + i >= from && f.stub_offset + i < from + n) {
            buffer[f.stub_offset + i - from] = value[i];
          }
        }
      }
      if (!Put(buffer.data(), n, error)) return false;
      from += n;
      size -= n;
    }
    return true;
  }
};

// Where size bytes at rva lie in the installer's file, when they lie within one of the stub's
// sections' raw data; and where they lie in the stub's.
bool PackedOffset(const PeImage& stub, const PackedLayout& layout, uint32_t rva, uint64_t size,
                  uint64_t& packed, uint64_t& original) {
  for (size_t i = 0; i < stub.sections.size(); ++i) {
    const PeSection& s = stub.sections[i];
    if (layout.raw_sizes[i] != 0 && rva >= s.virtual_address &&
        uint64_t{rva - s.virtual_address} + size <= s.raw_size) {
      packed = uint64_t{layout.raw_offsets[i]} + (rva - s.virtual_address);
      original = uint64_t{s.raw_offset} + (rva - s.virtual_address);
      return true;
    }
  }
  return false;
}

// The debug directory's entries point at their data by address and by file offset; the offsets
// move with the sections. Data outside the sections would be left out with the overlay.
bool PlanDebugFixups(const PeImage& stub, const InputFile& stub_file, PackedLayout& layout,
                     std::string& error) {
  uint32_t rva = 0, size = 0;
  stub.Directory(kDirectoryDebug, rva, size);
  if (rva == 0 && size == 0) return true;
  const uint32_t count = size / kDebugEntrySize;
  uint64_t packed = 0, original = 0;
  if (size % kDebugEntrySize != 0 || count > kMaxDebugEntries ||
      !PackedOffset(stub, layout, rva, size, packed, original)) {
    error = "the stub's debug directory (" + std::to_string(size) +
            " bytes) is not a table of entries within its sections";
    return false;
  }
  std::vector<uint8_t> entries(size);
  if (size != 0 && !stub_file.ReadAt(original, entries.data(), size, error)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = &entries[i * kDebugEntrySize];
    const uint32_t data_size = Load32(entry + kDebugSizeOfData);
    const uint32_t data_rva = Load32(entry + kDebugAddressOfRawData);
    const uint32_t data_offset = Load32(entry + kDebugPointerToRawData);
    if (data_offset == 0) continue;
    uint64_t data_packed = 0, data_original = 0;
    if (data_rva == 0 || !PackedOffset(stub, layout, data_rva, data_size, data_packed, data_original) ||
        data_original != data_offset) {
      error = "the stub's debug data lies outside its sections, where packing leaves it out; "
              "link the stub stripped (-s)";
      return false;
    }
    layout.fixups.push_back(
        {original + i * kDebugEntrySize + kDebugPointerToRawData, static_cast<uint32_t>(data_packed)});
  }
  return true;
}

// The stub's resource section is emptied when it holds nothing but what the new directory
// replaces: no code, nothing written at run time, and no other data directory (imports,
// relocations, the load configuration, ...) pointing into it.
bool PlanEmptiedSection(const PeImage& stub, PackedLayout& layout, std::string& error) {
  layout.emptied = stub.sections.size();
  uint32_t rva = 0, size = 0;
  stub.Directory(kDirectoryResource, rva, size);
  const PeSection* section = rva != 0 ? stub.SectionAt(rva) : nullptr;
  if (section == nullptr) return true;
  const uint64_t start = section->virtual_address;
  const uint64_t end = start + std::max(section->virtual_size, section->raw_size);
  bool shared = (section->characteristics &
                 (kSectionCode | kSectionMemoryExecute | kSectionMemoryWrite)) != 0;
  for (uint32_t d = 0; d < stub.number_of_directories && !shared; ++d) {
    uint32_t other = 0, other_size = 0;
    stub.Directory(d, other, other_size);
    // The certificate table's "address" is a file offset; a signed stub is refused anyway.
    if (d == kDirectoryResource || d == kDirectorySecurity || other == 0) continue;
    shared = other >= start && other < end;
  }
  if (shared) {
    error = std::string("the stub keeps other data in its resource section ") + section->name +
            "; link it with its resources in a section of their own";
    return false;
  }
  layout.emptied = static_cast<size_t>(section - stub.sections.data());
  return true;
}

}  // namespace

bool PlanPackedLayout(const PeImage& stub, const InputFile& stub_file, PackedLayout& layout,
                      std::string& error) {
  layout = PackedLayout();
  // Below a page, sections are laid out at their file offsets and could not be page-aligned.
  if (stub.section_alignment < kPageSize) {
    error = "the stub's section alignment is below 4096; link it with the default alignment";
    return false;
  }
  if (stub.number_of_directories <= kDirectoryResource) {
    error = "the stub's headers have no resource directory entry";
    return false;
  }
  // The headers grow to whole pages and take one more section header, below the first section.
  const uint64_t table_end =
      stub.section_table_offset + uint64_t{stub.sections.size() + 1} * kSectionHeaderSize;
  layout.size_of_headers =
      static_cast<uint32_t>(AlignUp(std::max<uint64_t>(table_end, stub.size_of_headers), kPageSize));
  if (!stub.sections.empty() && layout.size_of_headers > stub.sections.front().virtual_address) {
    error = "the stub's headers have no room for one more section header";
    return false;
  }
  const uint64_t slot = table_end - kSectionHeaderSize;
  for (uint64_t i = slot; i < std::min<uint64_t>(table_end, stub.size_of_headers); ++i) {
    if (stub.headers[i] != 0) {
      error = "the stub keeps data right after its section table";
      return false;
    }
  }

  if (!PlanEmptiedSection(stub, layout, error)) return false;
  uint64_t at = layout.size_of_headers;
  uint64_t end = stub.size_of_image;
  for (size_t i = 0; i < stub.sections.size(); ++i) {
    const PeSection& s = stub.sections[i];
    const uint64_t raw_size = i == layout.emptied ? 0 : AlignUp(s.raw_size, kPageSize);
    // Each section's bytes lie in the file where they lie in memory: Wine maps such an image
    // straight from the file, where any other layout makes it read every page into memory of its
    // own (the archive of a large installer twice over, in page faults and CPU).
    if (raw_size != 0) at = std::max<uint64_t>(at, s.virtual_address);
    layout.raw_offsets.push_back(raw_size == 0 ? 0 : static_cast<uint32_t>(at));
    layout.raw_sizes.push_back(static_cast<uint32_t>(raw_size));
    at += raw_size;
    const uint32_t extent = s.virtual_size != 0 ? s.virtual_size : s.raw_size;
    end = std::max<uint64_t>(end, uint64_t{s.virtual_address} + extent);
  }
  end = AlignUp(end, stub.section_alignment);
  if (end > UINT32_MAX || at > UINT32_MAX) {
    error = "the stub leaves no address space for a payload";
    return false;
  }
  layout.payload_rva = static_cast<uint32_t>(end);
  // The payload likewise, after the zeros that stand for the emptied section and for memory that
  // sections reserve beyond their bytes.
  layout.payload_offset = std::max<uint64_t>(at, end);
  return PlanDebugFixups(stub, stub_file, layout, error);
}

bool WritePackedImage(const PeImage& stub, const InputFile& stub_file, const PackedLayout& layout,
                      const SectionContent& resources, StagedFile& out, Progress* progress,
                      std::string& error) {
  const uint64_t raw_size = AlignUp(resources.size, kPageSize);
  const uint64_t image_end =
      AlignUp(uint64_t{layout.payload_rva} + resources.size, stub.section_alignment);
  if (layout.payload_offset + raw_size > UINT32_MAX || image_end > UINT32_MAX) {
    error = "the installer would exceed the 4 GiB a PE image can describe";
    return false;
  }

  std::vector<uint8_t> headers = stub.headers;
  headers.resize(layout.size_of_headers, 0);
  uint8_t* file_header = headers.data() + stub.file_header_offset;
  uint8_t* optional = headers.data() + stub.optional_offset;
  Store16(file_header + kFileNumberOfSections, static_cast<uint16_t>(stub.sections.size() + 1));
  // A COFF symbol table follows the sections, with the overlay that is left out.
  Store32(file_header + kFilePointerToSymbolTable, 0);
  Store32(file_header + kFileNumberOfSymbols, 0);
  uint32_t code_size = Load32(optional + kOptionalSizeOfCode);
  uint32_t data_size = Load32(optional + kOptionalSizeOfInitializedData);
  uint32_t uninitialized_size = Load32(optional + kOptionalSizeOfUninitializedData);
  for (size_t i = 0; i < stub.sections.size(); ++i) {
    const PeSection& s = stub.sections[i];
    uint8_t* header = headers.data() + stub.section_table_offset + i * kSectionHeaderSize;
    Store32(header + kSectionPointerToRawData, layout.raw_offsets[i]);
    Store32(header + kSectionSizeOfRawData, layout.raw_sizes[i]);
    if (i == layout.emptied) {
      // Zero-filled memory from now on, as uninitialized data is; its extent stays.
      const uint32_t extent = std::max(s.virtual_size, s.raw_size);
      std::memset(header + kSectionName, 0, kSectionNameSize);
      std::memcpy(header + kSectionName, kEmptiedSectionName,
                  std::min<size_t>(kSectionNameSize, sizeof(kEmptiedSectionName) - 1));
      Store32(header + kSectionVirtualSize, extent);
      Store32(header + kSectionCharacteristics, kSectionUninitializedData | kSectionMemoryRead);
      if ((s.characteristics & kSectionInitializedData) != 0) data_size -= s.raw_size;
      uninitialized_size += extent;
      continue;
    }
    // The header's sizes are the sums of the raw sizes of code and of initialized data.
    const uint32_t grown = layout.raw_sizes[i] - s.raw_size;
    if ((s.characteristics & kSectionCode) != 0) {
      code_size += grown;
    } else if ((s.characteristics & kSectionInitializedData) != 0) {
      data_size += grown;
    }
  }
  Store32(optional + kOptionalSizeOfCode, code_size);
  Store32(optional + kOptionalSizeOfInitializedData, data_size + static_cast<uint32_t>(raw_size));
  Store32(optional + kOptionalSizeOfUninitializedData, uninitialized_size);
  Store32(optional + kOptionalFileAlignment, kPageSize);
  Store32(optional + kOptionalSizeOfHeaders, layout.size_of_headers);
  Store32(optional + kOptionalSizeOfImage, static_cast<uint32_t>(image_end));
  Store32(optional + kOptionalCheckSum, 0);
  uint8_t* resource_entry =
      headers.data() + stub.data_directory_offset + kDirectoryEntrySize * kDirectoryResource;
  Store32(resource_entry, layout.payload_rva);
  Store32(resource_entry + 4, static_cast<uint32_t>(resources.size));
  uint8_t* section =
      headers.data() + stub.section_table_offset + stub.sections.size() * kSectionHeaderSize;
  std::memcpy(section + kSectionName, kPayloadSectionName,
              std::min<size_t>(kSectionNameSize, sizeof(kPayloadSectionName) - 1));
  Store32(section + kSectionVirtualSize, static_cast<uint32_t>(resources.size));
  Store32(section + kSectionVirtualAddress, layout.payload_rva);
  Store32(section + kSectionSizeOfRawData, static_cast<uint32_t>(raw_size));
  Store32(section + kSectionPointerToRawData, static_cast<uint32_t>(layout.payload_offset));
  Store32(section + kSectionCharacteristics, kSectionInitializedData | kSectionMemoryRead);

  ChecksummedWriter writer(out, progress, layout.payload_offset + raw_size);
  if (!writer.Put(headers.data(), headers.size(), error)) return false;
  for (size_t i = 0; i < stub.sections.size(); ++i) {
    const PeSection& s = stub.sections[i];
    if (layout.raw_sizes[i] == 0) continue;
    if (!writer.PadTo(layout.raw_offsets[i], error) ||
        !writer.Copy(stub_file, s.raw_offset, s.raw_size, layout.fixups, error) ||
        !writer.PadTo(uint64_t{layout.raw_offsets[i]} + layout.raw_sizes[i], error)) {
      return false;
    }
  }
  if (!writer.PadTo(layout.payload_offset, error) ||
      !writer.Put(resources.head.data(), resources.head.size(), error)) {
    return false;
  }
  for (const StreamedBlob& blob : resources.blobs) {
    if (!writer.PadTo(layout.payload_offset + blob.offset, error) ||
        !writer.Copy(*blob.file, 0, blob.file->size(), {}, error)) {
      return false;
    }
  }
  if (!writer.PadTo(layout.payload_offset + raw_size, error)) return false;
  uint8_t checksum[4];
  Store32(checksum, writer.checksum.Finish());
  return out.WriteAt(stub.ChecksumOffset(), checksum, 4, error);
}
