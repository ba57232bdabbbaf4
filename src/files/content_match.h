// Whether a file holds exactly the given bytes. The archive and the setup resource are written
// straight from the installer's own mapped image, so their genuine bytes are still in memory when
// the file is sealed: comparing the file with them is exact, needs no key, and costs one read of
// the file from the cache and one pass over both, at the speed of memory.
#pragma once

#include <windows.h>
#include <stdint.h>

// Bytes read at a time, into one buffer from the process heap: few enough reads that their calls
// cost nothing next to the copying, and small enough to stay in the processor's second-level cache
// while it is compared, and to add little to the run's memory.
inline constexpr DWORD kContentMatchReadBytes = 256 * 1024;

// Reads file (open for reading) from its start to its end and compares it with the size bytes at
// genuine. 0 when it holds exactly them; ERROR_FILE_INVALID when a byte or the length differs;
// the Windows error of a failing read, ERROR_NOT_ENOUGH_MEMORY without a buffer.
uint32_t MatchContent(HANDLE file, const uint8_t* genuine, uint64_t size);
