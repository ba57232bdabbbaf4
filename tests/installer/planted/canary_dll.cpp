// A canary for planted-DLL tests: copied beside a program under the name of a system DLL, it
// writes down, when something loads it, the name it was loaded as and the program that loaded
// it. It exports nothing and links no C runtime, so loading it has no other effect.
#include <windows.h>

namespace {

// Appends "<dll name>\t<program path>\n" in UTF-8 to the file that LUMORA_CANARY_RECORD names.
void Record(HINSTANCE self) {
  wchar_t record[MAX_PATH];
  const DWORD record_length = GetEnvironmentVariableW(L"LUMORA_CANARY_RECORD", record, MAX_PATH);
  if (record_length == 0 || record_length >= MAX_PATH) return;
  wchar_t line[2 * MAX_PATH + 4];
  DWORD length = GetModuleFileNameW(self, line, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  // The file name alone: the folder is the one it was planted in.
  DWORD start = length;
  while (start > 0 && line[start - 1] != L'\\') --start;
  DWORD at = 0;
  for (DWORD i = start; i < length; ++i) line[at++] = line[i];
  line[at++] = L'\t';
  const DWORD program = GetModuleFileNameW(nullptr, line + at, MAX_PATH);
  if (program == 0 || program >= MAX_PATH) return;
  at += program;
  line[at++] = L'\n';
  char utf8[4 * (2 * MAX_PATH + 4)];
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line, static_cast<int>(at), utf8,
                                        sizeof(utf8), nullptr, nullptr);
  if (bytes <= 0) return;
  // Appends from several processes at once stay whole lines.
  HANDLE file = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, utf8, static_cast<DWORD>(bytes), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI CanaryMain(HINSTANCE self, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) Record(self);
  return TRUE;
}
