// Termination of a string value as the registry hands it over. The registry keeps whatever bytes
// were stored: a REG_SZ value may come without its terminator, with an odd byte count, or empty.
// Kept apart from the registry calls, so that it builds and is checked without Windows.
#pragma once

#include <stdint.h>

// buffer holds the bytes_returned bytes of a REG_SZ value that a query was offered capacity * 2
// bytes for (so bytes_returned <= capacity * 2, capacity >= 1). Leaves the text terminated within
// the capacity and returns true, or returns false, writing nothing, when the value fills the
// whole buffer and leaves no room for a terminator. An odd last byte is not a unit of the text.
bool TerminateRegistryString(wchar_t* buffer, uint32_t capacity, uint32_t bytes_returned);
