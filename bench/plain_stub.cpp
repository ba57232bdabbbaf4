// The yardstick: the least a stub can do for the same job as ours, to tell what our installer's
// own steps cost. It reads its two resources ("B7" "LUMORA.PACKED.7Z" and "BN" "SETUP.EXE", as
// lumora-pack attaches them), writes them into a fresh directory beside itself, runs the setup
// program hidden with the archive named and waits, deletes both and the directory, and exits with
// the setup program's code. No C runtime, no registry, no access list, no shell32.
//
// Built a second time with SPLIT_WITH_SHELL32 (plain-stub-shell32.exe): the same, and first it
// splits its command line with shell32's CommandLineToArgvW, as our installer must. What shell32
// and the libraries it brings cost at every start is then in the yardstick too, and the distance
// from ours to it is our own steps alone.
#include <windows.h>
#ifdef SPLIT_WITH_SHELL32
#include <shellapi.h>
#endif

namespace {

constexpr DWORD kChunk = 0x800000;  // as the installer writes: a network volume refuses huge writes

wchar_t* Append(wchar_t* to, const wchar_t* end, const wchar_t* text) {
  while (*text != 0 && to + 1 < end) *to++ = *text++;
  *to = 0;
  return to;
}

bool WriteMember(const wchar_t* type, const wchar_t* name, const wchar_t* path) {
  HRSRC found = FindResourceW(nullptr, name, type);
  const DWORD size = found != nullptr ? SizeofResource(nullptr, found) : 0;
  const BYTE* data = size != 0 ? static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)))
                               : nullptr;
  if (data == nullptr) return false;
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  for (DWORD done = 0; ok && done < size;) {
    const DWORD piece = size - done < kChunk ? size - done : kChunk;
    DWORD written = 0;
    ok = WriteFile(file, data + done, piece, &written, nullptr) && written == piece;
    done += piece;
  }
  CloseHandle(file);
  return ok;
}

}  // namespace

extern "C" [[noreturn]] void PlainEntry() {
#ifdef SPLIT_WITH_SHELL32
  int argc = 0;
  LocalFree(CommandLineToArgvW(GetCommandLineW(), &argc));
#endif
  wchar_t dir[MAX_PATH], archive[MAX_PATH], setup[MAX_PATH], command[3 * MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, dir, MAX_PATH);
  while (length > 0 && dir[length - 1] != L'\\') --length;
  // A fresh name per run: the process id in hexadecimal.
  wchar_t name[] = L"PS_00000000.tmp\\";
  for (DWORD id = GetCurrentProcessId(), i = 0; i < 8; ++i, id >>= 4) {
    name[10 - i] = L"0123456789ABCDEF"[id & 15];
  }
  wchar_t* end = Append(dir + length, dir + MAX_PATH, name);
  end[-1] = 0;  // the directory is created without its backslash
  UINT code = 1;
  if (CreateDirectoryW(dir, nullptr)) {
    end[-1] = L'\\';
    Append(Append(archive, archive + MAX_PATH, dir), archive + MAX_PATH, L"LUMORA.PACKED.7Z");
    Append(Append(setup, setup + MAX_PATH, dir), setup + MAX_PATH, L"setup.exe");
    wchar_t* c = Append(Append(command, command + 3 * MAX_PATH, L"\""), command + 3 * MAX_PATH, setup);
    c = Append(Append(c, command + 3 * MAX_PATH, L"\" --install-archive=\""), command + 3 * MAX_PATH, archive);
    Append(c, command + 3 * MAX_PATH, L"\"");
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    if (WriteMember(L"B7", L"LUMORA.PACKED.7Z", archive) &&
        WriteMember(L"BN", L"SETUP.EXE", setup) &&
        CreateProcessW(setup, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                       &startup, &child)) {
      CloseHandle(child.hThread);
      WaitForSingleObject(child.hProcess, INFINITE);
      DWORD exit_code = 1;
      GetExitCodeProcess(child.hProcess, &exit_code);
      CloseHandle(child.hProcess);
      code = exit_code;
    }
    DeleteFileW(archive);
    DeleteFileW(setup);
    end[-1] = 0;
    RemoveDirectoryW(dir);
  }
  ExitProcess(code);
}
