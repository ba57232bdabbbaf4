#include "install/registration.h"

#include <windows.h>

#include "lumora/client_state_names.h"

std::wstring DefaultInstallRoot(bool system_level) {
  wchar_t base[MAX_PATH + 1] = {};
  const DWORD length = GetEnvironmentVariableW(system_level ? L"ProgramFiles" : L"LOCALAPPDATA",
                                               base, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return std::wstring();
  return std::wstring(base) + L"\\Lumora\\Application";
}

bool RegisterSetupProgram(bool system_level, const wchar_t* app_id, const std::wstring& setup_path) {
  const std::wstring key_path = std::wstring(kClientStateKeyPrefix) + app_id;
  HKEY key = nullptr;
  // The updater reads this key in the 32-bit view; so does the installer.
  if (RegCreateKeyExW(system_level ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, key_path.c_str(), 0,
                      nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring value = L"\"" + setup_path + L"\"";
  const LSTATUS status = RegSetValueExW(key, kUninstallStringValue, 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(value.c_str()),
                                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}
