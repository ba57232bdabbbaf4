#include "cabinet/cabinet_reader.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/byte_order.h"
#include "lumora/cabinet_checksum.h"
#include "cabinet/cabinet_header.h"
#include "cabinet/cabinet_expansion.h"
#include "cabinet/cabinet_format.h"
#include "platform/escaped_text.h"
#include "lumora/setup_cabinet_rules.h"

namespace {

using namespace cabinet_format;

// Where the first file's data lies: its folder's blocks, and the file's end within the folder's
// expanded bytes.
struct FirstFolder {
  uint64_t data_offset = 0;
  uint16_t blocks = 0;
  size_t block_reserve = 0;
  uint64_t file_end = 0;
};

bool ReadAt(const ByteSource& source, uint64_t offset, uint8_t* out, size_t size) {
  std::string ignored;
  return source.ReadAt(offset, out, size, ignored);
}

// A terminated string of at most kLongestName bytes at offset; its length with the terminator.
bool ReadName(const ByteSource& source, uint64_t offset, std::string& name, size_t& length) {
  uint8_t bytes[kLongestName] = {};
  const size_t n = static_cast<size_t>(
      offset >= source.size() ? 0 : std::min<uint64_t>(kLongestName, source.size() - offset));
  if (n == 0 || !ReadAt(source, offset, bytes, n)) return false;
  for (size_t i = 0; i < n; ++i) {
    if (bytes[i] == 0) {
      name.assign(reinterpret_cast<const char*>(bytes), i);
      length = i + 1;
      return true;
    }
  }
  return false;
}

// The header, the first file's entry and its folder, as the expansion will find them. What the
// decoders would refuse anyway is left to them; what is refused here is what the stub's
// expansion fails on by the cabinet library's contract (a first file that continues from another
// cabinet, no file at all) or what would make it read beyond the cabinet's tables (no folder
// for the first file: Wine's cabinet library then reads through a null pointer).
bool ReadHeaders(const ByteSource& source, CabinetFacts& facts, FirstFolder& first) {
  uint8_t header[kHeaderSize];
  if (source.size() < kHeaderSize || !ReadAt(source, 0, header, kHeaderSize) ||
      Load32(header) != Load32(reinterpret_cast<const uint8_t*>("MSCF"))) {
    facts.failure = "no cabinet header (\"MSCF\")";
    return false;
  }
  facts.folders = Load16(header + kHeaderFolderCount);
  facts.files = Load16(header + kHeaderFileCount);
  facts.flags = Load16(header + kHeaderFlags);
  uint64_t at = kHeaderSize;
  size_t folder_reserve = 0;
  if ((facts.flags & kFlagReservePresent) != 0) {
    uint8_t reserve[4];
    if (!ReadAt(source, at, reserve, sizeof(reserve))) {
      facts.failure = "the cabinet ends in its header";
      return false;
    }
    folder_reserve = reserve[2];
    first.block_reserve = reserve[3];
    at += sizeof(reserve) + Load16(reserve);
  }
  for (uint16_t flag : {kFlagPreviousCabinet, kFlagNextCabinet}) {
    if ((facts.flags & flag) == 0) continue;
    // The name of the other cabinet and of its disk.
    for (int i = 0; i < 2; ++i) {
      std::string ignored;
      size_t length = 0;
      if (!ReadName(source, at, ignored, length)) {
        facts.failure = "the cabinet's header names another cabinet without ending the name";
        return false;
      }
      at += length;
    }
  }
  if (facts.folders == 0) {
    facts.failure = "the cabinet has no folder (no compressed data at all)";
    return false;
  }
  if (facts.files == 0) {
    facts.failure = "the cabinet holds no file";
    return false;
  }
  uint8_t entry[kFileEntrySize];
  const uint64_t files_at = Load32(header + kHeaderFilesOffset);
  size_t name_length = 0;
  if (!ReadAt(source, files_at, entry, kFileEntrySize) ||
      !ReadName(source, files_at + kFileEntrySize, facts.first_file_name, name_length)) {
    facts.failure = "the first file's entry lies beyond the cabinet";
    return false;
  }
  facts.first_file_size = Load32(entry + kFileSize);
  facts.first_file_attributes = Load16(entry + kFileAttributes);
  uint16_t folder = Load16(entry + kFileFolder);
  if (folder == kContinuedFromPrevious || folder == kContinuedBothWays) {
    facts.failure = "the first file continues from a previous cabinet";
    return false;
  }
  if (folder == kContinuedToNext) folder = static_cast<uint16_t>(facts.folders - 1);
  if (folder >= facts.folders) {
    facts.failure = "the first file's folder " + std::to_string(folder) + " is not among the " +
                    std::to_string(facts.folders) + " folders";
    return false;
  }
  uint8_t folder_entry[kFolderSize];
  if (!ReadAt(source, at + folder * (kFolderSize + folder_reserve), folder_entry, kFolderSize)) {
    facts.failure = "the first file's folder lies beyond the cabinet";
    return false;
  }
  facts.compression = Load16(folder_entry + kFolderCompression);
  first.data_offset = Load32(folder_entry + kFolderDataOffset);
  first.blocks = Load16(folder_entry + kFolderBlockCount);
  first.file_end = uint64_t{Load32(entry + kFileFolderOffset)} + facts.first_file_size;
  facts.headers_read = true;
  return true;
}

// The data blocks the expansion reads to reach the first file's end, each within the cabinet and
// matching its checksum (a checksum of 0 means none, as the libraries read it).
bool CheckBlocks(const ByteSource& source, const FirstFolder& first, CabinetFacts& facts) {
  std::vector<uint8_t> data;
  uint64_t at = first.data_offset;
  uint64_t expanded = 0;
  for (uint32_t i = 0; i < first.blocks && (expanded < first.file_end || i == 0); ++i) {
    uint8_t header[kBlockHeaderSize];
    if (!ReadAt(source, at, header, sizeof(header))) {
      facts.failure = "data block " + std::to_string(i) + " lies beyond the cabinet's end";
      return false;
    }
    data.resize(Load16(header + kBlockCompressedSize));
    at += sizeof(header) + first.block_reserve;
    if (!ReadAt(source, at, data.data(), data.size())) {
      facts.failure = "data block " + std::to_string(i) + " ends beyond the cabinet's end";
      return false;
    }
    const uint32_t stored = Load32(header);
    if (stored != 0 &&
        CabinetChecksum(header + kBlockSizes, kBlockHeaderSize - kBlockSizes,
                        CabinetChecksum(data.data(), data.size(), 0)) != stored) {
      facts.failure = "data block " + std::to_string(i) + " fails its checksum";
      return false;
    }
    at += data.size();
    expanded += Load16(header + kBlockExpandedSize);
  }
  if (expanded < first.file_end) {
    facts.failure = "the folder's blocks end before the first file does";
    return false;
  }
  return true;
}

// The cabinet's bytes for the shared rules, which read only within its size.
class RuleBytes {
 public:
  RuleBytes(const ByteSource& source, std::string& error) : source_(source), error_(error) {}
  bool Read(uint32_t offset, uint8_t* out, uint32_t size) const {
    return source_.ReadAt(offset, out, size, error_);
  }

 private:
  const ByteSource& source_;
  std::string& error_;
};

std::string FaultText(const CabinetCheck& check, const std::string& read_error) {
  const std::string at = " (at byte " + std::to_string(check.offset) + ")";
  switch (check.fault) {
    case CabinetFault::kNone: return "";
    case CabinetFault::kUnread: return "the cabinet could not be read: " + read_error;
    case CabinetFault::kHeader: return "no cabinet header (\"MSCF\")";
    case CabinetFault::kVersion: return "the cabinet's format version is not 1.3";
    case CabinetFault::kCabinetSize:
      return "the cabinet's size field does not give the size of the cabinet as stored";
    case CabinetFault::kFlags:
      return "the cabinet continues another cabinet, continues into one, or reserves fields";
    case CabinetFault::kFolderCount: return "the cabinet does not hold exactly one folder";
    case CabinetFault::kNoFile: return "the cabinet holds no file";
    case CabinetFault::kFileTable:
      return "the cabinet's file entries do not follow its folder entry, or run beyond it" + at;
    case CabinetFault::kFileName:
      return "a file name in the cabinet is empty, longer than 255 bytes or not printable "
             "ASCII" + at;
    case CabinetFault::kFileFolder:
      return "a file of the cabinet lies in another folder, or continues across cabinets" + at;
    case CabinetFault::kFirstOffset:
      return "the cabinet's first file does not start at its folder's beginning" + at;
    case CabinetFault::kCompression:
      return "the cabinet's folder is compressed with a method other than none, MSZIP or LZX "
             "(windows of 2^15 to 2^21 bytes)";
    case CabinetFault::kDataOffset:
      return "the cabinet's data blocks do not start right after its file entries";
    case CabinetFault::kBlockOutside: return "a data block reaches beyond the cabinet" + at;
    case CabinetFault::kBlockSizes:
      return "a data block's sizes are ones its method does not allow (all but the last 32 KiB "
             "expanded, none larger; stored blocks the same size both ways)" + at;
    case CabinetFault::kChecksum:
      return "a data block has no checksum, or one that does not match" + at;
    case CabinetFault::kSignature: return "an MSZIP data block does not begin with \"CK\"" + at;
    case CabinetFault::kTrailing: return "bytes follow the cabinet's last data block" + at;
    case CabinetFault::kExpandedTotal:
      return "the folder's blocks expand to another size than its files need";
  }
  return "";
}

}  // namespace

void ReadCabinet(const ByteSource& cabinet, CabinetFacts& facts) {
  facts = CabinetFacts();
  FirstFolder first;
  std::string read_error;
  const CabinetCheck check = CheckSetupCabinet(RuleBytes(cabinet, read_error), cabinet.size());
  if (check.fault != CabinetFault::kNone) {
    // Its headers are still read as far as they go, for the report.
    (void)ReadHeaders(cabinet, facts, first);
    facts.malformed = true;
    facts.failure = FaultText(check, read_error);
    return;
  }
  if (!ReadHeaders(cabinet, facts, first)) return;
  if (CompressionMethod(facts.compression) > kCabinetCompressionLzx) {
    facts.failure = "the first file's folder is compressed with an unknown method (" +
                    CompressionTypeText(facts.compression) + ")";
    return;
  }
  if (!CheckBlocks(cabinet, first, facts)) return;
  std::string failure;
  facts.expanded = ExpandFirstFile(cabinet, facts, failure);
  if (!facts.expanded) {
    facts.failure = "the first file, " + Escaped(facts.first_file_name) + ", does not expand: " +
                    failure;
  } else if (facts.expanded_size != facts.first_file_size) {
    facts.expanded = false;
    facts.failure = "the first file expands to " + std::to_string(facts.expanded_size) +
                    " bytes where its entry says " + std::to_string(facts.first_file_size);
  }
}
