// The updater's per-application client-state key, and the one owner through which the installer
// reads and writes it. The updater is a 32-bit program: every open asks for the 32-bit registry
// view, so that on 64-bit Windows the installer meets the values where the updater keeps them.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/owner.h"

// The key path is this prefix followed by the application id of the release channel.
inline constexpr wchar_t kClientStateKeyPrefix[] = L"Software\\Velmar\\Update\\ClientState\\";

// Value names of the client-state key.
inline constexpr wchar_t kApValue[] = L"ap";
inline constexpr wchar_t kInstallerResultValue[] = L"InstallerResult";
inline constexpr wchar_t kInstallerErrorValue[] = L"InstallerError";
inline constexpr wchar_t kInstallerExtraCode1Value[] = L"InstallerExtraCode1";
inline constexpr wchar_t kUninstallStringValue[] = L"UninstallString";

// Reads one REG_SZ value of an open key into buffer (capacity in units, terminator included) and
// terminates it, also when it was stored without a terminator. Returns 0, the query's error,
// ERROR_NOT_SUPPORTED for any other type, or ERROR_MORE_DATA when no room is left for the
// terminator.
uint32_t QueryStringValue(HKEY key, const wchar_t* name, wchar_t* buffer, uint32_t capacity);

class RegistryKey {
 public:
  // Opens the existing client-state key under HKEY_LOCAL_MACHINE (system_level) or
  // HKEY_CURRENT_USER; never creates it. access: KEY_QUERY_VALUE, optionally | KEY_SET_VALUE.
  // Returns a Windows error code; ERROR_BUFFER_OVERFLOW when the path does not fit 260 units.
  uint32_t OpenClientState(bool system_level, const wchar_t* app_id, uint32_t access);

  // Reads a REG_SZ value into buffer (capacity in units, terminator included) and terminates it;
  // values stored without a terminator are terminated here. ERROR_NOT_SUPPORTED for other types,
  // ERROR_MORE_DATA when the text and its terminator do not fit, ERROR_INVALID_PARAMETER for no buffer.
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
