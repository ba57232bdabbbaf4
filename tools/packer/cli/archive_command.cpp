#include "cli/archive_command.h"

#include <cstdio>

#include "platform/file_io.h"
#include "platform/folder_listing.h"

namespace {

std::string MiB(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
  return text;
}

}  // namespace

std::string ArchiveSummaryText(const ArchiveSummary& s) {
  char ratio[16];
  std::snprintf(ratio, sizeof(ratio), "%.1f%%",
                s.unpacked_size == 0 ? 100.0
                                     : 100.0 * static_cast<double>(s.archive_size) /
                                           static_cast<double>(s.unpacked_size));
  return std::to_string(s.file_count) + " files in " + std::to_string(s.folder_count) +
         " folders, " + MiB(s.unpacked_size) + " packed into " + MiB(s.archive_size) + " (" +
         ratio + ")";
}

bool CheckArchivePaths(const std::string& folder, const std::string& output, std::string& error) {
  if (KindOfPath(folder) != PathKind::kFolder) {
    error = folder + " is not a folder; name the folder of the application to archive";
    return false;
  }
  if (!CheckReplaceable(output, error)) {
    error = "the output " + error + "; name a file for the archive";
    return false;
  }
  return true;
}

bool RunArchive(const ArchiveOptions& options, std::ostream& out, std::string& error) {
  if (!CheckArchivePaths(options.folder, options.output, error)) return false;
  ArchiveSummary summary;
  if (!WriteSevenZipArchive(options.folder, options.settings, options.output, summary, error)) {
    return false;
  }
  if (!options.quiet) out << options.output << ": " << ArchiveSummaryText(summary) << "\n";
  return true;
}
