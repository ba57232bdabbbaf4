// Whether two paths lead to the same file. A path tells little: the same file answers to another
// letter case, its short name, a hard link of another name and a symbolic link. The file system's
// own identity of a file, the serial number of its volume and its index on that volume, tells
// them apart and brings them together.
#pragma once

#include <windows.h>
#include <stdint.h>

struct FileIdentity {
  DWORD volume_serial = 0;
  DWORD index_high = 0;
  DWORD index_low = 0;
};

// The identity of the file that starting the program at path would run: the path is opened as
// CreateProcessW opens it, following a link to its target, but for its attributes alone, sharing
// everything, so that the open neither runs, changes nor locks anything. 0, or the error of the
// open or of the query.
uint32_t ReadFileIdentity(const wchar_t* path, FileIdentity& identity);

inline bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.volume_serial == b.volume_serial && a.index_high == b.index_high &&
         a.index_low == b.index_low;
}
