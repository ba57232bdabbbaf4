// What the stub does with installers that lumora-pack check must reject: members whose data is
// not in the file, and a previous version that the setup command line cannot hold even when the
// installer runs from a drive's root. check's verdicts name these exit codes; here the stub
// shows them under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/file_bytes.h"

namespace {

std::wstring Packed(const wchar_t* name) { return std::wstring(LUMORA_PACKED_DIR) + L"\\" + name; }

uint32_t Load32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }
void Store32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Sets the RVA or the size of the resource data entry whose size is size: the entries are
// found in the resource section by their shape (an RVA inside the directory, the size, a zero
// reserved word), as the packer lays them out.
bool PatchDataEntry(std::vector<uint8_t>& image, uint32_t size, bool rva_field, uint32_t value) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.data() + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& resources =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if (section->VirtualAddress != resources.VirtualAddress) continue;
    const uint32_t raw = section->PointerToRawData;
    for (uint32_t at = raw; at + 16 <= raw + resources.Size && at + 16 <= image.size(); at += 4) {
      const uint32_t rva = Load32(&image[at]);
      if (Load32(&image[at + 4]) == size && Load32(&image[at + 12]) == 0 &&
          rva >= resources.VirtualAddress && rva < resources.VirtualAddress + resources.Size) {
        Store32(&image[at + (rva_field ? 0 : 4)], value);
        return true;
      }
    }
  }
  return false;
}

std::vector<uint8_t> ResourceBytes(const std::wstring& path, const wchar_t* name,
                                   const wchar_t* type) {
  std::vector<uint8_t> bytes;
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return bytes;
  HRSRC found = FindResourceW(module, name, type);
  const auto* data =
      found != nullptr ? static_cast<const uint8_t*>(LockResource(LoadResource(module, found))) : nullptr;
  if (data != nullptr) bytes.assign(data, data + SizeofResource(module, found));
  FreeLibrary(module);
  return bytes;
}

uint32_t ResourceSize(const std::wstring& path, const wchar_t* name, const wchar_t* type) {
  return static_cast<uint32_t>(ResourceBytes(path, name, type).size());
}

// A data entry beyond the image: the stub's check of its own resource directory refuses it before
// anything is read or written, whichever member it is.
TEST(UnusablePayload, MembersOutsideTheImageAreRefusedBeforeAnyWrite) {
  const std::wstring shipped = Packed(L"shipped.exe");
  const std::vector<uint8_t> image = FileBytes(shipped);
  ASSERT_FALSE(image.empty());
  const uint32_t archive = ResourceSize(shipped, L"LUMORA.PACKED.7Z", L"B7");
  const uint32_t setup = ResourceSize(shipped, L"SETUP.EX_", L"BL");
  ASSERT_NE(archive, 0u);
  ASSERT_NE(setup, 0u);
  struct Case {
    const wchar_t* file;
    uint32_t size;
    bool rva_field;
    DWORD code;
  };
  const Case cases[] = {
      {L"unmapped-archive-rva.exe", archive, true, 112},
      {L"unmapped-archive-size.exe", archive, false, 112},
      {L"unmapped-setup-rva.exe", setup, true, 112},
      {L"unmapped-setup-size.exe", setup, false, 112},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.file);
    std::vector<uint8_t> patched = image;
    ASSERT_TRUE(PatchDataEntry(patched, c.size, c.rva_field, 0xFFFFFFFF));
    const std::wstring path = Packed(c.file);
    ASSERT_TRUE(WriteBytes(path, patched));
    EXPECT_EQ(ChildProcess(path, L"").Wait(), c.code);
    DeleteFileW(path.c_str());
  }
}

TEST(UnusablePayload, PreviousVersionThatNoCommandLineHolds) {
  // From "C:\" the work directory is "C:\LM_XXXXX.tmp\", the shortest there is: with the
  // shipped layout's archive name the setup command line holds 937 units of version, and the
  // packer's check says so (LongestPreviousVersion).
  struct Case {
    size_t length;
    DWORD code;
  };
  // The shipped layout's members, put into the bare stub with the version by UpdateResourceW.
  std::vector<uint8_t> archive = FileBytes(Packed(L"stored-app.7z"));
  std::vector<uint8_t> cabinet = ResourceBytes(Packed(L"shipped.exe"), L"SETUP.EX_", L"BL");
  ASSERT_FALSE(archive.empty());
  ASSERT_FALSE(cabinet.empty());
  const Case cases[] = {{937, 0}, {938, 105}, {1100, 105}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << " units");
    const std::wstring path =
        L"C:\\lumora-version-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    ASSERT_TRUE(CopyFileW(LUMORA_STUB_WPATH, path.c_str(), FALSE));
    std::wstring version(c.length, L'1');
    HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
    ASSERT_NE(update, nullptr);
    ASSERT_TRUE(UpdateResourceW(update, L"B7", L"LUMORA.PACKED.7Z", 1033, archive.data(),
                                static_cast<DWORD>(archive.size())));
    ASSERT_TRUE(UpdateResourceW(update, L"BL", L"SETUP.EX_", 1033, cabinet.data(),
                                static_cast<DWORD>(cabinet.size())));
    ASSERT_TRUE(UpdateResourceW(update, MAKEINTRESOURCEW(10), MAKEINTRESOURCEW(1), 1033,
                                &version[0], static_cast<DWORD>((version.size() + 1) * 2)));
    ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
    EXPECT_EQ(ChildProcess(path, L"").Wait(), c.code);
    EXPECT_TRUE(DeleteFileW(path.c_str()));
  }
}

}  // namespace
