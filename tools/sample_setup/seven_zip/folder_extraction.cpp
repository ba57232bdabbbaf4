#include "seven_zip/folder_extraction.h"

#include <algorithm>
#include <vector>

#include "decode/folder_decoder.h"
#include "seven_zip/crc32.h"
#include "seven_zip/header_streams.h"

namespace {


}  // namespace

SevenZipStatus ExtractFolder(ArchiveSource& source, const SevenZipArchive& archive,
                             size_t folder_index, uint64_t memory_limit,
                             SevenZipFileReceiver& receiver) {
  const SevenZipFolder& folder = archive.folders[folder_index];
  const size_t first = folder.first_packed_stream;
  const size_t count = folder.coding.packed_streams.size();
  const std::vector<uint64_t> offsets(archive.packed_offsets.begin() + first,
                                      archive.packed_offsets.begin() + first + count);
  const std::vector<uint64_t> sizes(archive.packed_sizes.begin() + first,
                                    archive.packed_sizes.begin() + first + count);
  FolderDecoder decoder;
  SevenZipStatus status =
      FromDecodeStatus(decoder.Open(folder.coding, source, offsets, sizes, memory_limit));
  if (status != SevenZipStatus::kOk) return status;
  std::vector<unsigned char> buffer(size_t{1} << 16);
  uint32_t folder_crc = 0;
  size_t done = 0;
  for (size_t i = folder.first_file; done < folder.file_count && i < archive.files.size(); ++i) {
    const SevenZipFile& file = archive.files[i];
    if (file.folder != folder_index) continue;
    ++done;
    status = receiver.Begin(i);
    if (status != SevenZipStatus::kOk) return status;
    uint32_t crc = 0;
    for (uint64_t left = file.size; left > 0;) {
      const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
      status = FromDecodeStatus(ReadFully(decoder.Output(), buffer.data(), chunk));
      if (status != SevenZipStatus::kOk) return status;
      crc = Crc32(crc, buffer.data(), chunk);
      if (folder.has_crc) folder_crc = Crc32(folder_crc, buffer.data(), chunk);
      status = receiver.Write(buffer.data(), chunk);
      if (status != SevenZipStatus::kOk) return status;
      left -= chunk;
    }
    if (file.has_crc && crc != file.crc) return SevenZipStatus::kDamaged;
    status = receiver.End(i);
    if (status != SevenZipStatus::kOk) return status;
  }
  if (done != folder.file_count) return SevenZipStatus::kDamaged;
  // The folder's files cover its bytes (the header's sizes add up to it), so its CRC is complete.
  if (folder.has_crc && folder.file_count > 0 && folder_crc != folder.crc) {
    return SevenZipStatus::kDamaged;
  }
  return SevenZipStatus::kOk;
}
