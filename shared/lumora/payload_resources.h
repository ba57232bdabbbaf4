// What an installer image carries as its payload: the resource types and the order in which the
// stub scans them, the prefixes that tell the archive from the setup program, the names of the
// files the stub writes and of those the packer gives the members, the previous version's
// resource, and the Windows errors that say why a payload was refused.
#pragma once

#include <stdint.h>

#include "lumora/ascii_text.h"

// The type a member stands in says how it is stored:
//
//   type   as the archive                          as the setup program
//   "B7"   packed: named with --install-archive    a patch, rebuilt by the installed setup program
//   "BL"   handed on: --uncompressed-archive       a cabinet, expanded into "setup.exe"
//   "BN"   handed on: --uncompressed-archive       stored as it is, written as "setup.exe"
//
// The enumerators are in the order of the stub's scan, which decides which type an error is
// reported under and which type records a member first.
enum class PayloadType : uint8_t {
  kPacked,   // "B7"
  kCabinet,  // "BL"
  kPlain,    // "BN"
};
inline constexpr PayloadType kPayloadTypeOrder[] = {PayloadType::kPacked, PayloadType::kCabinet,
                                                    PayloadType::kPlain};
// The resource type names, compared exactly, indexed by PayloadType.
inline constexpr AsciiText<3> kPayloadTypeNames[] = {AsciiText<3>("B7"), AsciiText<3>("BL"),
                                                     AsciiText<3>("BN")};
constexpr const AsciiText<3>& PayloadTypeName(PayloadType type) {
  return kPayloadTypeNames[static_cast<uint8_t>(type)];
}

// A member's resource name begins with one of these, ASCII letters in either case.
inline constexpr AsciiText kArchivePrefix("lumora");
inline constexpr AsciiText kSetupPrefix("setup");

// What a cabinet expands into and a patch is rebuilt as; a plain setup program is written as it
// whatever its resource name.
inline constexpr AsciiText kSetupExeName("setup.exe");

// The names the packer gives the members unless told otherwise, upper-case as resource compilers
// store names and as Windows looks them up: the archive, then the setup program by its type.
inline constexpr AsciiText kDefaultArchiveName("LUMORA.PACKED.7Z");
inline constexpr AsciiText kDefaultCabinetName("SETUP.EX_");
inline constexpr AsciiText kDefaultPlainName("SETUP.EXE");
inline constexpr AsciiText kDefaultPatchName("SETUP.PATCH");

// The version an update replaces: a terminated UTF-16 string in this resource, if there is one.
inline constexpr uint16_t kPreviousVersionType = 10;  // RT_RCDATA
inline constexpr uint16_t kPreviousVersionId = 1;

// Why a payload was refused: the Windows error that goes with EXIT_ARCHIVE_UNPACK_FAILED or
// EXIT_SETUP_UNPACK_FAILED as the run's extra. Numbers here, for the packer's sake; the stub
// checks them against winerror.h where it uses them.
inline constexpr uint32_t kPayloadErrorMemberMissing = 2;      // ERROR_FILE_NOT_FOUND
inline constexpr uint32_t kPayloadErrorUnknownName = 13;       // ERROR_INVALID_DATA
// A resource directory or a setup cabinet that the shared rules refuse (resource_directory.h,
// setup_cabinet_rules.h).
inline constexpr uint32_t kPayloadErrorMalformed = 13;         // ERROR_INVALID_DATA
inline constexpr uint32_t kPayloadErrorSecondMember = 68;      // ERROR_TOO_MANY_NAMES
inline constexpr uint32_t kPayloadErrorNotAFileName = 123;     // ERROR_INVALID_NAME
inline constexpr uint32_t kPayloadErrorNameTooLong = 206;      // ERROR_FILENAME_EXCED_RANGE
