#include "archive/seven_zip_writer.h"

#include <vector>

#include "archive/lzma_folder.h"
#include "archive/seven_zip_format.h"
#include "archive/seven_zip_header.h"
#include "platform/file_io.h"
#include "platform/utf_text.h"

namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000;

// Every entry of the header in the order the data lies: the entries without data first (in name
// order), then the files of each folder in their stream order.
std::vector<HeaderEntry> HeaderEntries(const ArchivePlan& plan) {
  std::vector<HeaderEntry> entries;
  auto add = [&entries](const ArchiveEntry& e, bool has_data) {
    HeaderEntry h;
    Utf8ToUtf16(e.name, h.name);  // checked when the folder was walked
    h.is_folder = e.is_folder;
    h.has_data = has_data;
    entries.push_back(h);
  };
  for (const ArchiveEntry& e : plan.empty) add(e, false);
  for (const ArchiveGroup& g : plan.groups) {
    for (const ArchiveEntry& e : g.files) add(e, true);
  }
  return entries;
}

// The header after the packed folders: compressed when that is smaller (it holds every name,
// which compress well, once an application has more than a few files). header_offset receives
// where the header the start header points at begins, counted from the end of the start header.
bool WriteHeader(const std::vector<uint8_t>& header, uint64_t packed_end, StagedFile& out,
                 std::vector<uint8_t>& written, uint64_t& header_offset, std::string& error) {
  std::vector<uint8_t> packed, properties;
  if (!CompressBytes(header, packed, properties, error)) return false;
  std::vector<uint8_t> encoded = BuildEncodedHeader(packed_end, packed.size(), properties,
                                                    header.size(),
                                                    Crc32(header.data(), header.size()));
  header_offset = packed_end;
  if (packed.size() + encoded.size() < header.size()) {
    if (!out.Write(packed.data(), packed.size(), error)) return false;
    header_offset += packed.size();
    written.swap(encoded);
  } else {
    written = header;
  }
  return out.Write(written.data(), written.size(), error);
}

uint64_t FilesWithData(const ArchivePlan& plan) {
  uint64_t count = 0;
  for (const ArchiveGroup& g : plan.groups) count += g.files.size();
  return count;
}

}  // namespace

uint64_t FileTimeOf(int64_t unix_seconds) {
  return static_cast<uint64_t>(unix_seconds + kSecondsFrom1601To1970) * kFileTimeUnitsPerSecond;
}

bool WriteSevenZipArchive(const std::string& folder, const ArchiveSettings& settings,
                          const std::string& output, ArchiveSummary& summary,
                          std::string& error) {
  summary = ArchiveSummary();
  ArchivePlan plan;
  if (!PlanArchive(folder, plan, error)) return false;
  StagedFile out;
  if (!out.Create(output, error)) return false;
  // The start header is written last, once it knows where the header lies.
  const std::vector<uint8_t> placeholder(sevenzip::kStartHeaderSize, 0);
  if (!out.Write(placeholder.data(), placeholder.size(), error)) return false;

  std::vector<FolderRecord> folders;
  uint64_t packed_end = 0;
  for (const ArchiveGroup& group : plan.groups) {
    FolderRecord record;
    const LzmaSettings lzma = SettingsFor(group);
    if (!WriteLzmaFolder(group, lzma, out, record, error)) return false;
    packed_end += record.packed_size;
    if (record.branch_filter) summary.program_size += record.unpacked_size;
    if (lzma.dictionary > summary.largest_dictionary) summary.largest_dictionary = lzma.dictionary;
    folders.push_back(record);
  }
  const std::vector<uint8_t> header =
      BuildHeader(folders, HeaderEntries(plan), settings.has_time, FileTimeOf(settings.time));
  std::vector<uint8_t> written;
  uint64_t header_offset = 0;
  if (!WriteHeader(header, packed_end, out, written, header_offset, error)) return false;
  const std::vector<uint8_t> start = BuildStartHeader(header_offset, written.size(),
                                                      Crc32(written.data(), written.size()));
  if (!out.WriteAt(0, start.data(), start.size(), error) || !out.Commit(error)) return false;
  summary.file_count = plan.file_count;
  summary.folder_count = plan.empty.size() - (plan.file_count - FilesWithData(plan));
  summary.unpacked_size = plan.unpacked_size;
  summary.archive_size = sevenzip::kStartHeaderSize + header_offset + written.size();
  return true;
}
