// The rules by which a payload is judged, written once for the two programs that judge it: the
// stub, which scans its own resources and then writes, expands and runs what it found, and the
// packer, which must refuse to write and must call "refused" every installer on which the stub
// would not go on to run the setup program. Each rule is a small function that takes what the
// caller read (names through EnumResourceNamesW in the stub, from the file in the packer) and
// says what the stub does with it, as an exit code and its extra detail.
//
// In the stub's order:
//   0. before any resource is read, the resource directory (resource_directory.h): a directory
//      the rules refuse ends the run with kMalformedDirectory;
//   1. the scan of "B7", "BL" and "BN": each string name it meets (ClassifyMemberName), and the
//      code an error of the scan ends with (ScanFailureCode);
//   2. after the scan, before anything is written: both members found, both names usable as
//      file names (JudgeScannedPayload);
//   3. each member written from the bytes the loader mapped (WhereBytesLie: a member beyond its
//      section's virtual size is not the file's bytes, or not there at all), and a setup cabinet
//      checked (setup_cabinet_rules.h) before the cabinet library reads it: kMalformedCabinet;
//   4. the setup command line, which carries the previous version between double quotes
//      (CanCarryPreviousVersion, LongestPreviousVersion).
#pragma once

#include <stdint.h>

#include "lumora/exit_codes.h"
#include "lumora/member_name.h"
#include "lumora/payload_resources.h"

enum class PayloadMember : uint8_t { kArchive, kSetup };

// --- 1. The scan --------------------------------------------------------------------------------

// The stub's buffer for a member's name, terminator included: a name of this many units or more
// is refused with kPayloadErrorNameTooLong.
inline constexpr uint32_t kMemberNameCapacity = 260;

// Whether text begins with prefix (ASCII, lower case), folding only the ASCII capitals A to Z.
template <typename Unit>
constexpr bool StartsWithAsciiNoCase(const Unit* text, const char* prefix) {
  for (uint32_t i = 0; prefix[i] != 0; ++i) {
    const Unit unit = AsciiLower(text[i]);
    if (unit != static_cast<Unit>(prefix[i])) return false;
  }
  return true;
}

// One string name that the scan meets, with what it has recorded so far (in this type or an
// earlier one). 0 with member set: the name is recorded as that member and the scan goes on.
// Otherwise the error that stops the scan: a name with neither prefix, a second member of a kind,
// a name that does not fit the stub's buffer, judged in that order.
template <typename Unit>
constexpr uint32_t ClassifyMemberName(const Unit* name, bool archive_recorded, bool setup_recorded,
                                      PayloadMember& member) {
  if (StartsWithAsciiNoCase(name, kArchivePrefix.narrow)) {
    member = PayloadMember::kArchive;
  } else if (StartsWithAsciiNoCase(name, kSetupPrefix.narrow)) {
    member = PayloadMember::kSetup;
  } else {
    return kPayloadErrorUnknownName;
  }
  if (member == PayloadMember::kArchive ? archive_recorded : setup_recorded) {
    return kPayloadErrorSecondMember;
  }
  for (uint32_t i = 0; i < kMemberNameCapacity; ++i) {
    if (name[i] == 0) return 0;
  }
  return kPayloadErrorNameTooLong;
}

// An error of the scan fails the archive until the archive's type is recorded, which happens
// only once the walk of the type that found it has ended cleanly.
constexpr uint32_t ScanFailureCode(bool archive_type_recorded) {
  return archive_type_recorded ? EXIT_SETUP_UNPACK_FAILED : EXIT_ARCHIVE_UNPACK_FAILED;
}

// --- 2. After the scan --------------------------------------------------------------------------

struct PayloadOutcome {
  uint32_t code = EXIT_OK;
  uint32_t extra = 0;
};

// A resource directory that the shared rules refuse: the run ends before the scan, after the
// work directory was made, and is recorded. A setup cabinet that they refuse: before the cabinet
// library reads it.
inline constexpr PayloadOutcome kMalformedDirectory = {EXIT_ARCHIVE_UNPACK_FAILED,
                                                       kPayloadErrorMalformed};
inline constexpr PayloadOutcome kMalformedCabinet = {EXIT_SETUP_UNPACK_FAILED,
                                                     kPayloadErrorMalformed};

// How the setup program's type stores it, in the terms of the name rule.
constexpr NamedMember SetupStorage(PayloadType setup_type) {
  return setup_type == PayloadType::kPacked    ? NamedMember::kSetupPatch
         : setup_type == PayloadType::kCabinet ? NamedMember::kSetupCabinet
                                               : NamedMember::kSetupPlain;
}

// Both members must have been found, the archive first; then both names must name a plain file
// of their own in the work directory, the archive's first. Nothing is written before this passes,
// so that a refused setup program leaves no archive behind either.
template <typename Unit>
constexpr PayloadOutcome JudgeScannedPayload(bool archive_found, bool setup_found,
                                             PayloadType setup_type, const Unit* archive_name,
                                             const Unit* setup_name) {
  if (!archive_found) return {EXIT_ARCHIVE_UNPACK_FAILED, kPayloadErrorMemberMissing};
  if (!setup_found) return {EXIT_SETUP_UNPACK_FAILED, kPayloadErrorMemberMissing};
  if (!IsUsableMemberName(NamedMember::kArchive, archive_name)) {
    return {EXIT_ARCHIVE_UNPACK_FAILED, kPayloadErrorNotAFileName};
  }
  if (!IsUsableMemberName(SetupStorage(setup_type), setup_name)) {
    return {EXIT_SETUP_UNPACK_FAILED, kPayloadErrorNotAFileName};
  }
  return {};
}

// The stub's path buffers and its command-line buffer, terminator included.
inline constexpr uint32_t kPathCapacity = 260;
inline constexpr uint32_t kCommandCapacity = 1040;
// The shortest work directory there is: "LM_", five digits, ".tmp" and a backslash beside an
// installer at the root of a drive, "C:\". A path or command line that does not fit from there
// fits from nowhere.
inline constexpr uint32_t kShortestWorkDirectory = 16;
// The longest member name that fits a path beside the shortest work directory.
inline constexpr uint32_t kLongestMemberName = kPathCapacity - 1 - kShortestWorkDirectory;

// --- 3. The bytes the stub writes ---------------------------------------------------------------

// A section as its header gives it, and the loader's page.
struct ImageSection {
  uint32_t virtual_address = 0;
  uint32_t virtual_size = 0;
  uint32_t raw_size = 0;
  uint32_t raw_offset = 0;
};
inline constexpr uint32_t kLoaderPage = 4096;

constexpr uint64_t RoundUpToPage(uint64_t value) {
  return (value + kLoaderPage - 1) / kLoaderPage * kLoaderPage;
}

// What the stub finds at an address of its own image, as the loader maps it: a section's memory
// runs to its virtual size (its file size when the virtual size is 0) rounded up to a page, and
// holds the section's file bytes up to their end within that; the rest of the image up to
// SizeOfImage reads as zeros (under Wine; Windows maps no such image), and beyond it there is
// nothing. The stub writes a member straight from this memory, so a member whose bytes are not
// all the file's writes other bytes, and one that reaches past the image fails its write.
struct LoadedRun {
  enum Kind : uint8_t { kFile, kZeros, kNothing } kind = kNothing;
  uint64_t file_offset = 0;  // for kFile: where the run's first byte lies in the file
  uint64_t length = 0;       // bytes from the address on that are of this kind
};

constexpr LoadedRun LoadedRunAt(const ImageSection* sections, uint32_t count,
                                uint32_t size_of_headers, uint32_t size_of_image, uint64_t rva) {
  const uint64_t image_end = RoundUpToPage(size_of_image);
  if (rva >= image_end) return {LoadedRun::kNothing, 0, 0};
  if (rva < size_of_headers) return {LoadedRun::kFile, rva, size_of_headers - rva};
  // The nearest boundary above rva at which what lies there may change.
  uint64_t next = image_end;
  for (uint32_t i = 0; i < count; ++i) {
    const ImageSection& s = sections[i];
    const uint64_t memory = RoundUpToPage(s.virtual_size != 0 ? s.virtual_size : s.raw_size);
    const uint64_t file = s.raw_size < memory ? s.raw_size : memory;
    const uint64_t start = s.virtual_address;
    if (rva >= start && rva < start + file) {
      return {LoadedRun::kFile, s.raw_offset + (rva - start), start + file - rva};
    }
    if (start > rva && start < next) next = start;
  }
  return {LoadedRun::kZeros, 0, next - rva};
}

enum class MappedBytes : uint8_t {
  kFromFile,     // every byte is the file's: the member is written as it was packed
  kNotFromFile,  // all mapped, but some bytes are zeros: the member is written with them
  kUnmapped,     // some bytes lie beyond the image: the write fails (ERROR_INVALID_USER_BUFFER)
};

constexpr MappedBytes WhereBytesLie(const ImageSection* sections, uint32_t count,
                                    uint32_t size_of_headers, uint32_t size_of_image,
                                    uint64_t rva, uint64_t size) {
  MappedBytes where = MappedBytes::kFromFile;
  for (uint64_t at = rva; at < rva + size;) {
    const LoadedRun run = LoadedRunAt(sections, count, size_of_headers, size_of_image, at);
    if (run.kind == LoadedRun::kNothing || run.length == 0) return MappedBytes::kUnmapped;
    if (run.kind == LoadedRun::kZeros) where = MappedBytes::kNotFromFile;
    at += run.length;
  }
  return where;
}

// What the stub's write of an unmapped member fails with, as seen under Wine. Windows may fail it
// with ERROR_NOACCESS instead, or refuse to load such an image at all.
inline constexpr uint32_t kUnmappedWriteError = 1784;  // ERROR_INVALID_USER_BUFFER

// --- 4. The setup command line ------------------------------------------------------------------

// The switches of the install invocation.
inline constexpr AsciiText kInstallArchiveSwitch("install-archive");
inline constexpr AsciiText kUncompressedArchiveSwitch("uncompressed-archive");
inline constexpr AsciiText kPreviousVersionSwitch("previous-version");

// A control character of Unicode (C0, DEL or C1): never part of a version, and on a command
// line or a terminal one that ends the line, moves the cursor or starts an escape sequence.
template <typename Unit>
constexpr bool IsControlCharacter(Unit unit) {
  const uint32_t value = static_cast<uint32_t>(unit);
  return value < 0x20 || (value >= 0x7F && value <= 0x9F);
}

// Whether the setup command line can carry the previous version intact between its double
// quotes: a quote inside it would end the argument, a backslash before the closing quote would
// escape that quote (so that the switches after it run into the version), and a control
// character is no part of a version. The stub ends the run with EXIT_COMMAND_LINE_TOO_LONG
// before it starts anything when this is false, as for a command line that does not fit.
template <typename Unit>
constexpr bool CanCarryPreviousVersion(const Unit* version) {
  Unit last = 0;
  for (const Unit* p = version; *p != 0; ++p) {
    if (*p == '"' || IsControlCharacter(*p)) return false;
    last = *p;
  }
  return last != '\\';
}

// The longest previous version for which the install command line,
//   "<dir>setup.exe" --install-archive="<dir><archive>" --previous-version="<version>"
// ("uncompressed-archive" for an archive of another type than "B7"), fits the stub's buffer from
// the shortest work directory; a longer one fits from nowhere.
constexpr uint32_t LongestPreviousVersion(uint32_t archive_name_units, PayloadType archive_type) {
  const uint32_t archive_switch = archive_type == PayloadType::kPacked
                                      ? sizeof(kInstallArchiveSwitch.narrow) - 1
                                      : sizeof(kUncompressedArchiveSwitch.narrow) - 1;
  // Two quotes around the setup path, " --" and "=" and two quotes for each switch.
  const uint32_t fixed = 2 + (sizeof(kSetupExeName.narrow) - 1) + 2 * (3 + 1 + 2) +
                         archive_switch + (sizeof(kPreviousVersionSwitch.narrow) - 1);
  const uint32_t used = fixed + 2 * kShortestWorkDirectory + archive_name_units;
  return used < kCommandCapacity - 1 ? kCommandCapacity - 1 - used : 0;
}
