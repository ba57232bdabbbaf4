// One open registry key, and the reads and writes the installer makes through it. The registry
// keeps whatever a writer stored: a string may come without its terminator or with a type other
// than the one asked for, so every read checks the type and the size and terminates strings here.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/owner.h"

class RegistryKey {
 public:
  // Opens the existing key path under root with access (which may name a registry view); never
  // creates it. A key held before is closed first. Returns a Windows error code.
  uint32_t Open(HKEY root, const wchar_t* path, uint32_t access);

  // Reads a REG_SZ value into buffer (capacity in units, terminator included) and terminates it;
  // values stored without a terminator are terminated here. ERROR_NOT_SUPPORTED for other types,
  // ERROR_MORE_DATA when the text and its terminator do not fit, ERROR_INVALID_PARAMETER for no
  // buffer.
  uint32_t ReadString(const wchar_t* name, wchar_t* buffer, uint32_t capacity);
  // Reads a REG_DWORD; ERROR_NOT_SUPPORTED for other types, ERROR_NO_DATA for a short value.
  uint32_t ReadDword(const wchar_t* name, uint32_t& value);
  uint32_t WriteString(const wchar_t* name, const wchar_t* text);
  uint32_t WriteDword(const wchar_t* name, uint32_t value);

  // Closes the key, if one is open; the thread's last error is kept.
  void Close() { handle_.Reset(); }
  HKEY handle() const { return handle_.Get(); }

 private:
  RegistryHandle handle_;
};
