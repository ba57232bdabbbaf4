// The fixed numbers of the 7z format (7zFormat.txt in the LZMA SDK's documentation): the
// signature and version of the start header, its size, and the property ids of the header. The
// setup program's reader and the packer's writer both take them from here, so that the archive
// the packer writes and the archive the setup program reads are one format. The method ids are
// decode/folder.h's. No code: a header of constants that the writer may include without linking
// the reader.
#pragma once

#include <cstdint>

namespace seven_zip_format {

constexpr unsigned char kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr unsigned char kMajorVersion = 0;  // the only major version there is
constexpr unsigned char kMinorVersion = 4;  // what 7-Zip writes
constexpr uint64_t kStartHeaderSize = 32;

enum PropertyId : uint8_t {
  kEnd = 0x00,
  kHeader = 0x01,
  kArchiveProperties = 0x02,
  kAdditionalStreamsInfo = 0x03,
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
  kAnti = 0x10,
  kNames = 0x11,
  kModificationTime = 0x14,
  kWinAttributes = 0x15,
  kEncodedHeader = 0x17,
};

}  // namespace seven_zip_format
