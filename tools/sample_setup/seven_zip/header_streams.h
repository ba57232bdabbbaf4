// What the header's StreamsInfo says, before it is placed in the archive: shared by the main
// header and the description of a compressed header, which has the same form.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/decode_status.h"
#include "seven_zip/archive.h"
#include "seven_zip/header_cursor.h"

struct HeaderStreams {
  uint64_t pack_position = 0;  // after the start header
  std::vector<uint64_t> pack_sizes;
  std::vector<SevenZipFolderCoding> folders;
  std::vector<bool> folder_crc_defined;
  std::vector<uint32_t> folder_crcs;
  std::vector<uint64_t> substream_counts;  // per folder
  std::vector<uint64_t> substream_sizes;   // all folders' substreams in order
  std::vector<bool> substream_crc_defined;
  std::vector<uint32_t> substream_crcs;
};

// Reads a StreamsInfo up to and including its kEnd.
SevenZipStatus ReadStreamsInfo(seven_zip_header::HeaderCursor& in, HeaderStreams& streams);

// Places the packed streams before header_offset and makes the archive's folders of them.
SevenZipStatus MapStreams(const HeaderStreams& streams, uint64_t header_offset,
                          SevenZipArchive& archive);

// The reader's status for a decoder's.
SevenZipStatus FromDecodeStatus(DecodeStatus status);
