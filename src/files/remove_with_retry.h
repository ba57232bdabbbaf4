// Deleting what the installer extracted, even while another process still holds it for a moment:
// a bounded retry loop of at most 100 attempts, 100 ms apart.
#pragma once

#include <stdint.h>

#include "files/held_directory.h"

// Deletes one file or one empty directory (a trailing backslash is fine); a symbolic link or
// junction is removed itself, never its target. True when the path no longer exists. attempts is
// set to 1 and raised by one before each wait; it ends between 1 and 100.
bool RemoveWithRetry(const wchar_t* path, int32_t& attempts);

// Raises max_attempts to attempts when that is larger; it never decreases.
inline void FoldAttempts(int32_t& max_attempts, int32_t attempts) {
  if (attempts > max_attempts) max_attempts = attempts;
}

// Removes the archive, the setup program (each skipped when its path is empty) and then the work
// directory, folding every attempt count into max_attempts. Failures stay silent. The directory
// is released just before its own removal, so that it cannot be swapped while the files inside
// are deleted by path.
void RemoveExtracted(const wchar_t* archive_path, const wchar_t* setup_path,
                     const wchar_t* work_dir, HeldDirectory& held, int32_t& max_attempts);
