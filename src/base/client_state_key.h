// The updater's per-application client-state key: where it lives (one key per release channel's
// application id), the values in it, and the one way the installer opens it. The updater is a
// 32-bit program: every open asks for the 32-bit registry view, so that on 64-bit Windows the
// installer meets the values where the updater keeps them. Patching reads the installed setup
// program from here and the run's report writes here. Nothing here needs windows.h, so that the
// switch matching, which is also built without Windows, takes the ids from here.
#pragma once

#include <stdint.h>

class RegistryKey;

// The key path is this prefix followed by the application id of the release channel.
inline constexpr wchar_t kClientStateKeyPrefix[] = L"Software\\Velmar\\Update\\ClientState\\";

// The application ids of the release channels, letter case included: the installer's channel
// switches choose one, and the sample setup program registers under the same.
inline constexpr wchar_t kDefaultAppId[] = L"{6642A25A-2BD8-484a-9040-5D965B0B55F0}";
inline constexpr wchar_t kBetaAppId[] = L"{5DA28246-F4B4-499B-9E56-3F878A628D6C}";
inline constexpr wchar_t kDevAppId[] = L"{28C2E411-B2C1-4FB3-8E6A-F9301909BD08}";
inline constexpr wchar_t kSxsAppId[] = L"{eccdc541-5d94-41ee-addb-6db5a1a2dd1d}";

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
