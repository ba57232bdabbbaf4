// Checks the built bare stub as a file: a 64-bit GUI image that imports from kernel32, advapi32
// and shell32 and nothing else (no C runtime), with its manifest and version resources, whose
// first act is to narrow the DLL search to System32, and whose load configuration asks the loader
// to do the same for the static imports' dependencies. The last two are checked in a packed
// installer too, since the packer rewrites the image.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "support/file_bytes.h"

namespace {

std::vector<uint8_t> ReadStub() { return FileBytes(L"" LUMORA_STUB_PATH); }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

struct Image {
  std::vector<uint8_t> bytes;
  const IMAGE_NT_HEADERS64* nt = nullptr;
  const IMAGE_SECTION_HEADER* sections = nullptr;

  explicit Image(std::vector<uint8_t> data) : bytes(std::move(data)) {
    if (bytes.size() < sizeof(IMAGE_DOS_HEADER)) return;
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
    nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes.data() + dos->e_lfanew);
    sections = IMAGE_FIRST_SECTION(nt);
  }
  // File bytes at a relative virtual address.
  const uint8_t* At(uint32_t rva) const {
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
      const IMAGE_SECTION_HEADER& s = sections[i];
      if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData) {
        return bytes.data() + s.PointerToRawData + (rva - s.VirtualAddress);
      }
    }
    return nullptr;
  }
  const IMAGE_DATA_DIRECTORY& Directory(int index) const {
    return nt->OptionalHeader.DataDirectory[index];
  }
  // "dll!function" for the import address table slot at rva; empty when no import uses it.
  std::string ImportAt(uint32_t rva) const {
    const IMAGE_DATA_DIRECTORY& imports = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    for (auto d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(At(imports.VirtualAddress));
         d != nullptr && d->Name != 0; ++d) {
      const uint32_t names = d->OriginalFirstThunk != 0 ? d->OriginalFirstThunk : d->FirstThunk;
      for (uint32_t i = 0;; ++i) {
        const uint8_t* entry = At(names + i * 8);
        if (entry == nullptr) break;
        uint64_t thunk = 0;
        std::memcpy(&thunk, entry, 8);
        if (thunk == 0) break;
        if (d->FirstThunk + i * 8 != rva) continue;
        if (thunk & IMAGE_ORDINAL_FLAG64) return "ordinal";
        const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
            At(static_cast<uint32_t>(thunk)));
        return Lower(reinterpret_cast<const char*>(At(d->Name))) + "!" +
               reinterpret_cast<const char*>(by_name->Name);
      }
    }
    return "";
  }
};

// The load configuration directory and the DependentLoadFlags it carries (offset 0x4E).
void ExpectLoadConfiguration(const Image& image) {
  const IMAGE_DATA_DIRECTORY& directory = image.Directory(IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG);
  ASSERT_NE(directory.VirtualAddress, 0u) << "no load configuration directory";
  ASSERT_GE(directory.Size, 0x50u) << "too short to hold DependentLoadFlags";
  const uint8_t* record = image.At(directory.VirtualAddress);
  ASSERT_NE(record, nullptr) << "the directory points outside the sections' file data";
  uint32_t size = 0;
  std::memcpy(&size, record, 4);
  EXPECT_EQ(size, directory.Size) << "the record's own size and the directory's differ";
  uint16_t dependent_load_flags = 0;
  std::memcpy(&dependent_load_flags, record + 0x4E, 2);
  EXPECT_EQ(dependent_load_flags, 0x800) << "LOAD_LIBRARY_SEARCH_SYSTEM32";
  // No security cookie for the loader to initialise, no guard tables to check.
  uint64_t cookie = 0;
  std::memcpy(&cookie, record + 0x58, 8);
  EXPECT_EQ(cookie, 0u);
}

// Decodes the entry point up to its first call. Only the instructions a function prologue and
// an argument need are known; anything else fails the check rather than being skipped.
struct FirstCall {
  std::string target;   // "dll!function" of the import it calls through, or why not
  int64_t ecx = -1;     // the first argument, when set by an immediate
};

FirstCall DecodeFirstCall(const Image& image) {
  FirstCall call;
  uint32_t rva = image.nt->OptionalHeader.AddressOfEntryPoint;
  for (int instructions = 0; instructions < 16; ++instructions) {
    const uint8_t* code = image.At(rva);
    if (code == nullptr) {
      call.target = "entry point outside the image";
      return call;
    }
    auto imm32 = [&](int at) {
      int32_t value = 0;
      std::memcpy(&value, code + at, 4);
      return value;
    };
    if (code[0] == 0x48 && code[1] == 0x83 && code[2] == 0xEC) {  // sub rsp, imm8
      rva += 4;
    } else if (code[0] == 0x48 && code[1] == 0x81 && code[2] == 0xEC) {  // sub rsp, imm32
      rva += 7;
    } else if (code[0] == 0xB9) {  // mov ecx, imm32
      call.ecx = static_cast<uint32_t>(imm32(1));
      rva += 5;
    } else if (code[0] == 0xFF && code[1] == 0x15) {  // call [rip + disp32]
      call.target = image.ImportAt(static_cast<uint32_t>(rva + 6 + imm32(2)));
      if (call.target.empty()) call.target = "an indirect call through no import";
      return call;
    } else if (code[0] == 0xE8) {  // call rel32
      call.target = "a direct call into the image";
      return call;
    } else {
      char byte[48];
      std::snprintf(byte, sizeof(byte), "an unexpected instruction byte 0x%02X", code[0]);
      call.target = byte;
      return call;
    }
  }
  call.target = "no call among the first instructions";
  return call;
}

// The bare stub, and where the build made one, an installer packed from it.
std::vector<const wchar_t*> Images() {
  std::vector<const wchar_t*> paths = {L"" LUMORA_STUB_PATH};
#ifdef LUMORA_PACKED_PATH
  paths.push_back(L"" LUMORA_PACKED_PATH);
#endif
  return paths;
}

TEST(StubImage, IsA64BitGuiImageWithoutRuntime) {
  Image image(ReadStub());
  ASSERT_NE(image.nt, nullptr) << "cannot read " << LUMORA_STUB_PATH;
  std::printf("stub size: %zu bytes\n", image.bytes.size());
  RecordProperty("stub_size_bytes", static_cast<int>(image.bytes.size()));
  ASSERT_EQ(image.nt->Signature, IMAGE_NT_SIGNATURE);
  EXPECT_EQ(image.nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(image.nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
  EXPECT_EQ(image.nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  EXPECT_EQ(image.nt->FileHeader.TimeDateStamp, 0u) << "no link timestamp: builds are reproducible";

  const IMAGE_DATA_DIRECTORY& imports =
      image.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  ASSERT_NE(imports.VirtualAddress, 0u);
  std::set<std::string> dlls;
  for (auto d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image.At(imports.VirtualAddress));
       d != nullptr && d->Name != 0; ++d) {
    dlls.insert(Lower(reinterpret_cast<const char*>(image.At(d->Name))));
  }
  for (const std::string& dll : dlls) std::printf("imports from %s\n", dll.c_str());
  const std::set<std::string> allowed = {"kernel32.dll", "advapi32.dll", "shell32.dll"};
  for (const std::string& dll : dlls) EXPECT_TRUE(allowed.count(dll)) << "unexpected import " << dll;
  EXPECT_TRUE(dlls.count("kernel32.dll"));
}

TEST(StubImage, LoadConfigurationKeepsStaticDependenciesInSystem32) {
  for (const wchar_t* path : Images()) {
    SCOPED_TRACE(path);
    Image image(FileBytes(path));
    ASSERT_NE(image.nt, nullptr) << "cannot read the image";
    ExpectLoadConfiguration(image);
  }
}

TEST(StubImage, EntryPointFirstNarrowsTheDllSearchToSystem32) {
  for (const wchar_t* path : Images()) {
    SCOPED_TRACE(path);
    Image image(FileBytes(path));
    ASSERT_NE(image.nt, nullptr) << "cannot read the image";
    const FirstCall call = DecodeFirstCall(image);
    EXPECT_EQ(call.target, "kernel32.dll!SetDefaultDllDirectories");
    EXPECT_EQ(call.ecx, 0x800) << "LOAD_LIBRARY_SEARCH_SYSTEM32";
  }
}

TEST(StubImage, CarriesManifestAndVersionButNoPayload) {
  HMODULE stub = LoadLibraryExW(L"" LUMORA_STUB_WPATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(stub, nullptr);
  HRSRC manifest = FindResourceW(stub, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(manifest, nullptr);
  const std::string text(static_cast<const char*>(LockResource(LoadResource(stub, manifest))),
                         SizeofResource(stub, manifest));
  EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(text.find("version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(text.find("supportedOS"), std::string::npos);
  EXPECT_NE(FindResourceW(stub, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)), nullptr) << "version";
  for (const wchar_t* type : {L"B7", L"BL", L"BN"}) {
    EXPECT_EQ(FindResourceW(stub, L"LUMORA.PACKED.7Z", type), nullptr);
  }
  FreeLibrary(stub);
}

}  // namespace
