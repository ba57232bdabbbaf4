// The names of the updater's per-application client-state key: where it lives (one key per
// release channel's application id) and the values in it. The installer opens it and reports
// there; the sample setup program registers there as a real setup program would; tests and
// scripts read it back.
#pragma once

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
