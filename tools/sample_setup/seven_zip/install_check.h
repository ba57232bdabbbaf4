// Whether the setup program can install an archive, decided from its header alone before anything
// is written: the setup program asks it first thing, and the packer asks the same function of the
// archive it packs beside our setup program, so that the packer's prediction and the setup
// program's exit code are one decision, never two that could drift apart.
#pragma once

#include <cstdint>

#include "decode/byte_source.h"
#include "seven_zip/archive.h"

// The memory decoding may take: the largest dictionary 7-Zip writes and 16 MiB besides.
constexpr uint64_t kInstallMemoryLimit = kMaxDictionarySize + (uint64_t{16} << 20);

struct InstallCheck {
  SevenZipStatus status = SevenZipStatus::kOk;
  // For kUnsupportedMethod: the first coder of a folder that the decoder does not know, when a
  // folder's coder is the reason (has_method); an encrypted or otherwise undecodable header
  // names none.
  bool has_method = false;
  uint64_t method = 0;
};

// Reads the archive's listing into archive and decides: kOk when the header reads and every
// folder's coders decode within kInstallMemoryLimit; else the reason, as OpenSevenZip gives it,
// or kUnsupportedMethod for a coder or a folder's memory beyond what installs.
InstallCheck CheckArchiveForInstall(ArchiveSource& source, SevenZipArchive& archive);

// The setup program's exit code for the outcome of reading or installing an archive
// (lumora/setup_exit_codes.h; 0 for kOk).
uint32_t SetupExitCodeFor(SevenZipStatus status);
