// The updater's per-application client-state key: where it lives, the values in it, and the one
// way the installer opens it. The updater is a 32-bit program: every open asks for the 32-bit
// registry view, so that on 64-bit Windows the installer meets the values where the updater keeps
// them. Patching reads the installed setup program from here and the run's report writes here.
#pragma once

#include <stdint.h>

class RegistryKey;

// The key path is this prefix followed by the application id of the release channel.
inline constexpr wchar_t kClientStateKeyPrefix[] = L"Software\\Velmar\\Update\\ClientState\\";

// Value names of the client-state key.
inline constexpr wchar_t kApValue[] = L"ap";
inline constexpr wchar_t kInstallerResultValue[] = L"InstallerResult";
inline constexpr wchar_t kInstallerErrorValue[] = L"InstallerError";
inline constexpr wchar_t kInstallerExtraCode1Value[] = L"InstallerExtraCode1";
inline constexpr wchar_t kUninstallStringValue[] = L"UninstallString";

// Opens the existing client-state key of app_id into key, under HKEY_LOCAL_MACHINE (system_level)
// or HKEY_CURRENT_USER; never creates it. access: KEY_QUERY_VALUE, optionally | KEY_SET_VALUE.
// Returns a Windows error code; ERROR_BUFFER_OVERFLOW, with key as it was, when the path does not
// fit 260 units.
uint32_t OpenClientState(RegistryKey& key, bool system_level, const wchar_t* app_id,
                         uint32_t access);
