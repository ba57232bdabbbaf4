// Loading the cabinet library: from the system directory by full path, whatever the environment
// says, with its dependencies kept in System32; again after a failed load, and once only after a
// successful one. The loader is replaced so that a failure can be made while the real library
// exists.
#include "payload/cabinet_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/cabinet_library_calls.h"
#include "payload/expand_cabinet.h"

namespace {

std::vector<std::wstring> attempts;
bool succeed = false;

HMODULE WINAPI RecordingLoad(LPCWSTR path, HANDLE file, DWORD flags) {
  attempts.push_back(path);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(flags, static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32));
  return succeed ? LoadLibraryExW(path, file, flags) : nullptr;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

// One process, one sequence: a load that succeeds is kept until the process ends.
TEST(CabinetLibrary, LoadsFromTheSystemDirectoryAloneAndKeepsIt) {
  g_cabinet_library_calls.load_library = RecordingLoad;
  wchar_t system[MAX_PATH] = {};
  ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
  const std::vector<std::wstring> expected = {std::wstring(system) + L"\\cabinet.dll"};

  // The environment names another system folder: it is not consulted.
  wchar_t windir[MAX_PATH] = {};
  wchar_t systemroot[MAX_PATH] = {};
  ASSERT_NE(GetEnvironmentVariableW(L"WINDIR", windir, MAX_PATH), 0u);
  ASSERT_NE(GetEnvironmentVariableW(L"SYSTEMROOT", systemroot, MAX_PATH), 0u);
  ASSERT_TRUE(SetEnvironmentVariableW(L"WINDIR", L"C:\\planted"));
  ASSERT_TRUE(SetEnvironmentVariableW(L"SYSTEMROOT", L"C:\\planted"));

  EXPECT_FALSE(LoadCabinetLibrary());
  EXPECT_EQ(attempts, expected);
  EXPECT_EQ(cabinet_library.module, nullptr);

  // ExpandCabinet gives up without a library, and tries again next time.
  ExtractedFiles files;
  ExtractedFile* destination = files.Add(L"C:\\x\\", L"setup.exe");
  ASSERT_NE(destination, nullptr);
  attempts.clear();
  EXPECT_FALSE(ExpandCabinet(L"C:\\x\\SETUP.EX_", *destination));
  EXPECT_EQ(attempts, expected);

  succeed = true;
  attempts.clear();
  EXPECT_TRUE(LoadCabinetLibrary());
  EXPECT_EQ(attempts, expected);
  EXPECT_NE(cabinet_library.module, nullptr);
  EXPECT_NE(cabinet_library.fdi_create, nullptr);
  EXPECT_NE(cabinet_library.fdi_copy, nullptr);
  EXPECT_NE(cabinet_library.fdi_destroy, nullptr);
  wchar_t loaded[MAX_PATH + 1] = {};
  GetModuleFileNameW(cabinet_library.module, loaded, MAX_PATH);
  EXPECT_EQ(Lower(loaded), Lower(expected[0]));

  // Loaded once and kept; a source without a directory still fails after the load.
  const HMODULE module = cabinet_library.module;
  attempts.clear();
  EXPECT_FALSE(ExpandCabinet(L"SETUP.EX_", *destination));
  EXPECT_TRUE(attempts.empty());
  EXPECT_EQ(cabinet_library.module, module);

  SetEnvironmentVariableW(L"WINDIR", windir);
  SetEnvironmentVariableW(L"SYSTEMROOT", systemroot);
}

}  // namespace
