#include "pe/bare_stub.h"

#include "pe/program_image.h"

namespace {

// The DLLs the stub imports from, and nothing else.
constexpr const char* kStubImports[] = {"kernel32.dll", "advapi32.dll", "shell32.dll"};
// The load configuration must reach DependentLoadFlags.
constexpr uint32_t kLoadConfigurationWithFlags = kLoadConfigurationDependentLoadFlags + 2;

bool KeepsDependenciesInSystem32(const PeImage& image, const ByteSource& file) {
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
