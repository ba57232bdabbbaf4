#include "pe_writer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "pe_checksum.h"

namespace {

// Large enough to run at disk speed, small enough that packing never holds much of a payload.
constexpr size_t kCopyChunk = 4 << 20;

// Writes everything in order, feeding the checksum as it goes.
struct ChecksummedWriter {
  explicit ChecksummedWriter(StagedFile& file) : out(file) {}
  StagedFile& out;
  PeChecksum checksum;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kCopyChunk);

  bool Put(const uint8_t* data, size_t size, std::string& error) {
    checksum.Add(data, size);
    return out.Write(data, size, error);
  }
  bool Zeros(uint64_t count, std::string& error) {
    std::fill(buffer.begin(), buffer.end(), 0);
    while (count > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(count, buffer.size()));
      if (!Put(buffer.data(), n, error)) return false;
      count -= n;
    }
    return true;
  }
  bool PadTo(uint64_t offset, std::string& error) {
    return Zeros(offset - checksum.length(), error);
  }
  bool Copy(const InputFile& file, uint64_t from, uint64_t size, std::string& error) {
    while (size > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(size, buffer.size()));
      if (!file.ReadAt(from, buffer.data(), n, error) || !Put(buffer.data(), n, error)) {
        return false;
      }
      from += n;
      size -= n;
    }
    return true;
  }
};

}  // namespace

bool PlanPayloadSection(const PeImage& stub, uint32_t& section_rva, std::string& error) {
  // Below a page, sections are laid out at their file offsets and could not be page-aligned.
  if (stub.section_alignment < kPageSize) {
    error = "the stub's section alignment is below 4096; link it with the default alignment";
    return false;
  }
  const uint64_t table_end =
      stub.section_table_offset + uint64_t{stub.sections.size() + 1} * kSectionHeaderSize;
  if (table_end > stub.FirstRawOffset()) {
    error = "the stub's headers have no room for one more section header";
    return false;
  }
  const uint8_t* slot = stub.headers.data() + table_end - kSectionHeaderSize;
  if (std::any_of(slot, slot + kSectionHeaderSize, [](uint8_t b) { return b != 0; })) {
    error = "the stub keeps data right after its section table";
    return false;
  }
  uint64_t end = stub.size_of_image;
  for (const PeSection& s : stub.sections) {
    const uint32_t extent = s.virtual_size != 0 ? s.virtual_size : s.raw_size;
    end = std::max<uint64_t>(end, uint64_t{s.virtual_address} + extent);
  }
  end = AlignUp(end, stub.section_alignment);
  if (end > UINT32_MAX) {
    error = "the stub leaves no address space for a payload";
    return false;
  }
  section_rva = static_cast<uint32_t>(end);
  return true;
}

bool WritePackedImage(const PeImage& stub, const InputFile& stub_file, uint32_t section_rva,
                      const ResourceSection& resources, StagedFile& out, std::string& error) {
  const uint64_t stub_end = stub.RawEnd();
  const uint64_t raw_offset =
      AlignUp(stub_end, std::max<uint32_t>(kPageSize, stub.file_alignment));
  const uint64_t raw_size = AlignUp(resources.size, stub.file_alignment);
  const uint64_t image_end = AlignUp(uint64_t{section_rva} + resources.size, stub.section_alignment);
  if (raw_offset + raw_size > UINT32_MAX || image_end > UINT32_MAX) {
    error = "the installer would exceed the 4 GiB a PE image can describe";
    return false;
  }

  std::vector<uint8_t> headers = stub.headers;
  uint8_t* optional = headers.data() + stub.optional_offset;
  uint8_t* file_header = headers.data() + stub.file_header_offset;
  Store16(file_header + kFileNumberOfSections, static_cast<uint16_t>(stub.sections.size() + 1));
  Store32(optional + kOptionalSizeOfInitializedData,
          Load32(optional + kOptionalSizeOfInitializedData) + static_cast<uint32_t>(raw_size));
  Store32(optional + kOptionalSizeOfImage, static_cast<uint32_t>(image_end));
  Store32(optional + kOptionalCheckSum, 0);
  uint8_t* directories = headers.data() + stub.data_directory_offset;
  if (stub.number_of_directories <= kDirectoryResource) {
    error = "the stub's headers have no resource directory entry";
    return false;
  }
  Store32(directories + kDirectoryEntrySize * kDirectoryResource, section_rva);
  Store32(directories + kDirectoryEntrySize * kDirectoryResource + 4,
          static_cast<uint32_t>(resources.size));
  uint8_t* section =
      headers.data() + stub.section_table_offset + stub.sections.size() * kSectionHeaderSize;
  std::memcpy(section + kSectionName, kPayloadSectionName,
              std::min<size_t>(kSectionNameSize, sizeof(kPayloadSectionName) - 1));
  Store32(section + kSectionVirtualSize, static_cast<uint32_t>(resources.size));
  Store32(section + kSectionVirtualAddress, section_rva);
  Store32(section + kSectionSizeOfRawData, static_cast<uint32_t>(raw_size));
  Store32(section + kSectionPointerToRawData, static_cast<uint32_t>(raw_offset));
  Store32(section + kSectionCharacteristics, kSectionInitializedData | kSectionMemoryRead);

  ChecksummedWriter writer(out);
  if (!writer.Put(headers.data(), headers.size(), error) ||
      !writer.Copy(stub_file, headers.size(), stub_end - headers.size(), error) ||
      !writer.PadTo(raw_offset, error) ||
      !writer.Put(resources.head.data(), resources.head.size(), error)) {
    return false;
  }
  for (const StreamedBlob& blob : resources.blobs) {
    if (!writer.PadTo(raw_offset + blob.offset, error) ||
        !writer.Copy(*blob.file, 0, blob.file->size(), error)) {
      return false;
    }
  }
  if (!writer.PadTo(raw_offset + raw_size, error)) return false;
  uint8_t checksum[4];
  Store32(checksum, writer.checksum.Finish());
  return out.WriteAt(stub.ChecksumOffset(), checksum, 4, error);
}
