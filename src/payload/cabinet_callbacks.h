// Memory and file services that the cabinet library calls back into while it expands a cabinet.
// Paths arrive in UTF-8 (the library's only text encoding); file handles travel as Windows file
// handles in the library's integer handle type, with -1 standing for INVALID_HANDLE_VALUE.
#pragma once

#include <windows.h>

#include <fdi.h>

#include "files/content_digest.h"

void* DIAMONDAPI CabAlloc(ULONG bytes);
void DIAMONDAPI CabFree(void* block);
INT_PTR DIAMONDAPI CabOpen(char* path, int open_flags, int permission_mode);
UINT DIAMONDAPI CabRead(INT_PTR file, void* buffer, UINT count);
// A write that reports success with fewer bytes than asked counts as failed, with the last error
// set to ERROR_DISK_FULL: that is how a volume that fills up part way through shows itself.
UINT DIAMONDAPI CabWrite(INT_PTR file, void* buffer, UINT count);
int DIAMONDAPI CabClose(INT_PTR file);
LONG DIAMONDAPI CabSeek(INT_PTR file, LONG distance, int seek_type);

// The library hands its write callback the handle alone, with no context. The one file that an
// expansion writes is therefore named here, with the digest of what is written to it, for the
// length of its copy: every whole write through that handle is added to the digest, so that the
// file can be checked once sealed without being read twice (held_file.h). A null digest ends the
// watch.
void WatchCabinetOutput(INT_PTR file, ContentDigest* digest);
