// The setup program we ship, lumora-setup.exe: what the installer starts, hidden, and waits for.
// It follows the contract of docs/setup-program.md.
//
//   lumora-setup.exe [--install-archive="A" | --uncompressed-archive="A"] [--previous-version="V"]
//                    [--update-setup-exe="PATCH" --new-setup-exe="NEW"]
//                    [--system-level] [--lumora-beta|-dev|-sxs] [anything else]
//
// Install invocation: with an archive, it installs (install/installation.h): the 7z archive is
// decoded into ROOT\<version>\, the program copies itself there as setup.exe and writes
// "UninstallString" into the application's client-state key. ROOT is LUMORA_SAMPLE_INSTALL_ROOT
// when that variable is set, else %LOCALAPPDATA%\Lumora\Application (%ProgramFiles%\... at
// system level). The key follows the installer's own rules, which the installer passes on in the
// tail of the command line: --system-level (or VelmarUpdateIsMachine=1) selects
// HKEY_LOCAL_MACHINE, the last channel switch the application id. Exit codes:
// lumora/setup_exit_codes.h.
//
// When the archive is a patch archive (first bytes "LUMPATCH"), the install invocation is an
// update of the installed --previous-version (update/update_installation.h).
//
// Patch invocation: with both --update-setup-exe and --new-setup-exe, the patch file must be
// readable (else 3); the program rebuilds the new setup program from it and its own file and
// writes it to NEW (update/setup_patch.h).
//
// For tests only, behind names that say so:
//   LUMORA_SETUP_TEST_RECORD=FILE  appends one UTF-8 line per run, five tab-separated fields,
//     the command line last and unchanged:
//       console=none|hidden|window <TAB> echo=<LUMORA_SETUP_ECHO> <TAB> dir=<current directory>
//       <TAB> beside=<names> <TAB> command=<...>
//     console tells whether the process is attached to a console and whether that console has a
//     window (GetConsoleWindow). The installer starts it with CREATE_NO_WINDOW, which gives a
//     console program a console of its own without a window: "hidden". (Without that flag, a
//     parent without a console gives "none" under Wine and "window" on Windows.) echo and dir
//     show that the environment and the current directory were inherited; beside lists what the
//     directory of the program's own file holds as it starts, names in sorted order joined by "|"
//     (the work directory, on the install invocation); command is GetCommandLineW() exactly.
//   LUMORA_SETUP_TEST_SKIP_INSTALL=1  the archive is not even opened, so that the installer's
//     tests may hand it any file; --sample-install or LUMORA_SAMPLE_INSTALL_ROOT install anyway.
//     While installing is skipped, the patch run takes any readable file too, and copies this
//     program to NEW.
//   --test-exit-code=N  exits with N (decimal, or hexadecimal after 0x; all 32 bits) instead of 0.
//   --test-no-new-setup  the patch run writes no new setup program.
//   --test-sleep-ms=N  waits N ms before exiting (so that two runs overlap).
//   --test-hold-archive-ms=N  leaves a process behind that holds the archive open, without delete
//     sharing, for N ms after this program has exited, as a virus scanner or indexer might.
//
// Unknown arguments are accepted and ignored, as the contract asks: the installer's own switches
// come along in the tail.
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "lumora/client_state_names.h"
#include "install/decimal_text.h"
#include "install/installation.h"
#include "lumora/setup_exit_codes.h"
#include "update/file_reader.h"
#include "update/setup_patch.h"
#include "update/update_installation.h"

namespace {

const wchar_t* ValueOf(const wchar_t* argument, const wchar_t* prefix) {
  const size_t length = std::wcslen(prefix);
  return std::wcsncmp(argument, prefix, length) == 0 ? argument + length : nullptr;
}

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[4096];
  const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
  return length > 0 && length < 4096 ? std::wstring(buffer, length) : std::wstring();
}

// The names in the directory of this program's own file, sorted, joined by "|" (which no file name
// holds).
std::wstring NamesBesideThisProgram() {
  wchar_t self[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
  std::wstring pattern(self, length);
  pattern = pattern.substr(0, pattern.rfind(L'\\') + 1) + L"*";
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  std::sort(names.begin(), names.end());
  std::wstring joined;
  for (const std::wstring& name : names) joined += (joined.empty() ? L"" : L"|") + name;
  return joined;
}

void AppendRecord(const std::wstring& record_path) {
  wchar_t directory[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH + 1, directory);
  std::wstring line = L"console=";
  DWORD attached[1];
  if (GetConsoleProcessList(attached, 1) == 0) {
    line += L"none";
  } else {
    line += GetConsoleWindow() != nullptr ? L"window" : L"hidden";
  }
  line += L"\techo=" + Environment(L"LUMORA_SETUP_ECHO");
  line += L"\tdir=";
  line += directory;
  line += L"\tbeside=" + NamesBesideThisProgram();
  line += L"\tcommand=";
  line += GetCommandLineW();
  line += L"\n";
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &utf8[0], bytes,
                      nullptr, nullptr);
  // Several setup programs may finish at once (two installers started together): whoever finds
  // the record open waits for its turn instead of losing its line.
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int tries = 0; tries < 500; ++tries) {
    file = CreateFileW(record_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) break;
    Sleep(10);
  }
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(file);
}

bool ReadableFile(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// The installer's channels: the last channel switch wins.
constexpr const wchar_t* kChannels[][2] = {
    {nullptr, kDefaultAppId},
    {L"--lumora-beta", kBetaAppId},
    {L"--lumora-dev", kDevAppId},
    {L"--lumora-sxs", kSxsAppId},
};

unsigned long Number(const wchar_t* value) {
  const bool hex = value[0] == L'0' && (value[1] == L'x' || value[1] == L'X');
  return std::wcstoul(hex ? value + 2 : value, nullptr, hex ? 16 : 10);
}

// Opens the archive for this process and a child that inherits the handle and keeps it for
// hold_ms; this process then closes its own handle, so only the child holds the file.
void LeaveArchiveHolder(const wchar_t* archive, unsigned long hold_ms) {
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE file = CreateFileW(archive, GENERIC_READ, FILE_SHARE_READ, &inheritable, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  wchar_t self[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --test-holder-ms=" + DecimalText(hold_ms);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (CreateProcessW(self, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                     &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(file);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // The holder child only waits; its inherited handle closes when it exits.
  if (argc == 2) {
    if (const wchar_t* value = ValueOf(argv[1], L"--test-holder-ms=")) {
      Sleep(Number(value));
      return 0;
    }
  }
  const std::wstring record_path = Environment(L"LUMORA_SETUP_TEST_RECORD");
  if (!record_path.empty()) AppendRecord(record_path);

  unsigned long exit_code = 0;
  const wchar_t* patch = nullptr;
  const wchar_t* new_setup = nullptr;
  bool write_new_setup = true;
  // Installing is what the install invocation is for; only the installer's tests skip it.
  const bool install_asked = !Environment(L"LUMORA_SAMPLE_INSTALL_ROOT").empty();
  bool install = install_asked || Environment(L"LUMORA_SETUP_TEST_SKIP_INSTALL").empty();
  InstallRequest request;
  request.app_id = kChannels[0][1];
  unsigned long sleep_ms = 0;
  unsigned long hold_ms = 0;
  const wchar_t* archive = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (const wchar_t* value = ValueOf(argv[i], L"--test-exit-code=")) {
      exit_code = Number(value);
    } else if (const wchar_t* value = ValueOf(argv[i], L"--test-sleep-ms=")) {
      sleep_ms = Number(value);
    } else if (const wchar_t* value = ValueOf(argv[i], L"--test-hold-archive-ms=")) {
      hold_ms = Number(value);
    } else if (const wchar_t* value = ValueOf(argv[i], L"--install-archive=")) {
      archive = value;
    } else if (const wchar_t* value = ValueOf(argv[i], L"--uncompressed-archive=")) {
      archive = value;
    } else if (const wchar_t* value = ValueOf(argv[i], L"--previous-version=")) {
      request.previous_version = value;
    } else if (const wchar_t* value = ValueOf(argv[i], L"--update-setup-exe=")) {
      patch = value;
    } else if (const wchar_t* value = ValueOf(argv[i], L"--new-setup-exe=")) {
      new_setup = value;
    } else if (std::wcscmp(argv[i], L"--test-no-new-setup") == 0) {
      write_new_setup = false;
    } else if (_wcsicmp(argv[i], L"--sample-install") == 0) {
      install = true;
    } else if (_wcsicmp(argv[i], L"--system-level") == 0) {
      request.system_level = true;
    }
    for (const auto& channel : kChannels) {
      if (channel[0] != nullptr && _wcsicmp(argv[i], channel[0]) == 0) request.app_id = channel[1];
    }
  }
  if (!request.system_level) request.system_level = Environment(L"VelmarUpdateIsMachine") == L"1";

  if (patch != nullptr && new_setup != nullptr) {
    if (!ReadableFile(patch)) ExitProcess(SETUP_EXIT_PATCH_UNREADABLE);
    if (write_new_setup && install) {
      if (const int code = PatchSetupProgram(patch, new_setup)) ExitProcess(static_cast<UINT>(code));
    } else if (write_new_setup) {
      wchar_t self[MAX_PATH + 1] = {};
      const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
      if (length == 0 || length > MAX_PATH || !CopyFileW(self, new_setup, FALSE)) {
        ExitProcess(SETUP_EXIT_NEW_SETUP_UNWRITABLE);
      }
    }
  }
  if (install && archive != nullptr) {
    request.archive = archive;
    request.root = Environment(L"LUMORA_SAMPLE_INSTALL_ROOT");
    const int code = StartsWithPatchMagic(archive) ? InstallFromPatchArchive(request)
                                                   : InstallFromArchive(request);
    if (code != 0) ExitProcess(static_cast<UINT>(code));
  }
  if (hold_ms != 0 && archive != nullptr) LeaveArchiveHolder(archive, hold_ms);
  if (sleep_ms != 0) Sleep(sleep_ms);
  // ExitProcess rather than a return: all 32 bits reach the parent whatever the runtime does.
  ExitProcess(static_cast<UINT>(exit_code));
}
