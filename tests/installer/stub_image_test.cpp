// Checks the built bare stub as a file: a 64-bit GUI image that imports from kernel32, advapi32
// and shell32 and nothing else (no C runtime), with its manifest and version resources.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> ReadStub() {
  std::ifstream file(LUMORA_STUB_PATH, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
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
};

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
    std::string name(reinterpret_cast<const char*>(image.At(d->Name)));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    dlls.insert(name);
  }
  for (const std::string& dll : dlls) std::printf("imports from %s\n", dll.c_str());
  const std::set<std::string> allowed = {"kernel32.dll", "advapi32.dll", "shell32.dll"};
  for (const std::string& dll : dlls) EXPECT_TRUE(allowed.count(dll)) << "unexpected import " << dll;
  EXPECT_TRUE(dlls.count("kernel32.dll"));
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
