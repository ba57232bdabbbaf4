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
// between is seen by the check that follows the seal, when nobody else can write any more: the
// sealed file is compared with the genuine bytes where they are in memory (a resource of the
// installer's image, content_match.h), or digested under a secret key and compared with the digest
// taken of the bytes as they were written (content_digest.h). Either way the file is not used.
// Such a process can make the run fail, never make it use what it wrote; only an access list on
// the work directory keeps it from trying.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/owner.h"
#include "files/content_digest.h"

class HeldFile {
 public:
  // Creates the file at path, which must not exist yet (a file, directory or link already there
  // means someone raced in: ERROR_FILE_EXISTS), and opens it for writing through Writer().
  // Returns 0 or the Windows error of the failing call; on failure nothing is held.
  uint32_t Create(const wchar_t* path);
  // Closes the writer, narrows the hold to reading, and then checks that the file holds exactly
  // the size bytes at genuine. ERROR_SHARING_VIOLATION when another process has the file open for
  // writing, ERROR_FILE_INVALID when the content is not those bytes, or the error of a failing
  // read; then nothing is held.
  uint32_t Seal(const uint8_t* genuine, uint64_t size);
  // The same for a file whose bytes are not in memory: what it holds must digest to what written
  // gave for the bytes as they were written, under its key.
  uint32_t Seal(const ContentDigest& written);
  // Holds a file that another program wrote (the setup program rebuilt by a patch run): the path
  // itself, never what a link there points to, and only a plain file. Returns 0 or the error;
  // ERROR_CANT_RESOLVE_FILENAME for a link or a directory.
  uint32_t Hold(const wchar_t* path);
  // Closes every handle; the thread's last error is kept.
  void Release();

  HANDLE Writer() const { return writer_.Get(); }
  bool IsHeld() const { return hold_.IsValid(); }

 private:
  // Closes the writer and reopens the hold as the seal: 0 or the error, with nothing held.
  uint32_t Narrow();

  FileHandle hold_;
  FileHandle writer_;
};
