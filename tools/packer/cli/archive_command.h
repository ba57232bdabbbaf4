// "lumora-pack archive": the 7z archive of an application's folder, ready for pack --archive (or
// made by pack itself when --archive names a folder).
#pragma once

#include <ostream>
#include <string>

#include "archive/seven_zip_writer.h"

struct ArchiveOptions {
  std::string folder;
  std::string output;
  bool quiet = false;
  ArchiveSettings settings;  // the entries' time, from SOURCE_DATE_EPOCH
};

// Writes the archive and prints what it holds to out (unless quiet). False with the reason in
// error, leaving nothing at the output path.
bool RunArchive(const ArchiveOptions& options, std::ostream& out, std::string& error);

// "412 files in 31 folders, 35.5 MiB packed into 5.1 MiB (14.4%)": what an archive holds.
std::string ArchiveSummaryText(const ArchiveSummary& summary);

// Checks that output is a place to write the archive to and folder one to read, with messages
// that name the option. Shared by archive and pack --archive DIR.
bool CheckArchivePaths(const std::string& folder, const std::string& output, std::string& error);
