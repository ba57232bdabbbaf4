// Which payload resource names may become file names in the work directory. A member's resource
// name is appended to the work directory's path, so a hostile name could otherwise leave the
// directory ("LUMORA\..\..\x"), open an alternate data stream ("LUMORA.7Z:s"), or name the same
// file as another member ("SETUP.EXE." is "setup.exe" to Windows, which drops trailing dots).
// The stub and the packer judge names by these same functions; the character type is the stub's
// 16-bit wchar_t or the packer's char16_t.
#pragma once

#include <stdint.h>

#include "lumora/payload_resources.h"

// True when every unit is an ASCII letter, digit, '.', '_' or '-', no two dots stand together,
// and the last unit is not a dot. The empty name is not a file name. The "lumora" and "setup"
// prefixes that every member name carries already keep device names (NUL, CON, ...) out.
template <typename Unit>
constexpr bool IsPlainFileName(const Unit* name) {
  if (name == nullptr || name[0] == 0) return false;
  Unit previous = 0;
  for (const Unit* p = name; *p != 0; ++p) {
    const Unit unit = *p;
    const bool letter = (unit >= 'A' && unit <= 'Z') || (unit >= 'a' && unit <= 'z');
    const bool digit = unit >= '0' && unit <= '9';
    if (!letter && !digit && unit != '.' && unit != '_' && unit != '-') return false;
    if (unit == '.' && previous == '.') return false;
    previous = unit;
  }
  return previous != '.';
}

// True when name is "setup.exe" in any ASCII letter case: the file that a cabinet expands into
// and that the patch program writes.
template <typename Unit>
constexpr bool IsSetupExeName(const Unit* name) {
  if (name == nullptr) return false;
  for (uint32_t i = 0;; ++i) {
    const Unit unit = AsciiLower(name[i]);
    if (unit != static_cast<Unit>(kSetupExeName.narrow[i])) return false;
    if (unit == 0) return true;
  }
}

// The member whose name is judged, by the storage its type gives it.
enum class NamedMember : uint8_t {
  kArchive,      // written under its name
  kSetupPatch,   // "B7": written under its name, then rebuilt into "setup.exe"
  kSetupCabinet, // "BL": written under its name, then expanded into "setup.exe"
  kSetupPlain,   // "BN": always written as "setup.exe", whatever its name
};

// True when the member's name is safe to write under. A patch named "setup.exe" is refused: the
// patch program would be asked to write over its own input. A cabinet of that name passes here
// and fails at its expansion, as it always has (the expansion cannot replace the open cabinet).
template <typename Unit>
constexpr bool IsUsableMemberName(NamedMember member, const Unit* name) {
  switch (member) {
    case NamedMember::kSetupPlain:
      return true;
    case NamedMember::kSetupPatch:
      return IsPlainFileName(name) && !IsSetupExeName(name);
    case NamedMember::kArchive:
    case NamedMember::kSetupCabinet:
      return IsPlainFileName(name);
  }
  return false;
}
