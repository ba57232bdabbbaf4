// A file of the run's own in the work directory, held from its creation until the clean-up removes
// it. Each extracted file is found again by its path after it was written: by CreateProcessW, by
// the cabinet library, by the setup program reading the archive. Where no access list keeps other
// users out of the work directory (FAT32, exFAT, a network share, Wine), anyone could otherwise
// rename the file aside and put another in its place, or write over it, between its writing and
// its use. While it is held, nobody else may write, rename or delete it, and everyone may read it.
//
// Share modes are fixed when a handle is opened, and Windows starts a program only while nobody
// has its file open for writing, so no single handle can first write and then hold. Three handles
// hand the file on without a moment in which it could be renamed:
//   1. The writer creates the file: it writes and shares reading only, so that from the file's
//      first moment nobody else may write, rename or delete it.
//   2. The hold, reopened from the writer, never by path: it reads and shares reading and writing
//      (the writer's) but never deletion, so that it keeps the name when the writer is gone.
//   3. The seal: once the writer is closed, a handle reopened from the hold that reads and shares
//      reading alone; then the hold is closed. From here others may only read.
// Between the writer's close and the seal, one call apart, another process may still open the file
// for writing: one that still has it open makes the seal fail, and one that wrote and closed it in
// between is seen by a digest of the content under a secret key (content_digest.h), taken before
// the writer closes and again through the seal. Either way the file is not used. Such a process
// can make the run fail, never make it use what it wrote; only an access list on the work
// directory keeps it from trying.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/owner.h"

class HeldFile {
 public:
  // Creates the file at path, which must not exist yet (a file, directory or link already there
  // means someone raced in: ERROR_FILE_EXISTS), and opens it for writing through Writer().
  // Returns 0 or the Windows error of the failing call; on failure nothing is held.
  uint32_t Create(const wchar_t* path);
  // Closes the writer and narrows the hold to reading, having checked that the content is still
  // what was written. ERROR_SHARING_VIOLATION when another process has the file open for writing,
  // ERROR_FILE_INVALID when the content changed meanwhile, or the error of a failing read; then
  // nothing is held.
  uint32_t Seal();
  // Holds a file that another program wrote (the setup program rebuilt by a patch run): the path
  // itself, never what a link there points to, and only a plain file. Returns 0 or the error;
  // ERROR_CANT_RESOLVE_FILENAME for a link or a directory.
  uint32_t Hold(const wchar_t* path);
  // Closes every handle; the thread's last error is kept.
  void Release();

  HANDLE Writer() const { return writer_.Get(); }
  bool IsHeld() const { return hold_.IsValid(); }

 private:
  FileHandle hold_;
  FileHandle writer_;
};
