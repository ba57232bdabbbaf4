// Member names that an installer nobody vouches for may carry, with what the stub ends with on
// each: one table, read by the stub's tests (the names attached through the platform's resource
// updater), the packer's tests (check's verdict on them, pack's refusal of them) and the parity
// corpus (the stub and check on the same installers). Names are upper-case, as the loader finds
// them (it upper-cases the name it looks for). The archive stands in "B7"; a setup program's name
// goes with the setup type given.
#pragma once

#include <stdint.h>

#include "lumora/exit_codes.h"
#include "lumora/payload_resources.h"
#include "lumora/payload_rules.h"

struct HostileName {
  const char* what;
  PayloadMember member;    // which member bears the name
  PayloadType setup_type;  // the setup program's type (a cabinet, a patch, a plain program)
  const char16_t* name;
  // What the stub ends with before anything is written; EXIT_OK: it goes on (the name is not used
  // as a file name).
  uint32_t code;
  uint32_t extra;
  // Whether a file could land outside the work directory, or over another member's file, if the
  // name were used as it stands.
  bool escapes;
  // Whether the stub's check of its own resource directory refuses the name before the scan
  // meets it (a unit beyond ASCII, which the loader's lookup upper-cases with tables of its own):
  // a whole run then ends with kMalformedDirectory, the scan alone with code and extra.
  bool directory_refuses;
};

inline constexpr uint32_t kNotAFileName = kPayloadErrorNotAFileName;

inline constexpr HostileName kHostileNames[] = {
    {"traversal with backslashes", PayloadMember::kArchive, PayloadType::kCabinet,
     u"LUMORA\\..\\..\\VICTIM.TXT", EXIT_ARCHIVE_UNPACK_FAILED, kNotAFileName, true, false},
    {"traversal with slashes", PayloadMember::kArchive, PayloadType::kCabinet,
     u"LUMORA/../../VICTIM.TXT", EXIT_ARCHIVE_UNPACK_FAILED, kNotAFileName, true, false},
    {"an alternate data stream", PayloadMember::kArchive, PayloadType::kCabinet,
     u"LUMORA.7Z:STREAM", EXIT_ARCHIVE_UNPACK_FAILED, kNotAFileName, true, false},
    {"a final dot, which Windows drops", PayloadMember::kArchive, PayloadType::kCabinet,
     u"LUMORA.PACKED.7Z.", EXIT_ARCHIVE_UNPACK_FAILED, kNotAFileName, true, false},
    {"two dots", PayloadMember::kArchive, PayloadType::kCabinet, u"LUMORA..7Z",
     EXIT_ARCHIVE_UNPACK_FAILED, kNotAFileName, false, false},
    {"a terminal escape sequence", PayloadMember::kArchive, PayloadType::kCabinet,
     u"LUMORA\x1B[2J\x1B[H", EXIT_ARCHIVE_UNPACK_FAILED, kNotAFileName, false, false},
    {"a carriage return and a fake verdict", PayloadMember::kArchive, PayloadType::kCabinet,
     u"LUMORA\rVERDICT: ACCEPTED", EXIT_ARCHIVE_UNPACK_FAILED, kNotAFileName, false, false},
    {"a right-to-left override", PayloadMember::kArchive, PayloadType::kCabinet,
     u"LUMORA\u202EEXE.7Z", EXIT_ARCHIVE_UNPACK_FAILED, kNotAFileName, false, true},
    {"a letter outside ASCII", PayloadMember::kArchive, PayloadType::kCabinet,
     u"LUMORA\u00C4.7Z", EXIT_ARCHIVE_UNPACK_FAILED, kNotAFileName, false, true},
    {"setup program: traversal", PayloadMember::kSetup, PayloadType::kCabinet,
     u"SETUP\\..\\..\\VICTIM.TXT", EXIT_SETUP_UNPACK_FAILED, kNotAFileName, true, false},
    {"setup program: a stream", PayloadMember::kSetup, PayloadType::kCabinet, u"SETUP.EX_:S",
     EXIT_SETUP_UNPACK_FAILED, kNotAFileName, true, false},
    {"setup program: an escape sequence", PayloadMember::kSetup, PayloadType::kCabinet,
     u"SETUP\x1B]0;PWNED\x07.EX_", EXIT_SETUP_UNPACK_FAILED, kNotAFileName, false, false},
    {"a patch named as the file it is rebuilt into", PayloadMember::kSetup, PayloadType::kPacked,
     u"SETUP.EXE", EXIT_SETUP_UNPACK_FAILED, kNotAFileName, true, false},
    {"a patch named so with a final dot", PayloadMember::kSetup, PayloadType::kPacked,
     u"SETUP.EXE.", EXIT_SETUP_UNPACK_FAILED, kNotAFileName, true, false},
    // The expansion cannot replace the cabinet it reads: it fails, with no detail.
    {"a cabinet named as the file it expands into", PayloadMember::kSetup, PayloadType::kCabinet,
     u"SETUP.EXE", EXIT_SETUP_UNPACK_FAILED, 0, true, false},
    // An uncompressed setup program is always written as "setup.exe": its name is never used.
    {"an uncompressed setup program's traversal, unused", PayloadMember::kSetup,
     PayloadType::kPlain, u"SETUP\\..\\..\\VICTIM.TXT", EXIT_OK, 0, false, false},
};
