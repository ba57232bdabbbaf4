// The archive's framing, from 7-Zip's format description (7zFormat.txt): a start header of 32
// bytes ('7' 'z' BC AF 27 1C, version, CRC of the next 20 bytes, the header's offset after the
// start header, its size and its CRC), the packed streams, then the header. 7-Zip compresses the
// header by default: it then starts with kEncodedHeader and a StreamsInfo of one folder whose
// unpacked bytes are the real header.
#include <cstring>

#include "decode/folder_decoder.h"
#include "seven_zip/crc32.h"
#include "seven_zip/header_streams.h"

using namespace seven_zip_header;

namespace {

using seven_zip_format::kSignature;

uint64_t Le64(const unsigned char* p) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

uint32_t Le32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}


// Decodes a compressed header: one folder, its size bounded before anything is allocated, its
// CRC checked when given (7-Zip gives it).
SevenZipStatus DecodeHeader(ArchiveSource& source, const unsigned char* encoded, size_t size,
                            uint64_t header_offset, std::vector<unsigned char>& header) {
  HeaderCursor in(encoded, size);
  in.Number();  // kEncodedHeader
  HeaderStreams streams;
  SevenZipStatus status = ReadStreamsInfo(in, streams);
  if (status != SevenZipStatus::kOk) return status;
  SevenZipArchive described;
  status = MapStreams(streams, header_offset, described);
  if (status != SevenZipStatus::kOk) return status;
  if (described.folders.size() != 1) return SevenZipStatus::kDamaged;
  const SevenZipFolder& folder = described.folders[0];
  if (FolderUnpackSize(folder.coding) > kSevenZipMaxHeaderSize) return SevenZipStatus::kUnsupported;
  status = FromDecodeStatus(CheckFolderCoding(folder.coding));
  if (status != SevenZipStatus::kOk) return status;
  if (FolderMemory(folder.coding) > kSevenZipHeaderDecodeMemory) return SevenZipStatus::kTooLarge;
  status = FromDecodeStatus(DecodeFolderToMemory(folder.coding, source, described.packed_offsets,
                                           described.packed_sizes, kSevenZipHeaderDecodeMemory,
                                           header));
  if (status != SevenZipStatus::kOk) return status;
  if (folder.has_crc && Crc32(0, header.data(), header.size()) != folder.crc) {
    return SevenZipStatus::kDamaged;
  }
  return SevenZipStatus::kOk;
}

}  // namespace

SevenZipStatus FromDecodeStatus(DecodeStatus status) {
  switch (status) {
    case DecodeStatus::kOk: return SevenZipStatus::kOk;
    case DecodeStatus::kDamaged: return SevenZipStatus::kDamaged;
    case DecodeStatus::kUnsupportedMethod: return SevenZipStatus::kUnsupportedMethod;
    case DecodeStatus::kTooLarge: return SevenZipStatus::kTooLarge;
    case DecodeStatus::kReadFailed: return SevenZipStatus::kReadFailed;
    case DecodeStatus::kWriteFailed: return SevenZipStatus::kWriteFailed;
  }
  return SevenZipStatus::kDamaged;
}

SevenZipStatus OpenSevenZip(ArchiveSource& source, SevenZipArchive& archive) {
  archive = SevenZipArchive();
  const uint64_t file_size = source.Size();
  unsigned char start[kSevenZipStartHeaderSize];
  if (file_size < kSevenZipStartHeaderSize) return SevenZipStatus::kNotSevenZip;
  if (!source.ReadAt(0, start, sizeof(start))) return SevenZipStatus::kReadFailed;
  if (std::memcmp(start, kSignature, sizeof(kSignature)) != 0) return SevenZipStatus::kNotSevenZip;
  // A major version we do not know.
  if (start[6] != seven_zip_format::kMajorVersion) return SevenZipStatus::kUnsupported;
  if (Crc32(0, start + 12, 20) != Le32(start + 8)) return SevenZipStatus::kDamaged;
  const uint64_t offset = Le64(start + 12);
  const uint64_t size = Le64(start + 20);
  const uint64_t room = file_size - kSevenZipStartHeaderSize;
  if (offset > room || size > room - offset) return SevenZipStatus::kDamaged;
  if (size == 0) return SevenZipStatus::kOk;  // an archive without entries
  if (size > kSevenZipMaxHeaderSize) return SevenZipStatus::kUnsupported;
  const uint64_t header_offset = kSevenZipStartHeaderSize + offset;
  std::vector<unsigned char> header(static_cast<size_t>(size));
  if (!source.ReadAt(header_offset, header.data(), header.size())) {
    return SevenZipStatus::kReadFailed;
  }
  if (Crc32(0, header.data(), header.size()) != Le32(start + 28)) return SevenZipStatus::kDamaged;
  if (header[0] == kEncodedHeader) {
    std::vector<unsigned char> decoded;
    const SevenZipStatus status =
        DecodeHeader(source, header.data(), header.size(), header_offset, decoded);
    if (status != SevenZipStatus::kOk) return status;
    header.swap(decoded);
  }
  return ParseSevenZipHeader(header.data(), header.size(), header_offset, archive);
}

bool AllMethodsSupported(const SevenZipArchive& archive, uint64_t* unsupported_method) {
  for (const SevenZipFolder& folder : archive.folders) {
    for (const SevenZipCoder& coder : folder.coding.coders) {
      if (!IsMethodSupported(coder)) {
        if (unsupported_method != nullptr) *unsupported_method = coder.method;
        return false;
      }
    }
  }
  return true;
}

uint64_t LargestDictionary(const SevenZipArchive& archive) {
  uint64_t largest = 0;
  for (const SevenZipFolder& folder : archive.folders) {
    for (const SevenZipCoder& coder : folder.coding.coders) {
      const uint64_t dictionary = DeclaredDictionary(coder);
      if (dictionary > largest) largest = dictionary;
    }
  }
  return largest;
}

uint64_t LargestFolderMemory(const SevenZipArchive& archive) {
  uint64_t largest = 0;
  for (const SevenZipFolder& folder : archive.folders) {
    if (CheckFolderCoding(folder.coding) != DecodeStatus::kOk) continue;
    const uint64_t memory = FolderMemory(folder.coding);
    if (memory > largest) largest = memory;
  }
  return largest;
}

std::string MethodName(uint64_t method) {
  struct Named {
    uint64_t method;
    const char* name;
  };
  static const Named kNames[] = {
      {kMethodCopy, "Copy"},       {kMethodLzma, "LZMA"},       {kMethodLzma2, "LZMA2"},
      {kMethodX86, "BCJ"},         {kMethodBcj2, "BCJ2"},       {kMethodArm64, "ARM64"},
      {0x030401, "PPMD"},          {0x040108, "Deflate"},       {0x040109, "Deflate64"},
      {0x040202, "BZip2"},         {0x06F10701, "7zAES"},       {0x03, "Delta"},
      {0x03030205, "PPC"},         {0x03030401, "IA64"},        {0x03030501, "ARM"},
      {0x03030701, "ARMT"},        {0x03030805, "SPARC"},       {0x04F71101, "ZSTD"},
      {0x0B, "RISCV"},
  };
  for (const Named& named : kNames) {
    if (named.method == method) return named.name;
  }
  // Hexadecimal as 7-Zip shows an unknown method, by hand: snprintf would bring mingw's printf
  // into the setup program.
  char text[17];
  size_t start = sizeof(text) - 1;
  text[start] = '\0';
  do {
    text[--start] = "0123456789ABCDEF"[method & 0xF];
    method >>= 4;
  } while (method != 0);
  return text + start;
}
