// One solid folder of the archive compressed: the group's files read one after the other into
// one LZMA stream in the output; programs first through the four-stream branch converter, whose
// call and jump streams (kept in memory, a few percent of the code) are compressed after the main
// stream and its bit stream stored after them.
// Nothing of a file is held beyond a piece at a time; each file's CRC is taken from its own bytes
// as they are read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_plan.h"
#include "archive/seven_zip_header.h"

class StagedFile;

// The compressor's settings: what decides the archive's size and the packer's time.
struct LzmaSettings {
  uint32_t dictionary = uint32_t{1} << 26;  // the largest window; smaller for smaller data
  // 7-Zip's -mx9 choice: on programs, text and icons it packs as small as 273 (the largest) and
  // a fifth faster (bench/installer_size's corpus: 6000624 against 6005444 bytes).
  int fast_bytes = 64;
  int literal_context = 3;
  int literal_position = 0;
  int position_bits = 2;
  uint32_t match_cycles = 0;  // 0: the encoder's own choice for fast_bytes
};

// The settings for a group: programs and the rest alike, the window cut down to the data (a
// window larger than the data compresses no better and costs the installer's memory).
LzmaSettings SettingsFor(const ArchiveGroup& group);

// The settings for a converter's call or jump stream of size bytes: four-byte targets, so no
// literal context and the position's two low bits instead; a small window (targets repeat near
// each other).
LzmaSettings SideStreamSettings(uint64_t size);

// Compresses group into out (appending at its current end), filling record. False with the
// reason when a file cannot be read or has changed size since it was listed, or the output
// cannot be written.
bool WriteLzmaFolder(const ArchiveGroup& group, const LzmaSettings& settings, StagedFile& out,
                     FolderRecord& record, std::string& error);

// Bytes in memory compressed (the archive's header). properties receives the coder's five bytes.
bool CompressBytes(const std::vector<uint8_t>& in, std::vector<uint8_t>& packed,
                   std::vector<uint8_t>& properties, std::string& error);
