// The loop behind memset. The stub links no C runtime, so freestanding_runtime.cpp supplies the
// few routines that the compiler calls on its own (clearing a structure becomes memset) and the
// stub's code clears its structures with this same loop. It is inline, so that the test programs,
// which take memset from their C runtime, compile it too.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Writes the low eight bits of value into count bytes; returns destination.
inline void* FillBytes(void* destination, int value, size_t count) {
  // volatile: the compiler must not turn this loop into a call to memset, which is this loop.
  volatile uint8_t* bytes = static_cast<uint8_t*>(destination);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(value);
  return destination;
}
