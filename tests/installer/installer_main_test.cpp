// The run's early ends, provoked in-process where a whole run cannot provoke them: a failed split
// of the command line, and an installer that cannot tell its own directory.
#include "installer/installer_main.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

#include "installer/settings_calls.h"
#include "installer/split_seam.h"

namespace {

std::wstring FixturePath(const wchar_t* name) {
  return std::wstring(LUMORA_FIXTURE_DIR) + L"\\" + name;
}

const wchar_t* g_command_line = L"installer.exe";
wchar_t** WINAPI CannedSplit(const wchar_t*, int* count) {
  return CommandLineToArgvW(g_command_line, count);
}

// Work directories appear beside the module whose file name the run reads: the test program.
int CountWorkDirectories() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring pattern(self);
  pattern = pattern.substr(0, pattern.rfind(L'\\') + 1) + L"LM_*.tmp";
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do ++count; while (FindNextFileW(search, &found));
  FindClose(search);
  return count;
}

TEST(InstallerMain, EarlyEnds) {
  const int before = CountWorkDirectories();
  {
    SCOPED_TRACE("splitting the command line fails");
    SplitSeam seam(FailingSplit);
    const ExitResult result = InstallerMain(GetModuleHandleW(nullptr));
    EXPECT_EQ(result.code, EXIT_SETTINGS_FAILED);
    EXPECT_EQ(result.extra, static_cast<uint32_t>(ERROR_NOT_ENOUGH_MEMORY));
  }
  {
    SCOPED_TRACE("an unsupported switch");
    SplitSeam seam(CannedSplit);
    g_command_line = L"installer.exe --lumora-frame";
    const ExitResult result = InstallerMain(GetModuleHandleW(nullptr));
    EXPECT_EQ(result.code, EXIT_UNSUPPORTED_SWITCH);
    EXPECT_EQ(result.extra, 0u);
  }
  {
    // A module handle that names no file of its own: the image loaded as mere data.
    SCOPED_TRACE("own directory unknown");
    HMODULE data = LoadLibraryExW(FixturePath(L"version_none.dll").c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    wchar_t probe[MAX_PATH];
    if (GetModuleFileNameW(data, probe, MAX_PATH) != 0) {
      FreeLibrary(data);
      GTEST_SKIP() << "this platform names the file of a data-file module";
    }
    SplitSeam seam(CannedSplit);
    g_command_line = L"installer.exe";
    const ExitResult result = InstallerMain(data);
    FreeLibrary(data);
    EXPECT_EQ(result.code, EXIT_OWN_DIRECTORY_UNKNOWN);
  }
  EXPECT_EQ(CountWorkDirectories(), before) << "no early end creates a work directory";
}

}  // namespace
