// A file the installer is in the middle of writing. Whoever writes through it marks it for
// deletion before closing when the write did not complete, so a half-written file never survives.
#pragma once

#include <windows.h>

#include "base/bounded_string.h"
#include "base/owner.h"

class FileBeingWritten {
 public:

  // Creates or truncates the file, held with write and delete access and shared for deletion only,
  // so nobody else can read or write it while it is held. False leaves the object closed, with
  // GetLastError() from CreateFileW (or untouched when the path does not fit 260 units).
  bool Open(const wchar_t* path);
  void Close();
  bool IsOpen() const { return handle_.IsValid(); }
  // Delete-on-close: the file vanishes when its last handle, duplicates included, is closed.
  bool MarkForDeletion();
  // A second handle to the same open file, owned by the caller; INVALID_HANDLE_VALUE on failure.
  HANDLE Duplicate();
  HANDLE Handle() const { return handle_.Get(); }
  const wchar_t* Path() const { return path_.text; }

 private:
  PathBuffer path_;
  FileHandle handle_;
};
