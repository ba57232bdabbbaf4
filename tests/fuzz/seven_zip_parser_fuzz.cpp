// The sample setup program's 7z parser on arbitrary bytes. An input that starts like a 7z archive
// is taken as a whole archive: its start header is checked, and the header it points at is parsed
// whether or not its CRC matches, so that mutations of real archives reach the parser. Any other
// input is parsed as a header of its own. A listing that comes back must hold what the reader
// relies on: safe names, every file's bytes inside its folder and every folder between the start
// header and the header, a folder's files covering it exactly, at most one entry per four header
// bytes; a refusal lists nothing.
#include <cstring>

#include "fuzz_support.h"
#include "safe_entry_name.h"
#include "seven_zip_parser.h"

namespace {

void CheckListing(const SevenZipListing& listing, size_t header_size, uint64_t data_end) {
  FUZZ_CHECK(listing.entries.size() <= header_size / 4);
  for (const SevenZipFolder& folder : listing.folders) {
    FUZZ_CHECK(folder.offset >= kSevenZipStartHeaderSize && folder.offset <= data_end);
    FUZZ_CHECK(folder.size <= data_end - folder.offset);
  }
  size_t folder = kNoFolder;
  uint64_t next = 0;  // where the folder's next file must start
  std::vector<bool> seen(listing.folders.size(), false);
  for (const SevenZipEntry& entry : listing.entries) {
    FUZZ_CHECK(IsSafeEntryName(entry.name));
    if (entry.folder == kNoFolder) {
      FUZZ_CHECK(entry.size == 0 && !entry.has_crc);
      continue;
    }
    FUZZ_CHECK(entry.folder < listing.folders.size());
    const SevenZipFolder& f = listing.folders[entry.folder];
    if (entry.folder != folder) {
      // The folder before is used up, and folders come in order, each once.
      if (folder != kNoFolder) FUZZ_CHECK(next == listing.folders[folder].offset + listing.folders[folder].size);
      FUZZ_CHECK(!seen[entry.folder]);
      FUZZ_CHECK(folder == kNoFolder || entry.folder > folder);
      seen[entry.folder] = true;
      folder = entry.folder;
      next = f.offset;
    }
    FUZZ_CHECK(entry.offset == next);
    FUZZ_CHECK(entry.size <= f.offset + f.size - entry.offset);
    next += entry.size;
  }
  if (folder != kNoFolder) FUZZ_CHECK(next == listing.folders[folder].offset + listing.folders[folder].size);
}

void Parse(const uint8_t* header, size_t size, uint64_t data_end) {
  SevenZipListing listing;
  const SevenZipStatus status = ParseHeader(header, size, data_end, listing);
  if (status == SevenZipStatus::kOk) {
    CheckListing(listing, size, data_end);
  } else {
    FUZZ_CHECK(listing.entries.empty() && listing.folders.empty());
    FUZZ_CHECK(status == SevenZipStatus::kUnsupported || status == SevenZipStatus::kDamaged ||
               status == SevenZipStatus::kUnsafeName);
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
  SevenZipHeaderLocation location;
  const SevenZipStatus status = ReadStartHeader(data, size, location);
  if (status == SevenZipStatus::kOk) {
    FUZZ_CHECK(location.offset >= kSevenZipStartHeaderSize && location.offset <= size &&
               location.size <= size - location.offset &&
               location.size <= kSevenZipMaxHeaderSize);
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
