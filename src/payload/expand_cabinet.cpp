#include "payload/expand_cabinet.h"

#include "base/bounded_string.h"
#include "base/freestanding_runtime.h"
#include "base/owner.h"
#include "payload/cabinet_callbacks.h"
#include "payload/cabinet_library.h"

namespace {

// Under the FDI contract -1 aborts the copy, 0 skips a file and a handle receives its data.
constexpr INT_PTR kAbort = -1;
constexpr INT_PTR kSkip = 0;

// _A_RDONLY, _A_HIDDEN, _A_SYSTEM and _A_ARCH, which share their values with the FILE_ATTRIBUTE_
// bits. _A_EXEC and _A_NAME_IS_UTF mean nothing to the file system and are dropped.
constexpr USHORT kKeptAttributes = 0x27;

// A UTF-8 copy of part of a UTF-16 text on the process heap, terminated, released on every path.
// The conversion is strict: an unpaired surrogate fails it instead of becoming U+FFFD, which would
// make the library open a path other than the one the installer wrote.
struct Utf8Text {
  HeapMemory<char> text;
  // Bytes before the terminator.
  int length = 0;
  // units < 0: up to and including the terminator.
  Utf8Text(const wchar_t* wide, int units) {
    const int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, units, nullptr, 0,
                                          nullptr, nullptr);
    if (bytes <= 0) return;
    // A counted conversion brings no terminator of its own.
    const int room = units < 0 ? bytes : bytes + 1;
    text.Reset(static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, room)));
    if (!text.IsValid()) return;
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, units, text.Get(), bytes, nullptr,
                            nullptr) != bytes) {
      text.Reset();
      return;
    }
    text.Get()[room - 1] = 0;
    length = room - 1;
  }
};

// The library keeps the directory and the name in fixed buffers of CB_MAX_CAB_PATH and
// CB_MAX_CABINET_NAME bytes, and joins them into one of MAX_PATH bytes with room to spare: Wine's
// refuses more than MAX_PATH - 3 bytes together, and what Windows' does with more is not
// documented. A text that does not fit is refused here, before the library can cut or overrun it.
bool FitsTheLibrary(const Utf8Text& path, const Utf8Text& name) {
  constexpr int kJoinedLimit = MAX_PATH - 3;
  return path.text.IsValid() && name.text.IsValid() && path.length < CB_MAX_CAB_PATH &&
         name.length < CB_MAX_CABINET_NAME && path.length + name.length <= kJoinedLimit;
}

// An FDI context goes back to the library that made it.
struct FdiContextTraits {
  using Value = HFDI;
  static Value Invalid() { return nullptr; }
  static void Release(Value context) { (void)cabinet_library.fdi_destroy(context); }
};
using FdiContext = Owner<FdiContextTraits>;

// The position of the last backslash, never looking at the first unit; 0 when there is none.
uint32_t LastBackslash(const wchar_t* path) {
  uint32_t length = 0;
  while (path[length] != 0) ++length;
  for (uint32_t i = length; i > 1; --i) {
    if (path[i - 1] == L'\\') return i - 1;
  }
  return 0;
}

INT_PTR OnCopyFile(ExpansionState& state, const FDINOTIFICATION& notification) {
  // A library that goes on after the -1 of the close notification offers the next file here;
  // skipping it keeps the destination holding the first file only.
  if (state.copy_started) return kSkip;
  state.copy_started = true;
  state.announced_size = static_cast<uint32_t>(notification.cb);
  HeldFile& file = state.destination.file;
  if (file.Create(state.destination.path.text) != ERROR_SUCCESS) return kAbort;
  // The library writes through, and closes, a handle of its own; the held file keeps its writer
  // for flushing once the copy is over.
  HANDLE copy = INVALID_HANDLE_VALUE;
  if (!DuplicateHandle(GetCurrentProcess(), file.Writer(), GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return kAbort;
  }
  WatchCabinetOutput(reinterpret_cast<INT_PTR>(copy), &state.written);
  return reinterpret_cast<INT_PTR>(copy);
}

// A library may send this notification even when decoding the file's data failed part way, so
// the file counts as complete only when it holds every byte announced for it.
INT_PTR OnCloseFileInfo(ExpansionState& state, const FDINOTIFICATION& notification) {
  // The library hands back the copy that the copy notification gave it: ours to close.
  WatchCabinetOutput(0, nullptr);
  const FileHandle file(reinterpret_cast<HANDLE>(notification.hf));
  LARGE_INTEGER size;
  const bool whole = GetFileSizeEx(file.Get(), &size) && size.QuadPart == state.announced_size;
  // An incomplete file gets no attributes: nothing of the cabinet's is applied to what is no
  // copy of its file.
  if (whole) {
    FILE_BASIC_INFO info;
    FillBytes(&info, 0, sizeof(info));  // zero times and attributes leave those items as they are
    FILETIME local;
    FILETIME utc;
    if (DosDateTimeToFileTime(notification.date, notification.time, &local) &&
        LocalFileTimeToFileTime(&local, &utc)) {
      info.CreationTime.LowPart = utc.dwLowDateTime;
      info.CreationTime.HighPart = static_cast<LONG>(utc.dwHighDateTime);
    }
    info.FileAttributes = notification.attribs & kKeptAttributes;
    (void)SetFileInformationByHandle(file.Get(), FileBasicInfo, &info, sizeof(info));
  }
  state.completed = whole;
  // The first file is all the installer wants: stop the copy here.
  return kAbort;
}

}  // namespace

INT_PTR DIAMONDAPI CabNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification) {
  ExpansionState& state = *static_cast<ExpansionState*>(notification->pv);
  switch (type) {
    case fdintCABINET_INFO:
    case fdintENUMERATE:
      return 0;
    case fdintCOPY_FILE:
      return OnCopyFile(state, *notification);
    case fdintCLOSE_FILE_INFO:
      return OnCloseFileInfo(state, *notification);
    case fdintPARTIAL_FILE:  // continues a previous cabinet the installer does not have
    case fdintNEXT_CABINET:  // the setup program never spans cabinets
    default:
      return kAbort;
  }
}

bool ExpandCabinet(const wchar_t* source, ExtractedFile& destination) {
  if (!LoadCabinetLibrary()) return false;
  const uint32_t backslash = LastBackslash(source);
  if (backslash == 0) return false;
  // FDI joins the two texts as they stand, so the directory keeps its backslash.
  Utf8Text cabinet_name(source + backslash + 1, -1);
  Utf8Text cabinet_path(source, static_cast<int>(backslash + 1));
  if (!FitsTheLibrary(cabinet_path, cabinet_name)) return false;

  ERF error_record;
  FillBytes(&error_record, 0, sizeof(error_record));
  FdiContext context(cabinet_library.fdi_create(CabAlloc, CabFree, CabOpen, CabRead, CabWrite,
                                                CabClose, CabSeek, cpuUNKNOWN, &error_record));
  if (!context.IsValid()) return false;

  ExpansionState state(destination);
  if (state.written.Start() != ERROR_SUCCESS) return false;
  // The outcome is read from the state: the library's own result does not say whether the
  // first file arrived whole.
  (void)cabinet_library.fdi_copy(context.Get(), cabinet_name.text.Get(), cabinet_path.text.Get(),
                                 0, CabNotify, nullptr, &state);
  WatchCabinetOutput(0, nullptr);
  context.Reset();

  HeldFile& file = destination.file;
  if (!state.completed) {
    file.Release();
    return false;
  }
  (void)FlushFileBuffers(file.Writer());
  return file.Seal(state.written) == ERROR_SUCCESS;
}
