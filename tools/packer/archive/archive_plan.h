// What goes into the archive of an application's folder, and in what order: every file and
// folder under it, named relative to it, with the files that hold data split into solid groups
// (7z "folders") that each compress as one stream. Windows programs (found by their content, not
// their names) form one group that goes through the x86 branch converter; everything else forms
// the other. Within a group, files are ordered by extension, then size (largest first), then
// name, so that files alike lie within the compressor's reach; the order never depends on the
// file system's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ArchiveEntry {
  std::string name;  // relative to the folder archived, '/' between parts, UTF-8
  std::string path;  // where the packer reads it
  bool is_folder = false;
  uint64_t size = 0;
};

enum class ArchiveGroupKind { kPrograms, kOther };

struct ArchiveGroup {
  ArchiveGroupKind kind = ArchiveGroupKind::kOther;
  std::vector<ArchiveEntry> files;  // in stream order, none empty
  uint64_t size = 0;                // their sizes added up
};

struct ArchivePlan {
  // Entries that carry no data, folders and empty files, in name order.
  std::vector<ArchiveEntry> empty;
  // The groups that hold data, programs first; a group without files is left out.
  std::vector<ArchiveGroup> groups;
  uint64_t file_count = 0;  // files, empty ones included
  uint64_t unpacked_size = 0;
};

// Walks folder. False with the reason when something in it cannot be archived (a name that is
// not valid UTF-8, a link to a folder, a device), when it cannot be read, or when it holds
// nothing at all.
bool PlanArchive(const std::string& folder, ArchivePlan& plan, std::string& error);

// Whether the first bytes of a file are those of an x86 or x64 Windows program (an MZ header
// whose PE header names one of those machines): what the branch converter helps. head holds the
// first bytes read, and pe_header the four bytes of signature and two of machine at the offset
// the MZ header names (empty when it lies beyond the file).
uint32_t PeHeaderOffset(const uint8_t* head, size_t size);
bool IsX86Program(const uint8_t* pe_header, size_t size);
