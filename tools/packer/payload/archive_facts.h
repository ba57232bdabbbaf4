// The application's archive as the setup program we ship reads it: its format, the methods and
// filters of its folders, its dictionary, how many files it holds and how large they are
// unpacked, and whether the setup program would install it or exit with one of its own codes
// before writing anything. The decision is the setup program's own (seven_zip/install_check.h,
// compiled into both programs), so that what check predicts is what the run does.
#pragma once

#include <cstdint>
#include <string>

#include "platform/byte_source.h"
#include "seven_zip/install_check.h"

struct ArchiveFacts {
  enum class Format : uint8_t {
    kSevenZip,      // a 7z archive, whether its header reads or not
    kPatchArchive,  // an update's patch archive ("LUMPATCH", docs/patch-archive.md)
    kOther,         // neither
  };
  Format format = Format::kOther;
  InstallCheck check;          // the setup program's decision (not made for a patch archive)
  uint32_t setup_exit_code = 0;  // what the setup program exits with before writing; 0: it goes on
  // For a 7z archive whose header reads:
  bool listed = false;
  std::string methods;        // "LZMA:64m + BCJ", "LZMA2:16m + LZMA:256k + BCJ2", "stored"
  uint64_t dictionary = 0;    // the largest LZMA or LZMA2 dictionary, 0 for none
  uint64_t files = 0;         // entries that are files, empty ones included
  uint64_t directories = 0;
  uint64_t unpacked_size = 0;
  uint64_t blocks = 0;        // 7z folders: the solid blocks that hold the files' bytes

  bool SetupRefuses() const { return setup_exit_code != 0; }
};

// Reads the archive's start and, for a 7z archive, its header; never fails (an archive that
// cannot be read is described as such).
ArchiveFacts ReadArchiveFacts(const ByteSource& archive);

// Why the setup program refuses the archive, for people ("it uses PPMD, a method the setup
// program does not decode"); empty when it does not.
std::string SetupRefusalText(const ArchiveFacts& facts);

// The name of one of the setup program's exit codes ("SETUP_EXIT_METHOD_UNSUPPORTED"), or null.
const char* SetupExitCodeName(uint32_t code);

// "64 MiB", "256 KiB", "1000 bytes": a dictionary as 7-Zip's settings name it.
std::string DictionaryText(uint64_t bytes);
