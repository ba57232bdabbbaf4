// Does the benchmark's splitter (command_line_split.cpp) split as the platform's
// CommandLineToArgvW does? bench/run asks before it times the stub that uses it: the variant is
// only worth measuring if it does the same job. Compares both on a table of command lines, the
// documented rules and the corners around them, prints every difference and exits with their
// number (0: they agree on every line). Under Wine the platform's splitter is Wine's.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "command_line_split.h"

namespace {

const wchar_t* const kCommandLines[] = {
    // The program name.
    L"",
    L"a.exe",
    L"\"C:\\Program Files\\Velmar\\installer.exe\" --system-level",
    L"\"C:\\dir\\\"a.exe b",
    L"a\"b.exe c",
    L"\"a.exe\"b c",
    L"\"unterminated name",
    L" a.exe b",
    L"C:\\dir\\a.exe\\ b",
    // Blanks.
    L"a.exe b\tc  d \t ",
    L"a.exe \"\"",
    L"a.exe \"\" \"\"",
    L"a.exe \" \"",
    // Backslashes, with and without a quote after them.
    L"a.exe a\\b c\\\\d \\\\\\e\\",
    L"a.exe a\\\"b",
    L"a.exe a\\\\\"b c\"",
    L"a.exe a\\\\\\\"b",
    L"a.exe a\\\\\\\\\"b c\" d",
    L"a.exe \"C:\\Program Files\\\\\" next",
    L"a.exe \"C:\\Program Files\\\" next",
    // Runs of quotes, outside and inside a quoted part.
    L"a.exe \"a\"\"b\"",
    L"a.exe \"\"\"",
    L"a.exe \"\"\"\" x",
    L"a.exe \"\"\"\"\" x",
    L"a.exe \"\"\"\"\"\" x",
    L"a.exe \"\"\"\"\"\"\" x",
    L"a.exe \"a b\"\" c d",
    L"a.exe \"a b\"\"\" c d",
    L"a.exe \"a\"\\\"b",
    L"a.exe \"a\"\\\\\"b c\"",
    L"a.exe \\\"\" c d\"",
    L"a.exe \"a\\\"\" b",
    L"a.exe \"unterminated argument",
    // What the installer and its starters pass.
    L"installer.exe --lumora-beta --LUMORA-DEV --system-level=1 --install-archive=\"x y\"",
    L"\"Z:\\bench\\ours-bn\\ours-bn.exe\"",
};

std::wstring Describe(wchar_t** argv, int count) {
  if (argv == nullptr) return L"(failed)";
  std::wstring text = std::to_wstring(count) + L":";
  for (int i = 0; i < count; ++i) text += L" [" + std::wstring(argv[i]) + L"]";
  if (argv[count] != nullptr) text += L" (no null after the last)";
  return text;
}

int Compare(const wchar_t* command_line) {
  int platform_count = -1, our_count = -1;
  wchar_t** platform = CommandLineToArgvW(command_line, &platform_count);
  wchar_t** ours = SplitCommandLine(command_line, &our_count);
  const std::wstring expected = Describe(platform, platform_count);
  const std::wstring actual = Describe(ours, our_count);
  LocalFree(platform);
  LocalFree(ours);
  if (expected == actual) return 0;
  // Shown up to a screenful each: the long line's splits run to thousands of arguments.
  const int shown = 300;
  std::fwprintf(stderr, L"command line <%.*ls>\n  platform: %.*ls\n  ours:     %.*ls\n", shown,
                command_line, shown, expected.c_str(), shown, actual.c_str());
  return 1;
}

}  // namespace

int main() {
  int differences = 0;
  for (const wchar_t* command_line : kCommandLines) differences += Compare(command_line);
  // A long one: every rule at once, many times over.
  std::wstring long_line = L"\"C:\\a b\\installer.exe\"";
  while (long_line.size() < 30000) long_line += L" x\\\\\"y z\"\"\" \\\"w\\ \"\" \t";
  differences += Compare(long_line.c_str());
  // No count: both refuse.
  SetLastError(0);
  const bool platform_refuses = CommandLineToArgvW(L"a.exe b", nullptr) == nullptr;
  const DWORD platform_error = GetLastError();
  SetLastError(0);
  const bool we_refuse = SplitCommandLine(L"a.exe b", nullptr) == nullptr;
  const DWORD our_error = GetLastError();
  if (platform_refuses != we_refuse || platform_error != our_error) {
    std::fwprintf(stderr, L"no count: the platform %ls (error %lu), ours %ls (error %lu)\n",
                  platform_refuses ? L"refuses" : L"splits", platform_error,
                  we_refuse ? L"refuses" : L"splits", our_error);
    ++differences;
  }
  std::printf("%d command lines: %d split differently\n",
              static_cast<int>(sizeof(kCommandLines) / sizeof(kCommandLines[0])) + 2, differences);
  return differences;
}
