#include "archive/seven_zip_writer.h"

#include <algorithm>
#include <thread>
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

// Appends the bytes of the file at path to out.
bool AppendFile(const std::string& path, StagedFile& out, std::string& error) {
  InputFile part;
  if (!part.Open(path, error)) return false;
  std::vector<uint8_t> buffer(kCopyChunk);
  for (uint64_t at = 0; at < part.size();) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), part.size() - at));
    if (!part.ReadAt(at, buffer.data(), n, error) || !out.Write(buffer.data(), n, error)) {
      return false;
    }
    at += n;
  }
  return true;
}

// The packed folders, in the plan's order. With two groups, the second is compressed on a thread
// of its own into a temporary file beside the output while this one compresses the first, and
// its bytes are appended after: each encoder's output depends only on its input, so the archive
// is the same bytes as one written a folder after the other, in about the time of the larger.
bool WriteFolders(const ArchivePlan& plan, StagedFile& out, std::vector<FolderRecord>& folders,
                  std::string& error) {
  if (plan.groups.size() != 2) {
    for (size_t i = 0; i < plan.groups.size(); ++i) {
      if (!WriteLzmaFolder(plan.groups[i], SettingsFor(plan.groups[i]), out, folders[i], error)) {
        return false;
      }
    }
    return true;
  }
  StagedFile part;
  if (!part.Create(out.temp_path(), error)) return false;
  std::string part_error;
  bool part_written = false;
  std::thread second([&] {
    part_written =
        WriteLzmaFolder(plan.groups[1], SettingsFor(plan.groups[1]), part, folders[1], part_error);
  });
  const bool first_written =
      WriteLzmaFolder(plan.groups[0], SettingsFor(plan.groups[0]), out, folders[0], error);
  second.join();
  if (!first_written) return false;
  if (!part_written) {
    error = part_error;
    return false;
  }
  return AppendFile(part.temp_path(), out, error);
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

  std::vector<FolderRecord> folders(plan.groups.size());
  if (!WriteFolders(plan, out, folders, error)) return false;
  uint64_t packed_end = 0;
  for (size_t i = 0; i < folders.size(); ++i) {
    for (const PackedStream& stream : folders[i].streams) packed_end += stream.packed_size;
    if (folders[i].filter != FolderFilter::kNone) summary.program_size += folders[i].unpacked_size;
    const uint32_t dictionary = SettingsFor(plan.groups[i]).dictionary;
    if (dictionary > summary.largest_dictionary) summary.largest_dictionary = dictionary;
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
