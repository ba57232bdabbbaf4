#include "base/registry_string.h"

bool TerminateRegistryString(wchar_t* buffer, uint32_t capacity, uint32_t bytes_returned) {
  const uint32_t units = bytes_returned / 2;
  if (units == 0) {
    buffer[0] = 0;
    return true;
  }
  if (buffer[units - 1] == 0) return true;  // stored with its terminator
  if (units < capacity) {
    buffer[units] = 0;
    return true;
  }
  return false;
}
