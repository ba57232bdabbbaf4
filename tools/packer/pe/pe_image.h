// Reading a PE image's headers: the section table, the data directories and the mapping of
// relative virtual addresses to file offsets. Only the headers are held in memory; everything
// else is read from the file where it is needed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_source.h"
#include "lumora/payload_rules.h"
#include "pe/pe_format.h"

struct PeSection {
  char name[kSectionNameSize + 1] = {};  // the 8 name bytes, terminated here for printing
  uint32_t virtual_size = 0;
  uint32_t virtual_address = 0;
  uint32_t raw_size = 0;
  uint32_t raw_offset = 0;
  uint32_t characteristics = 0;
};

struct PeImage {
  uint64_t file_size = 0;
  std::vector<uint8_t> headers;  // the first size_of_headers bytes of the file
  uint16_t machine = 0;
  uint16_t characteristics = 0;
  bool pe32_plus = false;
  uint16_t subsystem = 0;
  uint32_t file_header_offset = 0;    // file offset of the file header
  uint32_t optional_offset = 0;       // file offset of the optional header
  uint32_t section_table_offset = 0;  // file offset of the first section header
  uint32_t data_directory_offset = 0;
  uint32_t number_of_directories = 0;
  uint32_t section_alignment = 0;
  uint32_t file_alignment = 0;
  uint32_t size_of_headers = 0;
  uint32_t size_of_image = 0;
  uint32_t checksum = 0;
  std::vector<PeSection> sections;

  // End of the last section's raw data: where the image proper ends and an overlay would begin.
  uint64_t RawEnd() const;
  // Start of the first section's raw data: the room the headers may grow into.
  uint64_t FirstRawOffset() const;
  // A data directory entry (zeros when the image has fewer entries).
  void Directory(uint32_t index, uint32_t& rva, uint32_t& size) const;
  // File offset of size bytes at rva, when they lie wholly within one section's raw data or
  // within the headers.
  bool RvaToOffset(uint32_t rva, uint64_t size, uint64_t& offset) const;
  // The section whose virtual range holds rva, or null.
  const PeSection* SectionAt(uint32_t rva) const;
  // The file offset of the CheckSum field, which the checksum counts as zero.
  uint64_t ChecksumOffset() const { return optional_offset + kOptionalCheckSum; }

  // Where size bytes at rva lie once the loader has mapped the image (the shared rule of
  // lumora/payload_rules.h: a section's memory ends at its virtual size), and reading them as the
  // image's own code then finds them: the file's bytes, zeros, or nothing (a failure).
  MappedBytes WhereLoaded(uint64_t rva, uint64_t size) const;
  bool ReadLoaded(const ByteSource& file, uint64_t rva, uint8_t* out, size_t size,
                  std::string& error) const;

  std::vector<ImageSection> loaded_sections;  // the section table in the shared rule's terms
};

bool ReadPeImage(const ByteSource& file, PeImage& image, std::string& error);
