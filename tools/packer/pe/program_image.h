// What a file is, as far as starting it as a program goes: a Windows program for a machine and a
// subsystem with the DLLs it imports, a DOS program, or no program at all, and then which kind
// of file it looks like instead (an archive, a cabinet, text). The packer asks this of the setup
// program it is given and of the file its cabinet expands to, and check of what an installer
// carries; a release engineer who swapped two files is told what each one is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_source.h"
#include "pe/pe_image.h"

enum class FileKind : uint8_t {
  kWindowsProgram,  // a PE image ("MZ", then "PE\0\0" and headers that read)
  kDamagedProgram,  // "MZ" and "PE\0\0", but headers that do not read
  kDosProgram,      // "MZ" without a PE header after it
  kEmpty,
  kSevenZip,
  kZip,
  kCabinet,
  kWindowsInstaller,  // an OLE compound file (.msi)
  kGzip,
  kXz,
  kText,
  kData,            // none of the above
};

struct ProgramFacts {
  FileKind kind = FileKind::kData;
  // For a Windows program:
  uint16_t machine = 0;
  bool pe32_plus = false;
  bool dll = false;
  bool executable = false;
  uint16_t subsystem = 0;
  bool imports_read = false;         // the import table was read whole
  std::vector<std::string> imports;  // DLL names, lower-case, in table order
  std::string damage;                // for kDamagedProgram: why the headers do not read

  // A 64-bit (x64) executable for the Windows GUI or console subsystem: what the packer takes as
  // a setup program and what starts on every 64-bit Windows.
  bool IsWindowsX64Program() const;
  // "a 7z archive", "an x64 console program (PE32+)", "an x86 DLL (PE32)", ...
  std::string Describe() const;
};

// Reads what the file is. Never fails: a file that cannot be read is data.
ProgramFacts DescribeFile(const ByteSource& file);

// The imports of a program that are not DLLs of Windows itself (a C or C++ runtime of a
// compiler, a library of the application): a setup program that needs them fails to start on a
// machine without them, since the stub extracts only setup.exe and the archive.
std::vector<std::string> ImportsOutsideWindows(const ProgramFacts& program);

// The imported DLLs' names, lower-case, in table order; false when the table cannot be read (it
// lies outside the file's section data, lists more than 64 DLLs, or names one in more than 256
// bytes).
bool ImportedDlls(const PeImage& image, const ByteSource& file, std::vector<std::string>& dlls);

// "x86", "x64", "ARM64", or "machine 0x1234".
std::string MachineName(uint16_t machine);
