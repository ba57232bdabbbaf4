// A stand-in for the application's setup program. It does what the installer relies on (exit code
// 0 for success; after the patch invocation, a new setup program at the path it was given) and
// writes down what it was given, so that tests and the demo can see exactly what arrived.
//
//   lumora-sample-setup.exe [--install-archive="A" | --uncompressed-archive="A"]
//                           [--previous-version="V"]
//                           [--update-setup-exe="PATCH" --new-setup-exe="NEW"]
//                           [--test-exit-code=N] [--test-no-new-setup] [anything else]
//
// Record: when the environment variable LUMORA_SETUP_RECORD names a file, one UTF-8 line is
// appended to it per run, four tab-separated fields, the command line last and unchanged:
//
//   console=none|hidden|window <TAB> echo=<LUMORA_SETUP_ECHO> <TAB> dir=<current directory>
//   <TAB> command=<...>
//
// console tells whether the process is attached to a console and whether that console has a
// window (GetConsoleWindow). The installer starts it with CREATE_NO_WINDOW, which gives a console
// program a console of its own without a window: "hidden". (Without that flag, a parent without a
// console gives "none" under Wine and "window" on Windows.) echo and dir show that the environment
// and the current directory were inherited; command is GetCommandLineW() exactly.
//
// Patch invocation: with both --update-setup-exe and --new-setup-exe, the patch file must be
// readable (else exit code 3), and the program copies itself to NEW (exit code 4 when that fails)
// unless --test-no-new-setup is given.
//
// Exit code: N of --test-exit-code=N (decimal, or hexadecimal after 0x; all 32 bits), else 0.
// Unknown arguments are accepted and ignored, as a real setup program ignores the installer's
// own switches.
#include <windows.h>

#include <cwchar>
#include <string>

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
  line += L"\tcommand=";
  line += GetCommandLineW();
  line += L"\n";
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &utf8[0], bytes,
                      nullptr, nullptr);
  HANDLE file = CreateFileW(record_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring record_path = Environment(L"LUMORA_SETUP_RECORD");
  if (!record_path.empty()) AppendRecord(record_path);

  unsigned long exit_code = 0;
  const wchar_t* patch = nullptr;
  const wchar_t* new_setup = nullptr;
  bool write_new_setup = true;
  for (int i = 1; i < argc; ++i) {
    if (const wchar_t* value = ValueOf(argv[i], L"--test-exit-code=")) {
      const bool hex = value[0] == L'0' && (value[1] == L'x' || value[1] == L'X');
      exit_code = std::wcstoul(hex ? value + 2 : value, nullptr, hex ? 16 : 10);
    } else if (const wchar_t* value = ValueOf(argv[i], L"--update-setup-exe=")) {
      patch = value;
    } else if (const wchar_t* value = ValueOf(argv[i], L"--new-setup-exe=")) {
      new_setup = value;
    } else if (std::wcscmp(argv[i], L"--test-no-new-setup") == 0) {
      write_new_setup = false;
    }
  }

  if (patch != nullptr && new_setup != nullptr) {
    if (!ReadableFile(patch)) return 3;
    if (write_new_setup) {
      wchar_t self[MAX_PATH + 1] = {};
      const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
      if (length == 0 || length > MAX_PATH || !CopyFileW(self, new_setup, FALSE)) return 4;
    }
  }
  // ExitProcess rather than a return: all 32 bits reach the parent whatever the runtime does.
  ExitProcess(static_cast<UINT>(exit_code));
}
