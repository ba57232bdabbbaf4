#include "installer/installer_settings.h"

#include <shellapi.h>

#include "base/bounded_string.h"
#include "base/freestanding_runtime.h"
#include "base/platform_call.h"
#include "base/registry_key.h"
#include "installer/settings_calls.h"
#include "lumora/payload_resources.h"

SettingsCalls g_settings_calls = {};

namespace {

// The installer's switches match as the platform compares whole strings, ignoring case.
int SameSwitch(const wchar_t* argument, const wchar_t* switch_text) {
  return lstrcmpiW(argument, switch_text);
}

const wchar_t* FindPreviousVersion(HMODULE module) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(kPreviousVersionId),
                              MAKEINTRESOURCEW(kPreviousVersionType));
  if (found == nullptr) return nullptr;
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) return nullptr;
  const DWORD size = SizeofResource(module, found);
  if (size == 0 || size % 2 != 0) return nullptr;
  const wchar_t* data = static_cast<const wchar_t*>(LockResource(loaded));
  // The version is used in place, so it must end in its own terminator.
  if (data == nullptr || data[size / 2 - 1] != 0) return nullptr;
  return data;
}

// Frees argv and restores every default, so that a second Load starts clean.
void Reset(InstallerSettings& settings) {
  settings.argv.Reset();
  settings.app_id = kDefaultAppId;
  settings.command_line = nullptr;
  settings.argc = 0;
  settings.system_level = false;
  settings.unsupported_switch = false;
  settings.remove_extracted = true;
  settings.previous_version = nullptr;
}

}  // namespace

bool ReadRegistryString(HKEY root, const wchar_t* subkey, const wchar_t* value_name,
                        wchar_t* buffer, uint32_t capacity) {
  // The process's own view: this switch is not the updater's value.
  RegistryKey key;
  if (key.Open(root, subkey, KEY_QUERY_VALUE) != ERROR_SUCCESS) return false;
  return key.ReadString(value_name, buffer, capacity) == ERROR_SUCCESS;
}

bool ParseSwitches(InstallerSettings& settings, const wchar_t* command_line) {
  settings.command_line = command_line;
  int count = 0;
  settings.argv.Reset(
      PlatformCall(g_settings_calls.split_command_line, &CommandLineToArgvW)(command_line, &count));
  settings.argc = count;
  if (!settings.argv.IsValid()) return false;

  SwitchChoices choices = {settings.app_id, settings.system_level, settings.unsupported_switch};
  MatchSwitches(settings.argv.Get(), settings.argc, SameSwitch, choices);
  settings.app_id = choices.app_id;
  settings.system_level = choices.system_level;
  settings.unsupported_switch = choices.unsupported_switch;

  if (!settings.system_level) {
    wchar_t machine[2];
    FillBytes(machine, 0, sizeof(machine));
    const DWORD copied = GetEnvironmentVariableW(L"VelmarUpdateIsMachine", machine, 2);
    settings.system_level = copied == 1 && machine[0] == L'1';
  }
  return true;
}

bool Load(InstallerSettings& settings, HMODULE module, bool resources_sound) {
  Reset(settings);
  if (resources_sound) settings.previous_version = FindPreviousVersion(module);

  wchar_t cleanup[2];
  FillBytes(cleanup, 0, sizeof(cleanup));
  const bool read = ReadRegistryString(HKEY_CURRENT_USER, L"Software\\Velmar",
                                       L"LumoraInstallerCleanup", cleanup, 2);
  settings.remove_extracted = !(read && cleanup[0] == L'0');

  return ParseSwitches(settings, GetCommandLineW());
}
