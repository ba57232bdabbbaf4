// The few routines that GCC may call on its own even in a program without a C runtime: clearing a
// structure becomes memset, copying one becomes memcpy. Linked into the stub only; test programs
// take these from their C runtime. This file is compiled with -fno-builtin and without loop
// pattern distribution, so the loops below cannot be turned back into calls to themselves.
#include "base/freestanding_runtime.h"

#include <stddef.h>
#include <stdint.h>

extern "C" {

void* memset(void* destination, int value, size_t count) {
  return FillBytes(destination, value, count);
}

void* memcpy(void* destination, const void* source, size_t count) {
  uint8_t* to = static_cast<uint8_t*>(destination);
  const uint8_t* from = static_cast<const uint8_t*>(source);
  for (size_t i = 0; i < count; ++i) to[i] = from[i];
  return destination;
}

void* memmove(void* destination, const void* source, size_t count) {
  uint8_t* to = static_cast<uint8_t*>(destination);
  const uint8_t* from = static_cast<const uint8_t*>(source);
  if (to < from) {
    for (size_t i = 0; i < count; ++i) to[i] = from[i];
  } else {
    for (size_t i = count; i > 0; --i) to[i - 1] = from[i - 1];
  }
  return destination;
}

int memcmp(const void* left, const void* right, size_t count) {
  const uint8_t* a = static_cast<const uint8_t*>(left);
  const uint8_t* b = static_cast<const uint8_t*>(right);
  for (size_t i = 0; i < count; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

}  // extern "C"
