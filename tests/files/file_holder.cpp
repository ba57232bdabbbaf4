// A second process for the removal tests: opens a file the way another program holding it would,
// says so through an event, and keeps it open until told to let go.
//   file_holder PATH READY_EVENT RELEASE_EVENT [share-delete]
// Without "share-delete" the file is shared for reading and writing only, so nobody can delete
// it while it is held; with it, a deletion can be requested but completes only when this handle
// closes.
#include <windows.h>
#include <shellapi.h>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 4) return 2;
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (argc > 4 && lstrcmpW(argv[4], L"share-delete") == 0) share |= FILE_SHARE_DELETE;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
  if (ready == nullptr || release == nullptr) return 4;
  SetEvent(ready);
  DWORD waited = WaitForSingleObject(release, 60000);
  CloseHandle(file);
  return waited == WAIT_OBJECT_0 ? 0 : 5;
}
