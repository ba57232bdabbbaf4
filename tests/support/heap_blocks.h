// Whether a block that the process heap handed out is still allocated there: how a test sees
// that memory was given back. LocalAlloc's fixed memory comes from the process heap too.
#pragma once

#include <windows.h>

inline bool IsAllocated(const void* block) {
  if (block == nullptr) return false;
  const HANDLE heap = GetProcessHeap();
  PROCESS_HEAP_ENTRY entry = {};
  bool found = false;
  HeapLock(heap);
  while (!found && HeapWalk(heap, &entry)) {
    found = (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0 && entry.lpData == block;
  }
  HeapUnlock(heap);
  return found;
}
