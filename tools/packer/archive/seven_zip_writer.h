// "lumora-pack archive": a 7z archive of an application's folder, as small as LZMA makes it and
// the same bytes from the same folder on every run and on Linux and Windows alike. The packer's
// own choices: solid LZMA at its highest setting, programs through the x86 branch converter
// (BCJ2) in a folder of their own, entries sorted by name, attributes normalised, one time for
// every entry (or none), and the header compressed.
#pragma once

#include <cstdint>
#include <string>

#include "archive/archive_plan.h"

struct ArchiveSettings {
  // Seconds since 1970 stored as every entry's time (SOURCE_DATE_EPOCH); without one no time is
  // stored and the installed files take the time they are installed at.
  bool has_time = false;
  int64_t time = 0;
};

// What was written, for the report.
struct ArchiveSummary {
  uint64_t file_count = 0;
  uint64_t folder_count = 0;
  uint64_t unpacked_size = 0;
  uint64_t archive_size = 0;
  uint64_t program_size = 0;  // the bytes that went through the branch converter
  uint32_t largest_dictionary = 0;
};

// Writes the archive of folder to output, which appears only when complete. False with the
// reason, leaving nothing at output.
bool WriteSevenZipArchive(const std::string& folder, const ArchiveSettings& settings,
                          const std::string& output, ArchiveSummary& summary, std::string& error);

// The time as 7z stores it: 100 ns units since 1601-01-01.
uint64_t FileTimeOf(int64_t unix_seconds);
