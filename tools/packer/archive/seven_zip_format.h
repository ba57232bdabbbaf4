// The 7z container as the packer writes it (7zFormat.txt in the LZMA SDK's documentation): a
// 32-byte start header that points at the archive's header at the end, the packed streams in
// between. Numbers in the header are 7z's variable-length integers; names UTF-16LE.
#pragma once

#include <cstdint>

namespace sevenzip {

constexpr uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr uint8_t kMajorVersion = 0;
constexpr uint8_t kMinorVersion = 4;
constexpr uint64_t kStartHeaderSize = 32;

// Property identifiers of the header.
enum Property : uint8_t {
  kEnd = 0x00,
  kHeader = 0x01,
  kMainStreamsInfo = 0x04,
  kFilesInfo = 0x05,
  kPackInfo = 0x06,
  kUnpackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnpackSize = 0x0C,
  kNumUnpackStream = 0x0D,
  kEmptyStream = 0x0E,
  kEmptyFile = 0x0F,
  kName = 0x11,
  kModificationTime = 0x14,
  kWinAttributes = 0x15,
  kEncodedHeader = 0x17,
};

// Method identifiers (Methods.txt).
constexpr uint8_t kLzmaMethod[3] = {0x03, 0x01, 0x01};
constexpr uint8_t kX86BranchMethod[4] = {0x03, 0x03, 0x01, 0x03};
constexpr uint8_t kBcj2Method[4] = {0x03, 0x03, 0x01, 0x1B};

// A coder's flag byte: the low four bits the identifier's length, and this bit when properties
// follow.
constexpr uint8_t kCoderHasProperties = 0x20;
// ...and this bit when the numbers of its input and output streams follow (not one and one).
constexpr uint8_t kCoderIsComplex = 0x10;

// The attributes the archive gives every entry: what Windows gives a new folder and a file a
// program wrote. The source tree's own (read-only bits, Unix modes) are not carried, so that the
// archive is the same from every checkout and on every system.
constexpr uint32_t kFolderAttributes = 0x10;  // FILE_ATTRIBUTE_DIRECTORY
constexpr uint32_t kFileAttributes = 0x20;    // FILE_ATTRIBUTE_ARCHIVE

}  // namespace sevenzip
