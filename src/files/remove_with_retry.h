// Deleting what the installer extracted, even while another process still holds it for a moment:
// a bounded retry loop of at most kMaxRemovalAttempts attempts, kRemovalRetryDelayMs apart.
#pragma once

#include <stdint.h>

// A path still held after this many attempts, about ten seconds of waiting, stays.
inline constexpr int32_t kMaxRemovalAttempts = 100;
inline constexpr uint32_t kRemovalRetryDelayMs = 100;

// Deletes one file or one empty directory (a trailing backslash is fine); a symbolic link or
// junction is removed itself, never its target. True when the path no longer exists. attempts is
// set to 1 and raised by one before each wait; it ends between 1 and kMaxRemovalAttempts.
bool RemoveWithRetry(const wchar_t* path, int32_t& attempts);

// Raises max_attempts to attempts when that is larger; it never decreases.
inline void FoldAttempts(int32_t& max_attempts, int32_t attempts) {
  if (attempts > max_attempts) max_attempts = attempts;
}
