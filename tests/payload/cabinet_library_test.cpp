// Loading the cabinet library: by full path, in the order of the candidates, again after a failed
// load, and once only after a successful one. The loader is replaced so that a failure can be
// made while the real library exists; the candidates are expanded from the real environment.
#include "payload/cabinet_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/expand_cabinet.h"

namespace {

std::vector<std::wstring> attempts;
bool succeed = false;

HMODULE WINAPI RecordingLoad(LPCWSTR path, HANDLE file, DWORD flags) {
  attempts.push_back(path);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(flags, static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH));
  return succeed ? LoadLibraryExW(path, file, flags) : nullptr;
}

std::wstring Variable(const wchar_t* name) {
  wchar_t value[512];
  const DWORD length = GetEnvironmentVariableW(name, value, 512);
  return std::wstring(value, length < 512 ? length : 0);
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

// One process, one sequence: a load that succeeds is kept until the process ends.
TEST(CabinetLibrary, RetriesEveryCandidateUntilALoadSucceedsAndThenKeepsIt) {
  cabinet_load_library = RecordingLoad;
  const std::wstring windir = Variable(L"WINDIR");
  const std::wstring systemroot = Variable(L"SYSTEMROOT");
  ASSERT_FALSE(windir.empty());
  ASSERT_FALSE(systemroot.empty());
  const std::vector<std::wstring> all = {windir + L"\\system32\\cabinet.dll",
                                         systemroot + L"\\system32\\cabinet.dll",
                                         L"C:\\Windows\\system32\\cabinet.dll"};

  EXPECT_FALSE(LoadCabinetLibrary());
  EXPECT_EQ(attempts, all);
  EXPECT_EQ(cabinet_library.module, nullptr);

  // ExpandCabinet gives up without a library, and tries all three again next time.
  attempts.clear();
  EXPECT_FALSE(ExpandCabinet(L"C:\\x\\SETUP.EX_", L"C:\\x\\setup.exe"));
  EXPECT_EQ(attempts, all);

  // A candidate that does not expand within 260 units is skipped, not loaded.
  const std::wstring long_windir = L"C:\\" + std::wstring(250, L'w');
  ASSERT_TRUE(SetEnvironmentVariableW(L"WINDIR", long_windir.c_str()));
  attempts.clear();
  EXPECT_FALSE(LoadCabinetLibrary());
  EXPECT_EQ(attempts, std::vector<std::wstring>(all.begin() + 1, all.end()));
  ASSERT_TRUE(SetEnvironmentVariableW(L"WINDIR", windir.c_str()));

  succeed = true;
  attempts.clear();
  EXPECT_TRUE(LoadCabinetLibrary());
  ASSERT_EQ(attempts.size(), 1u) << "the first candidate that loads ends the search";
  EXPECT_NE(cabinet_library.module, nullptr);
  EXPECT_NE(cabinet_library.fdi_create, nullptr);
  EXPECT_NE(cabinet_library.fdi_copy, nullptr);
  EXPECT_NE(cabinet_library.fdi_destroy, nullptr);
  wchar_t loaded[MAX_PATH + 1] = {};
  GetModuleFileNameW(cabinet_library.module, loaded, MAX_PATH);
  EXPECT_EQ(Lower(loaded), Lower(all[0]));

  // Loaded once and kept; a source without a directory still fails after the load.
  const HMODULE module = cabinet_library.module;
  attempts.clear();
  EXPECT_FALSE(ExpandCabinet(L"SETUP.EX_", L"C:\\x\\setup.exe"));
  EXPECT_TRUE(attempts.empty());
  EXPECT_EQ(cabinet_library.module, module);
}

}  // namespace
