// An installer packed with the application's icon and version texts, read through Windows' own
// functions: the version functions see the texts and numbers that were given, the icon functions
// find and build each image of the .ico file, and the installer still installs (the stub never
// reads these resources).
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/file_bytes.h"

namespace {

std::wstring Face(const wchar_t* name) { return std::wstring(LUMORA_FACE_DIR) + L"\\" + name; }

// The images of the .ico file, in its order.
std::vector<std::vector<uint8_t>> IconImages(const std::vector<uint8_t>& ico) {
  std::vector<std::vector<uint8_t>> images;
  if (ico.size() < 6) return images;
  const WORD count = ico[4] | ico[5] << 8;
  for (WORD i = 0; i < count; ++i) {
    const uint8_t* entry = &ico[6 + 16 * i];
    const DWORD size = entry[8] | entry[9] << 8 | entry[10] << 16 | DWORD{entry[11]} << 24;
    const DWORD offset = entry[12] | entry[13] << 8 | entry[14] << 16 | DWORD{entry[15]} << 24;
    images.emplace_back(ico.begin() + offset, ico.begin() + offset + size);
  }
  return images;
}

std::wstring VersionText(const std::vector<uint8_t>& info, const wchar_t* key) {
  wchar_t* text = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
  if (!VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&text), &length)) {
    return L"(none)";
  }
  return text;
}

TEST(ApplicationFace, VersionFunctionsSeeTheApplicationsVersion) {
  const std::wstring path = Face(L"face.exe");
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_NE(size, 0u) << GetLastError();
  std::vector<uint8_t> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, (2u << 16) | 5);
  EXPECT_EQ(fixed->dwFileVersionLS, (0u << 16) | 17);
  EXPECT_EQ(fixed->dwProductVersionMS, (2u << 16) | 5);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(VersionText(info, L"ProductName"), L"Contoso Viewer");
  EXPECT_EQ(VersionText(info, L"CompanyName"), L"Contoso Ltd.");
  EXPECT_EQ(VersionText(info, L"FileDescription"), L"Contoso Viewer Setup");
  EXPECT_EQ(VersionText(info, L"FileVersion"), L"2.5.0.17");
  EXPECT_EQ(VersionText(info, L"ProductVersion"), L"2.5.0.0");
  EXPECT_EQ(VersionText(info, L"LegalCopyright"), L"\u00A9 2024 Contoso");
  // Any text by its key: one replaced, one removed, one added.
  EXPECT_EQ(VersionText(info, L"OriginalFilename"), L"contoso-setup.exe");
  EXPECT_EQ(VersionText(info, L"InternalName"), L"(none)");
  EXPECT_EQ(VersionText(info, L"Comments"), L"Installs Contoso Viewer");
  // The stub's translation stays.
  DWORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  EXPECT_EQ(*translation, 0x04B00409u);
}

BOOL CALLBACK FirstName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR first) {
  *reinterpret_cast<LPWSTR*>(first) = name;
  return FALSE;
}

TEST(ApplicationFace, IconFunctionsFindEachImage) {
  const std::vector<std::vector<uint8_t>> images = IconImages(FileBytes(Face(L"app.ico")));
  ASSERT_EQ(images.size(), 3u);
  HMODULE module = LoadLibraryExW(Face(L"face.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr) << GetLastError();
  // The group the shell shows: the first, under the stub's id.
  LPWSTR group_name = nullptr;
  EnumResourceNamesW(module, RT_GROUP_ICON, FirstName, reinterpret_cast<LONG_PTR>(&group_name));
  ASSERT_TRUE(IS_INTRESOURCE(group_name));
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(group_name), 107u);
  HRSRC group = FindResourceW(module, group_name, RT_GROUP_ICON);
  ASSERT_NE(group, nullptr);
  auto* directory = static_cast<BYTE*>(LockResource(LoadResource(module, group)));
  ASSERT_NE(directory, nullptr);
  struct Want {
    int size;
    size_t image;  // of the .ico file
  };
  for (const Want& w : {Want{16, 0}, Want{32, 1}, Want{256, 2}}) {
    SCOPED_TRACE(w.size);
    const int id = LookupIconIdFromDirectoryEx(directory, TRUE, w.size, w.size, LR_DEFAULTCOLOR);
    ASSERT_NE(id, 0);
    HRSRC icon = FindResourceW(module, MAKEINTRESOURCEW(id), RT_ICON);
    ASSERT_NE(icon, nullptr);
    const DWORD size = SizeofResource(module, icon);
    auto* bits = static_cast<BYTE*>(LockResource(LoadResource(module, icon)));
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(bits, bits + size), images[w.image]);
    if (w.size < 256) {
      HICON handle = CreateIconFromResourceEx(bits, size, TRUE, 0x00030000, w.size, w.size,
                                              LR_DEFAULTCOLOR);
      ASSERT_NE(handle, nullptr) << GetLastError();
      ICONINFO parts = {};
      ASSERT_TRUE(GetIconInfo(handle, &parts));
      BITMAP colour = {};
      GetObjectW(parts.hbmColor, sizeof(colour), &colour);
      EXPECT_EQ(colour.bmWidth, w.size);
      DeleteObject(parts.hbmColor);
      DeleteObject(parts.hbmMask);
      DestroyIcon(handle);
    }
  }
  FreeLibrary(module);
}

TEST(ApplicationFace, InstallerStillInstalls) {
  const std::wstring dir = Face(L"run");
  std::filesystem::remove_all(dir);
  ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
  const std::wstring copy = dir + L"\\installer.exe";
  ASSERT_TRUE(CopyFileW(Face(L"face.exe").c_str(), copy.c_str(), FALSE));
  EXPECT_EQ(ChildProcess(copy, L"--test-exit-code=0").Wait(), 0u);
  EXPECT_TRUE(DeleteFileW(copy.c_str()));
  EXPECT_TRUE(RemoveDirectoryW(dir.c_str())) << "the work directory is gone";
}

}  // namespace
