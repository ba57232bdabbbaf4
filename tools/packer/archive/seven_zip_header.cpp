#include "archive/seven_zip_header.h"

#include <zlib.h>

#include "archive/seven_zip_format.h"

using namespace sevenzip;

namespace {

void AppendBytes(std::vector<uint8_t>& out, const uint8_t* bytes, size_t size) {
  out.insert(out.end(), bytes, bytes + size);
}

void AppendLittleEndian(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A bit for each item, the first in the high bit of the first byte.
std::vector<uint8_t> BitVector(const std::vector<bool>& bits) {
  std::vector<uint8_t> bytes((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i) {
    if (bits[i]) bytes[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  }
  return bytes;
}

void AppendProperty(std::vector<uint8_t>& out, PropertyId id, const std::vector<uint8_t>& data) {
  out.push_back(id);
  AppendNumber(out, data.size());
  out.insert(out.end(), data.begin(), data.end());
}

void AppendLzmaCoder(std::vector<uint8_t>& out, const std::vector<uint8_t>& properties) {
  out.push_back(static_cast<uint8_t>(sizeof(kLzmaMethod) | kCoderHasProperties));
  AppendBytes(out, kLzmaMethod, sizeof(kLzmaMethod));
  AppendNumber(out, properties.size());
  out.insert(out.end(), properties.begin(), properties.end());
}

// A folder of LZMA alone, or of LZMA then the branch filter as 7-Zip writes it: coder 0 LZMA,
// coder 1 the filter, whose input (in-stream 1) is bound to LZMA's output (out-stream 0); the
// packed stream is LZMA's input, and the folder's output the filter's.
//
// With the four-stream converter: coder 0 the converter (in-streams 0 to 3, out-stream 0), coders
// 1 to 3 LZMA (in-streams 4 to 6, out-streams 1 to 3) for the main, call and jump streams, each
// bound to the converter's matching input; the packed streams feed LZMA's inputs and the
// converter's bit stream (in-stream 3), in the order they lie in the archive.
void AppendFolder(std::vector<uint8_t>& out, const FolderRecord& folder) {
  if (folder.filter == FolderFilter::kBcj2) {
    AppendNumber(out, 4);
    out.push_back(static_cast<uint8_t>(sizeof(kBcj2Method) | kCoderIsComplex));
    AppendBytes(out, kBcj2Method, sizeof(kBcj2Method));
    AppendNumber(out, 4);  // in-streams
    AppendNumber(out, 1);  // out-streams
    for (size_t i = 0; i < 3; ++i) AppendLzmaCoder(out, folder.streams[i].lzma_properties);
    for (uint64_t i = 0; i < 3; ++i) {
      AppendNumber(out, i);      // the converter's in-stream...
      AppendNumber(out, i + 1);  // ...fed by this LZMA's output
    }
    for (uint64_t in : {4, 5, 6, 3}) AppendNumber(out, in);
    return;
  }
  const bool filtered = folder.filter == FolderFilter::kX86Branch;
  AppendNumber(out, filtered ? 2 : 1);
  AppendLzmaCoder(out, folder.streams[0].lzma_properties);
  if (filtered) {
    out.push_back(sizeof(kX86BranchMethod));
    AppendBytes(out, kX86BranchMethod, sizeof(kX86BranchMethod));
    AppendNumber(out, 1);  // bound in-stream
    AppendNumber(out, 0);  // bound out-stream
  }
}

void AppendStreamsInfo(std::vector<uint8_t>& out, const std::vector<FolderRecord>& folders) {
  out.push_back(kPackInfo);
  AppendNumber(out, 0);  // the packed streams start right after the start header
  uint64_t streams = 0;
  for (const FolderRecord& f : folders) streams += f.streams.size();
  AppendNumber(out, streams);
  out.push_back(kSize);
  for (const FolderRecord& f : folders) {
    for (const PackedStream& s : f.streams) AppendNumber(out, s.packed_size);
  }
  out.push_back(kEnd);

  out.push_back(kUnpackInfo);
  out.push_back(kFolder);
  AppendNumber(out, folders.size());
  out.push_back(0);  // not external
  for (const FolderRecord& f : folders) AppendFolder(out, f);
  // Every coder's output size, in coder order.
  out.push_back(kCodersUnpackSize);
  for (const FolderRecord& f : folders) {
    switch (f.filter) {
      case FolderFilter::kNone:
        AppendNumber(out, f.unpacked_size);
        break;
      case FolderFilter::kX86Branch:
        AppendNumber(out, f.unpacked_size);  // LZMA's output
        AppendNumber(out, f.unpacked_size);  // the filter's, the same size
        break;
      case FolderFilter::kBcj2:
        AppendNumber(out, f.unpacked_size);
        for (size_t i = 0; i < 3; ++i) AppendNumber(out, f.streams[i].unpacked_size);
        break;
    }
  }
  out.push_back(kEnd);

  // Each file's size but the last of each folder (that one is the rest), and every file's CRC:
  // the folders carry none of their own, so each file is checked as it is installed.
  out.push_back(kSubStreamsInfo);
  out.push_back(kNumUnpackStream);
  for (const FolderRecord& f : folders) AppendNumber(out, f.file_sizes.size());
  out.push_back(kSize);
  for (const FolderRecord& f : folders) {
    for (size_t i = 0; i + 1 < f.file_sizes.size(); ++i) AppendNumber(out, f.file_sizes[i]);
  }
  out.push_back(kCrc);
  out.push_back(1);  // all defined
  for (const FolderRecord& f : folders) {
    for (uint32_t crc : f.file_crcs) AppendLittleEndian(out, crc, 4);
  }
  out.push_back(kEnd);
  out.push_back(kEnd);
}

void AppendFilesInfo(std::vector<uint8_t>& out, const std::vector<HeaderEntry>& entries,
                     bool has_time, uint64_t filetime) {
  out.push_back(kFilesInfo);
  AppendNumber(out, entries.size());
  std::vector<bool> empty_stream, empty_file;
  for (const HeaderEntry& e : entries) {
    empty_stream.push_back(!e.has_data);
    if (!e.has_data) empty_file.push_back(!e.is_folder);
  }
  if (!empty_file.empty()) {
    AppendProperty(out, kEmptyStream, BitVector(empty_stream));
    bool any_file = false;
    for (bool b : empty_file) any_file = any_file || b;
    if (any_file) AppendProperty(out, kEmptyFile, BitVector(empty_file));
  }
  std::vector<uint8_t> names{0};  // not external
  for (const HeaderEntry& e : entries) {
    for (char16_t c : e.name) AppendLittleEndian(names, c, 2);
    AppendLittleEndian(names, 0, 2);
  }
  AppendProperty(out, kNames, names);
  if (has_time) {
    std::vector<uint8_t> times{1, 0};  // all defined, not external
    for (size_t i = 0; i < entries.size(); ++i) AppendLittleEndian(times, filetime, 8);
    AppendProperty(out, kModificationTime, times);
  }
  std::vector<uint8_t> attributes{1, 0};
  for (const HeaderEntry& e : entries) {
    AppendLittleEndian(attributes, e.is_folder ? kFolderAttributes : kFileAttributes, 4);
  }
  AppendProperty(out, kWinAttributes, attributes);
  out.push_back(kEnd);
}

}  // namespace

void AppendNumber(std::vector<uint8_t>& out, uint64_t value) {
  uint8_t first = 0;
  uint8_t mask = 0x80;
  int extra = 0;
  for (; extra < 8; ++extra) {
    if (value < (uint64_t{1} << (7 * (extra + 1)))) {
      first |= static_cast<uint8_t>(value >> (8 * extra));
      break;
    }
    first |= mask;
    mask >>= 1;
  }
  out.push_back(first);
  AppendLittleEndian(out, value, extra);
}

std::vector<uint8_t> BuildHeader(const std::vector<FolderRecord>& folders,
                                 const std::vector<HeaderEntry>& entries, bool has_time,
                                 uint64_t filetime) {
  std::vector<uint8_t> out{kHeader};
  if (!folders.empty()) {
    out.push_back(kMainStreamsInfo);
    AppendStreamsInfo(out, folders);
  }
  AppendFilesInfo(out, entries, has_time, filetime);
  out.push_back(kEnd);
  return out;
}

std::vector<uint8_t> BuildEncodedHeader(uint64_t pack_position, uint64_t packed_size,
                                        const std::vector<uint8_t>& lzma_properties,
                                        uint64_t header_size, uint32_t header_crc) {
  std::vector<uint8_t> out{kEncodedHeader, kPackInfo};
  AppendNumber(out, pack_position);
  AppendNumber(out, 1);
  out.push_back(kSize);
  AppendNumber(out, packed_size);
  out.push_back(kEnd);
  out.push_back(kUnpackInfo);
  out.push_back(kFolder);
  AppendNumber(out, 1);
  out.push_back(0);
  AppendNumber(out, 1);
  AppendLzmaCoder(out, lzma_properties);
  out.push_back(kCodersUnpackSize);
  AppendNumber(out, header_size);
  out.push_back(kCrc);
  out.push_back(1);
  AppendLittleEndian(out, header_crc, 4);
  out.push_back(kEnd);
  out.push_back(kEnd);
  return out;
}

std::vector<uint8_t> BuildStartHeader(uint64_t header_offset, uint64_t header_size,
                                      uint32_t header_crc) {
  std::vector<uint8_t> out(kSignature, kSignature + sizeof(kSignature));
  out.push_back(kMajorVersion);
  out.push_back(kMinorVersion);
  std::vector<uint8_t> rest;
  AppendLittleEndian(rest, header_offset, 8);
  AppendLittleEndian(rest, header_size, 8);
  AppendLittleEndian(rest, header_crc, 4);
  AppendLittleEndian(out, Crc32(rest.data(), rest.size()), 4);
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
  // zlib's CRC-32 is 7z's: the same polynomial, reflected, starting from and ending with ~0.
  while (size > 0) {
    const uInt piece = size > (1u << 30) ? (1u << 30) : static_cast<uInt>(size);
    crc = static_cast<uint32_t>(crc32(crc, data, piece));
    data += piece;
    size -= piece;
  }
  return crc;
}
