// Installers made by lumora-pack, read by the Windows loader: each payload member is found by
// type and name as the stub finds it, holds the bytes that were packed, starts on a page of the
// mapped image, and the installer (signed or not) still runs.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/client_state_scratch.h"
#include "support/file_bytes.h"

namespace {

std::wstring Packed(const wchar_t* name) { return std::wstring(LUMORA_PACKED_DIR) + L"\\" + name; }

struct Module {
  HMODULE handle = nullptr;
  Module(const std::wstring& path, DWORD flags) {
    handle = LoadLibraryExW(path.c_str(), nullptr, flags);
  }
  ~Module() {
    if (handle != nullptr) FreeLibrary(handle);
  }
};

// The bytes of one resource, found the way the stub finds them.
std::vector<uint8_t> ResourceBytes(HMODULE module, const wchar_t* name, const wchar_t* type,
                                   const uint8_t** where = nullptr) {
  HRSRC found = FindResourceW(module, name, type);
  if (found == nullptr) return {};
  const DWORD size = SizeofResource(module, found);
  const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  if (data == nullptr) return {};
  if (where != nullptr) *where = data;
  return std::vector<uint8_t>(data, data + size);
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
  if (!IS_INTRESOURCE(name)) reinterpret_cast<std::vector<std::wstring>*>(names)->push_back(name);
  return TRUE;
}

std::vector<std::wstring> NamesOfType(HMODULE module, const wchar_t* type) {
  std::vector<std::wstring> names;
  EnumResourceNamesW(module, type, CollectName, reinterpret_cast<LONG_PTR>(&names));
  return names;
}

UINT CALLBACK ExtractInto(PVOID target, UINT notification, UINT_PTR param1, UINT_PTR) {
  if (notification == SPFILENOTIFY_FILEINCABINET) {
    auto* info = reinterpret_cast<FILE_IN_CABINET_INFO_W*>(param1);
    if (lstrcmpW(info->NameInCabinet, L"setup.exe") != 0) return FILEOP_SKIP;
    lstrcpynW(info->FullTargetName, static_cast<const wchar_t*>(target), MAX_PATH);
    return FILEOP_DOIT;
  }
  return NO_ERROR;
}

// Expands the cabinet's "setup.exe" with the system's cabinet code.
std::vector<uint8_t> ExpandWithSystem(const std::vector<uint8_t>& cabinet) {
  wchar_t dir[MAX_PATH], cab[MAX_PATH], out[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, L"cab", 0, cab);
  GetTempFileNameW(dir, L"exp", 0, out);
  DeleteFileW(out);
  std::vector<uint8_t> bytes;
  if (WriteBytes(cab, cabinet) && SetupIterateCabinetW(cab, 0, ExtractInto, out)) {
    bytes = FileBytes(out);
  }
  DeleteFileW(cab);
  DeleteFileW(out);
  return bytes;
}

struct Layout {
  const wchar_t* file;
  const wchar_t* archive_type;
  const wchar_t* archive_name;
  const wchar_t* setup_type;
  const wchar_t* setup_name;
  const wchar_t* previous_version;  // null: none
};

const Layout kLayouts[] = {
    {L"shipped.exe", L"B7", L"LUMORA.PACKED.7Z", L"BL", L"SETUP.EX_", L"1.2.3.4"},
    {L"signed.exe", L"B7", L"LUMORA.PACKED.7Z", L"BL", L"SETUP.EX_", L"1.2.3.4"},
    {L"plain.exe", L"BN", L"LUMORA-PLAIN.BIN", L"BN", L"SETUP.EXE", nullptr},
    {L"patch.exe", L"BL", L"LUMORA.PACKED.7Z", L"B7", L"SETUP.PATCH", L"1.2.3.4"},
};

TEST(PackedImage, LoaderFindsThePackedBytes) {
  const std::vector<uint8_t> archive = FileBytes(Packed(L"stored-app.7z"));
  const std::vector<uint8_t> setup = FileBytes(LUMORA_SETUP_PATH);
  ASSERT_FALSE(archive.empty());
  ASSERT_FALSE(setup.empty());
  for (const Layout& l : kLayouts) {
    SCOPED_TRACE(testing::Message() << l.file);
    for (DWORD flags : {DWORD{LOAD_LIBRARY_AS_DATAFILE}, DWORD{0}}) {
      SCOPED_TRACE(flags == 0 ? "mapped as an image" : "loaded as a data file");
      Module image(Packed(l.file), flags);
      ASSERT_NE(image.handle, nullptr) << GetLastError();
      const uint8_t* at = nullptr;
      EXPECT_EQ(ResourceBytes(image.handle, l.archive_name, l.archive_type, &at), archive);
      if (flags == 0) {
        // An image module's handle is its base address: the data's RVA starts a page.
        EXPECT_EQ((at - reinterpret_cast<const uint8_t*>(image.handle)) % 4096, 0);
      }
      const std::vector<uint8_t> stored =
          ResourceBytes(image.handle, l.setup_name, l.setup_type, &at);
      if (flags == 0) EXPECT_EQ((at - reinterpret_cast<const uint8_t*>(image.handle)) % 4096, 0);
      if (lstrcmpW(l.setup_type, L"BL") == 0) {
        ASSERT_GT(stored.size(), 4u);
        EXPECT_EQ(ExpandWithSystem(stored), setup);
      } else {
        EXPECT_EQ(stored, setup);
      }
      const std::vector<uint8_t> version =
          ResourceBytes(image.handle, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(10));
      if (l.previous_version == nullptr) {
        EXPECT_TRUE(version.empty());
      } else {
        ASSERT_EQ(version.size() % 2, 0u);
        ASSERT_GE(version.size(), 2u);
        EXPECT_STREQ(reinterpret_cast<const wchar_t*>(version.data()), l.previous_version);
      }
      // The stub's own resources are still there.
      EXPECT_FALSE(ResourceBytes(image.handle, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)).empty());
      EXPECT_FALSE(ResourceBytes(image.handle, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)).empty());
    }
  }
}

TEST(PackedImage, EnumerationMeetsEachMemberOnce) {
  for (const Layout& l : kLayouts) {
    SCOPED_TRACE(testing::Message() << l.file);
    Module image(Packed(l.file), LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image.handle, nullptr);
    std::vector<std::wstring> archives, setups;
    for (const wchar_t* type : {L"B7", L"BL", L"BN"}) {
      for (const std::wstring& name : NamesOfType(image.handle, type)) {
        (name.rfind(L"LUMORA", 0) == 0 ? archives : setups).push_back(type + std::wstring(L"/") + name);
      }
    }
    EXPECT_EQ(archives, std::vector<std::wstring>{std::wstring(l.archive_type) + L"/" + l.archive_name});
    EXPECT_EQ(setups, std::vector<std::wstring>{std::wstring(l.setup_type) + L"/" + l.setup_name});
  }
}

TEST(PackedImage, PackedAndSignedInstallersStillRun) {
  // The bare stub refuses "--cleanup" with its own code once it has read its settings (and its
  // previous version resource); the packed images must get just as far.
  const DWORD bare = ChildProcess(LUMORA_STUB_WPATH, L"--cleanup").Wait();
  ASSERT_EQ(bare, 118u);
  EXPECT_EQ(ChildProcess(Packed(L"shipped.exe"), L"--cleanup").Wait(), bare);
  EXPECT_EQ(ChildProcess(Packed(L"signed.exe"), L"--cleanup").Wait(), bare);
}

TEST(PackedImage, EveryLayoutInstalls) {
  // The whole run: unpacking from the page-aligned sections, expanding the cabinet or patching
  // the installed setup program, running the setup program and removing the work directory
  // again. Each runs from a directory of its own.
  for (const Layout& l : kLayouts) {
    SCOPED_TRACE(testing::Message() << l.file);
    const std::wstring dir = std::wstring(LUMORA_PACKED_DIR) + L"\\run-" + l.file;
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    // The updater's key for the default channel, where a patch installer finds the installed
    // setup program ("UninstallString"); removed again however the run ends.
    const scratch::ClientStateKey state(false, kDefaultAppId);
    const bool patch = lstrcmpW(l.setup_type, L"B7") == 0;
    if (patch) {
      // The installed version that the patch updates, where the updater's key points.
      const std::wstring installed = dir + L"\\installed\\" + l.previous_version;
      std::filesystem::create_directories(installed);
      ASSERT_TRUE(CopyFileW(LUMORA_SETUP_PATH, (installed + L"\\setup.exe").c_str(), FALSE));
      ASSERT_TRUE(state.SetText(kUninstallStringValue, installed + L"\\setup.exe"));
    }
    const std::wstring copy = dir + L"\\installer.exe";
    ASSERT_TRUE(CopyFileW(Packed(l.file).c_str(), copy.c_str(), FALSE));
    EXPECT_EQ(ChildProcess(copy, L"--test-exit-code=0").Wait(), 0u);
    EXPECT_TRUE(DeleteFileW(copy.c_str()));
    if (patch) std::filesystem::remove_all(dir + L"\\installed");
    EXPECT_TRUE(RemoveDirectoryW(dir.c_str())) << "the work directory is gone";
  }
}

}  // namespace
