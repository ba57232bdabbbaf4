#include "bare_stub.h"

#include <cctype>
#include <cstdio>

namespace {

// The DLLs the stub imports from, and nothing else.
constexpr const char* kStubImports[] = {"kernel32.dll", "advapi32.dll", "shell32.dll"};
// An import table longer than this is not the stub's; refusing it bounds what is read.
constexpr uint32_t kMostImportedDlls = 64;
constexpr uint32_t kLongestDllName = 256;
// The load configuration must reach DependentLoadFlags.
constexpr uint32_t kLoadConfigurationWithFlags = kLoadConfigurationDependentLoadFlags + 2;

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%X", value);
  return text;
}

std::string MachineName(uint16_t machine) {
  switch (machine) {
    case 0x014C: return "x86";
    case 0x01C4: return "ARM";
    case 0xAA64: return "ARM64";
    case kMachineAmd64: return "x64";
    default: return "machine " + Hex(machine);
  }
}

// A terminated name of at most kLongestDllName bytes at rva, within one section's file data.
bool ReadName(const PeImage& image, const InputFile& file, uint32_t rva, std::string& name) {
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

// The imported DLLs' names, lower-case, in table order; false when the table cannot be read.
bool ImportedDlls(const PeImage& image, const InputFile& file, std::vector<std::string>& dlls) {
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

bool KeepsDependenciesInSystem32(const PeImage& image, const InputFile& file) {
  uint32_t rva = 0, size = 0;
  image.Directory(kDirectoryLoadConfiguration, rva, size);
  uint8_t record[kLoadConfigurationWithFlags];
  uint64_t offset = 0;
  std::string ignored;
  return size >= sizeof(record) && image.RvaToOffset(rva, sizeof(record), offset) &&
         file.ReadAt(offset, record, sizeof(record), ignored) &&
         Load32(record + kLoadConfigurationSize) >= sizeof(record) &&
         (Load16(record + kLoadConfigurationDependentLoadFlags) & kLoadLibrarySearchSystem32) != 0;
}

}  // namespace

bool CheckBareStub(const PeImage& image, const InputFile& file, std::string& error) {
  const std::string prefix = "is not the bare stub: it ";
  if (image.machine != kMachineAmd64 || !image.pe32_plus) {
    error = prefix + "is built for " + MachineName(image.machine) +
            (image.pe32_plus ? "" : " (PE32)") + "; the stub is a 64-bit x64 image";
    return false;
  }
  if ((image.characteristics & kCharacteristicsDll) != 0 ||
      (image.characteristics & kCharacteristicsExecutable) == 0) {
    error = prefix + "is a DLL or no executable";
    return false;
  }
  if (image.subsystem != kSubsystemWindowsGui) {
    error = prefix + "is a program of subsystem " + std::to_string(image.subsystem) +
            (image.subsystem == 3 ? " (console)" : "") +
            "; the stub is a GUI program that never opens a window";
    return false;
  }
  std::vector<std::string> dlls;
  if (!ImportedDlls(image, file, dlls)) {
    error = prefix + "has an import table that cannot be read";
    return false;
  }
  bool kernel32 = false;
  for (const std::string& dll : dlls) {
    bool known = false;
    for (const char* allowed : kStubImports) known = known || dll == allowed;
    if (!known) {
      error = prefix + "imports from " + dll +
              "; the stub imports from kernel32.dll, advapi32.dll and shell32.dll only";
      return false;
    }
    kernel32 = kernel32 || dll == kStubImports[0];
  }
  if (!kernel32) {
    error = prefix + "imports nothing from kernel32.dll, as the stub does";
    return false;
  }
  if (!KeepsDependenciesInSystem32(image, file)) {
    error = prefix + "has no load configuration that keeps its DLLs' dependencies in System32 "
            "(DependentLoadFlags 0x800), the stub's defence against planted DLLs";
    return false;
  }
  return true;
}
