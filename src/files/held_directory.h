// The work directory, held open from its creation until the clean-up removes it. Every later step
// finds the directory again by its path: each write, the setup program's launch, each deletion.
// Were it renamed and a link to another folder put in its place meanwhile, those steps would
// follow the link, and the clean-up would delete files of the same names in the link's target.
// A handle that does not share deletion refuses every rename and deletion of the directory for
// as long as it is open (on NTFS, renaming a folder above it fails too, since an open handle lies
// below), so the path keeps naming the directory the run created.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/owner.h"

class HeldDirectory {
 public:
  // Opens path itself, never what a link there points to, and keeps it open when it is a
  // directory and no reparse point. Returns 0, or the error that leaves nothing held:
  // ERROR_CANT_RESOLVE_FILENAME when something else was put in the directory's place, the open's
  // own error when it could not be opened.
  uint32_t Hold(const wchar_t* path);
  // Closes the handle; the thread's last error is kept.
  void Release() { handle_.Reset(); }
  bool IsHeld() const { return handle_.IsValid(); }

 private:
  FileHandle handle_;
};
