// The setup program's 7z header parser (seven_zip/archive.h) on arbitrary bytes. An input that
// starts like a 7z archive is taken as a whole archive: the header it points at is parsed whether
// or not its CRCs match and without being decoded, so that mutations of real archives reach the
// parser. Any other input is parsed as a header of its own. A listing that comes back must hold
// what the decoding relies on: safe names, every packed stream between the start header and the
// header, each folder's packed streams within the list, a folder's files in order and summing to
// its unpacked size, files without a folder empty, at most one file per four header bytes and
// never more than the bound; a refusal lists nothing.
#include <cstring>

#include "decode/folder.h"
#include "fuzz_support.h"
#include "seven_zip/archive.h"
#include "seven_zip/safe_entry_name.h"

namespace {

void CheckListing(const SevenZipArchive& archive, size_t header_size, uint64_t header_offset) {
  FUZZ_CHECK(archive.files.size() <= header_size / 4);
  FUZZ_CHECK(archive.files.size() <= kSevenZipMaxFiles);
  FUZZ_CHECK(archive.packed_offsets.size() == archive.packed_sizes.size());
  for (size_t i = 0; i < archive.packed_offsets.size(); ++i) {
    FUZZ_CHECK(archive.packed_offsets[i] >= kSevenZipStartHeaderSize &&
               archive.packed_offsets[i] <= header_offset);
    FUZZ_CHECK(archive.packed_sizes[i] <= header_offset - archive.packed_offsets[i]);
  }
  for (size_t f = 0; f < archive.folders.size(); ++f) {
    const SevenZipFolder& folder = archive.folders[f];
    const size_t streams = folder.coding.packed_streams.size();
    FUZZ_CHECK(folder.first_packed_stream <= archive.packed_offsets.size() &&
               streams <= archive.packed_offsets.size() - folder.first_packed_stream);
    // The folder's files: file_count of them from first_file on, in order, between empty files.
    uint64_t total = 0;
    size_t counted = 0;
    for (size_t i = 0; i < archive.files.size(); ++i) {
      if (archive.files[i].folder != f) continue;
      FUZZ_CHECK(i >= folder.first_file);
      total += archive.files[i].size;
      ++counted;
    }
    FUZZ_CHECK(counted == folder.file_count);
    if (counted != 0) FUZZ_CHECK(total == FolderUnpackSize(folder.coding));
  }
  for (const SevenZipFile& file : archive.files) {
    FUZZ_CHECK(IsSafeEntryName(file.name));
    if (file.folder == kNoFolder) {
      FUZZ_CHECK(file.size == 0);
    } else {
      FUZZ_CHECK(file.folder < archive.folders.size() && !file.is_directory);
    }
  }
}

void Parse(const uint8_t* header, size_t size, uint64_t header_offset) {
  SevenZipArchive archive;
  const SevenZipStatus status = ParseSevenZipHeader(header, size, header_offset, archive);
  if (status == SevenZipStatus::kOk) {
    CheckListing(archive, size, header_offset);
  } else {
    FUZZ_CHECK(archive.files.empty() && archive.folders.empty() &&
               archive.packed_offsets.empty());
    FUZZ_CHECK(status == SevenZipStatus::kUnsupported || status == SevenZipStatus::kDamaged ||
               status == SevenZipStatus::kUnsafeName ||
               status == SevenZipStatus::kUnsupportedMethod);
  }
}

uint64_t Le64(const uint8_t* p) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
  if (size < kSevenZipStartHeaderSize || std::memcmp(data, kSignature, 6) != 0) {
    Parse(data, size, size);
    return 0;
  }
  // Where the header would be, start-header CRC or not.
  const uint64_t offset = Le64(data + 12);
  const uint64_t length = Le64(data + 20);
  const uint64_t room = size - kSevenZipStartHeaderSize;
  if (offset <= room && length <= room - offset) {
    Parse(data + kSevenZipStartHeaderSize + offset, static_cast<size_t>(length),
          kSevenZipStartHeaderSize + offset);
  }
  return 0;
}
