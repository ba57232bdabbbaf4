#include "pe/program_image.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

// An import table longer than this is not read; refusing it bounds what is read.
constexpr uint32_t kMostImportedDlls = 1024;
constexpr uint32_t kLongestDllName = 256;

constexpr uint16_t kMachineX86 = 0x014C;
constexpr uint16_t kMachineArm = 0x01C4;
constexpr uint16_t kMachineArm64 = 0xAA64;
constexpr uint16_t kSubsystemWindowsConsole = 3;

// DLLs that every 64-bit Windows 10 and 11 carries in System32, among those programs import.
// The API sets ("api-ms-win-...", "ext-ms-...") resolve to system DLLs too.
constexpr const char* kWindowsDlls[] = {
    "advapi32.dll", "authz.dll", "avrt.dll", "bcrypt.dll", "bcryptprimitives.dll", "cabinet.dll",
    "cfgmgr32.dll", "combase.dll", "comctl32.dll", "comdlg32.dll", "credui.dll", "crypt32.dll",
    "cryptbase.dll", "cryptsp.dll", "cryptui.dll", "d2d1.dll", "d3d11.dll", "d3d9.dll",
    "dbghelp.dll", "dnsapi.dll", "dpapi.dll", "dwmapi.dll", "dwrite.dll", "dxgi.dll", "gdi32.dll",
    "gdiplus.dll", "hid.dll", "imagehlp.dll", "imm32.dll", "iphlpapi.dll", "kernel32.dll",
    "kernelbase.dll", "ktmw32.dll", "mpr.dll", "msi.dll", "msimg32.dll", "msvcp_win.dll",
    "msvcrt.dll", "mswsock.dll", "ncrypt.dll", "netapi32.dll", "newdev.dll", "normaliz.dll",
    "ntdll.dll", "ole32.dll", "oleacc.dll", "oleaut32.dll", "powrprof.dll", "propsys.dll",
    "psapi.dll", "rpcrt4.dll", "rstrtmgr.dll", "sechost.dll", "secur32.dll", "setupapi.dll",
    "shcore.dll", "shell32.dll", "shfolder.dll", "shlwapi.dll", "sspicli.dll", "ucrtbase.dll",
    "urlmon.dll", "user32.dll", "userenv.dll", "usp10.dll", "uxtheme.dll", "version.dll",
    "virtdisk.dll", "wevtapi.dll", "windowscodecs.dll", "winhttp.dll", "wininet.dll", "winmm.dll",
    "winspool.drv", "wintrust.dll", "wldap32.dll", "ws2_32.dll", "wsock32.dll", "wtsapi32.dll",
};

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%X", value);
  return text;
}

bool StartsWith(const uint8_t* bytes, size_t size, const char* magic, size_t length) {
  return size >= length && std::memcmp(bytes, magic, length) == 0;
}

// Text: no zero bytes and few control characters other than line ends and tabs, in what was read.
bool LooksLikeText(const uint8_t* bytes, size_t size) {
  size_t odd = 0;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t b = bytes[i];
    if (b == 0) return false;
    if (b < 0x20 && b != '\n' && b != '\r' && b != '\t' && b != '\f') ++odd;
  }
  return odd * 100 <= size;
}

// A terminated name of at most kLongestDllName bytes at rva, within one section's file data.
bool ReadName(const PeImage& image, const ByteSource& file, uint32_t rva, std::string& name) {
  uint64_t offset = 0;
  const PeSection* section = image.SectionAt(rva);
  if (section == nullptr || !image.RvaToOffset(rva, 1, offset)) return false;
  const uint64_t room = uint64_t{section->raw_size} - (rva - section->virtual_address);
  std::string bytes(static_cast<size_t>(std::min<uint64_t>(room, kLongestDllName)), '\0');
  std::string ignored;
  if (!file.ReadAt(offset, &bytes[0], bytes.size(), ignored)) return false;
  const size_t end = bytes.find('\0');
  if (end == std::string::npos) return false;
  name = bytes.substr(0, end);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return true;
}

const char* SubsystemWord(uint16_t subsystem) {
  switch (subsystem) {
    case kSubsystemWindowsGui: return "GUI";
    case kSubsystemWindowsConsole: return "console";
    case 1: return "native";
    default: return nullptr;
  }
}

}  // namespace

std::string MachineName(uint16_t machine) {
  switch (machine) {
    case kMachineX86: return "x86";
    case kMachineArm: return "ARM";
    case kMachineArm64: return "ARM64";
    case kMachineAmd64: return "x64";
    default: return "machine " + Hex(machine);
  }
}

bool ImportedDlls(const PeImage& image, const ByteSource& file, std::vector<std::string>& dlls) {
  uint32_t rva = 0, size = 0;
  image.Directory(kDirectoryImport, rva, size);
  if (rva == 0) return true;
  for (uint32_t i = 0; i <= kMostImportedDlls; ++i) {
    uint8_t descriptor[kImportDescriptorSize];
    uint64_t offset = 0;
    std::string ignored;
    if (!image.RvaToOffset(rva + i * kImportDescriptorSize, sizeof(descriptor), offset) ||
        !file.ReadAt(offset, descriptor, sizeof(descriptor), ignored)) {
      return false;
    }
    bool last = true;
    for (uint8_t b : descriptor) last = last && b == 0;
    if (last) return true;
    if (i == kMostImportedDlls) return false;
    std::string name;
    if (!ReadName(image, file, Load32(descriptor + kImportName), name)) return false;
    dlls.push_back(name);
  }
  return false;
}

bool ProgramFacts::IsWindowsX64Program() const {
  return kind == FileKind::kWindowsProgram && pe32_plus && machine == kMachineAmd64 &&
         executable && !dll &&
         (subsystem == kSubsystemWindowsGui || subsystem == kSubsystemWindowsConsole);
}

std::string ProgramFacts::Describe() const {
  switch (kind) {
    case FileKind::kWindowsProgram: {
      const std::string format = pe32_plus ? "PE32+" : "PE32";
      const std::string machine_name = MachineName(machine);
      // "an x64", "an ARM64", "a machine 0x...".
      const std::string article = machine_name[0] == 'x' || machine_name[0] == 'A' ? "an " : "a ";
      if (dll || !executable) {
        return article + machine_name + " DLL, not a program (" + format + ")";
      }
      const char* word = SubsystemWord(subsystem);
      const std::string what =
          word != nullptr ? std::string(word) + " program"
                          : "program for subsystem " + std::to_string(subsystem);
      return article + machine_name + " " + what + " (" + format + ")";
    }
    case FileKind::kDamagedProgram: return "a damaged Windows program (" + damage + ")";
    case FileKind::kDosProgram: return "a DOS program (\"MZ\" without a PE header)";
    case FileKind::kEmpty: return "an empty file";
    case FileKind::kSevenZip: return "a 7z archive";
    case FileKind::kZip: return "a ZIP archive";
    case FileKind::kCabinet: return "a cabinet";
    case FileKind::kWindowsInstaller: return "a Windows Installer package or another OLE file";
    case FileKind::kGzip: return "a gzip file";
    case FileKind::kXz: return "an xz file";
    case FileKind::kText: return "a text file";
    case FileKind::kData: return "data of no kind the packer knows";
  }
  return "data";
}

ProgramFacts DescribeFile(const ByteSource& file) {
  ProgramFacts facts;
  uint8_t head[512] = {};
  const size_t n = static_cast<size_t>(std::min<uint64_t>(file.size(), sizeof(head)));
  std::string error;
  if (file.size() == 0) {
    facts.kind = FileKind::kEmpty;
    return facts;
  }
  if (!file.ReadAt(0, head, n, error)) return facts;
  if (StartsWith(head, n, "MZ", 2)) {
    PeImage image;
    uint8_t signature[4] = {};
    const uint32_t nt = n >= kDosHeaderSize ? Load32(head + kDosNtHeadersOffset) : 0;
    const bool pe = nt != 0 && file.ReadAt(nt, signature, sizeof(signature), error) &&
                    Load32(signature) == kPeSignature;
    if (!pe) {
      facts.kind = FileKind::kDosProgram;
      return facts;
    }
    if (!ReadPeImage(file, image, error)) {
      facts.kind = FileKind::kDamagedProgram;
      facts.damage = error;
      return facts;
    }
    facts.kind = FileKind::kWindowsProgram;
    facts.machine = image.machine;
    facts.pe32_plus = image.pe32_plus;
    facts.dll = (image.characteristics & kCharacteristicsDll) != 0;
    facts.executable = (image.characteristics & kCharacteristicsExecutable) != 0;
    facts.subsystem = image.subsystem;
    facts.imports_read = ImportedDlls(image, file, facts.imports);
    return facts;
  }
  if (StartsWith(head, n, "7z\xBC\xAF\x27\x1C", 6)) {
    facts.kind = FileKind::kSevenZip;
  } else if (StartsWith(head, n, "PK\x03\x04", 4) || StartsWith(head, n, "PK\x05\x06", 4)) {
    facts.kind = FileKind::kZip;
  } else if (StartsWith(head, n, "MSCF", 4)) {
    facts.kind = FileKind::kCabinet;
  } else if (StartsWith(head, n, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)) {
    facts.kind = FileKind::kWindowsInstaller;
  } else if (StartsWith(head, n, "\x1F\x8B", 2)) {
    facts.kind = FileKind::kGzip;
  } else if (StartsWith(head, n, "\xFD" "7zXZ\0", 6)) {
    facts.kind = FileKind::kXz;
  } else if (LooksLikeText(head, n)) {
    facts.kind = FileKind::kText;
  }
  return facts;
}

std::vector<std::string> ImportsOutsideWindows(const ProgramFacts& program) {
  std::vector<std::string> outside;
  for (const std::string& dll : program.imports) {
    if (dll.rfind("api-ms-win-", 0) == 0 || dll.rfind("ext-ms-", 0) == 0) continue;
    if (std::find_if(std::begin(kWindowsDlls), std::end(kWindowsDlls), [&](const char* known) {
          return dll == known;
        }) != std::end(kWindowsDlls)) {
      continue;
    }
    outside.push_back(dll);
  }
  return outside;
}
