#include "payload/cabinet_callbacks.h"

#include "base/owner.h"

namespace {

// The library's open flags follow the C runtime's _open.
constexpr int kOpenWriteOnly = 0x1;  // _O_WRONLY
constexpr int kOpenReadWrite = 0x2;  // _O_RDWR
constexpr int kOpenCreate = 0x100;   // _O_CREAT

constexpr UINT kFailedCount = static_cast<UINT>(-1);

HANDLE AsHandle(INT_PTR file) { return reinterpret_cast<HANDLE>(file); }

// The output being watched; one expansion at a time, on the installer's one thread.
INT_PTR g_watched_output = 0;
ContentDigest* g_watched_digest = nullptr;

// A UTF-16 copy of a UTF-8 path on the process heap. Strict, like the conversion the path came
// from: malformed UTF-8 opens nothing rather than a path with U+FFFD. Null when it fails.
HeapMemory<wchar_t> WidePath(const char* utf8) {
  HeapMemory<wchar_t> text;
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
  if (units <= 0) return text;
  text.Reset(static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, units * sizeof(wchar_t))));
  if (!text.IsValid()) return text;
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, text.Get(), units) != units) {
    text.Reset();
  }
  return text;
}

}  // namespace

void* DIAMONDAPI CabAlloc(ULONG bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }

// The library owns what CabAlloc gave it and hands it back here: the one release of heap memory
// that no owner of ours makes.
void DIAMONDAPI CabFree(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

INT_PTR DIAMONDAPI CabOpen(char* path, int open_flags, int permission_mode) {
  (void)permission_mode;
  const HeapMemory<wchar_t> wide = WidePath(path);
  if (!wide.IsValid()) return reinterpret_cast<INT_PTR>(INVALID_HANDLE_VALUE);
  DWORD access = GENERIC_READ;
  if (open_flags & kOpenReadWrite) {
    access = GENERIC_READ | GENERIC_WRITE;
  } else if (open_flags & kOpenWriteOnly) {
    access = GENERIC_WRITE;
  }
  const DWORD disposition = (open_flags & kOpenCreate) ? CREATE_ALWAYS : OPEN_EXISTING;
  // The cabinet is held by the run (held_file.h), which lets others read it as long as they share
  // reading too; the library only ever asks to read it.
  HANDLE file = CreateFileW(wide.Get(), access, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return reinterpret_cast<INT_PTR>(file);
}

UINT DIAMONDAPI CabRead(INT_PTR file, void* buffer, UINT count) {
  DWORD read = 0;
  if (!ReadFile(AsHandle(file), buffer, count, &read, nullptr)) return kFailedCount;
  return read;
}

UINT DIAMONDAPI CabWrite(INT_PTR file, void* buffer, UINT count) {
  DWORD written = 0;
  if (!WriteFile(AsHandle(file), buffer, count, &written, nullptr)) return kFailedCount;
  if (written != count) {
    SetLastError(ERROR_DISK_FULL);
    return kFailedCount;
  }
  if (g_watched_digest != nullptr && file == g_watched_output) {
    g_watched_digest->Add(static_cast<const uint8_t*>(buffer), written);
  }
  return written;
}

// The library owns the handles CabOpen and the copy notification gave it, and closes them here.
// It asks for the close's result, which an owner would not give.
int DIAMONDAPI CabClose(INT_PTR file) { return CloseHandle(AsHandle(file)) ? 0 : -1; }

LONG DIAMONDAPI CabSeek(INT_PTR file, LONG distance, int seek_type) {
  // SEEK_SET, SEEK_CUR and SEEK_END have the values of FILE_BEGIN, FILE_CURRENT and FILE_END.
  return static_cast<LONG>(SetFilePointer(AsHandle(file), distance, nullptr, seek_type));
}

void WatchCabinetOutput(INT_PTR file, ContentDigest* digest) {
  g_watched_output = digest != nullptr ? file : 0;
  g_watched_digest = digest;
}
