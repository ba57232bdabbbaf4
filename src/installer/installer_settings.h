// What the installer knows about its invocation before it touches the disk: the release channel
// and install scope (command line and "VelmarUpdateIsMachine"), whether extracted files are removed
// ("LumoraInstallerCleanup"), and the version an update replaces (resource RT_RCDATA 1).
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/owner.h"
#include "installer/switch_matching.h"

// Releases what it holds (the split arguments) when it goes out of scope.
struct InstallerSettings {
  // From CommandLineToArgvW. Null when not split or splitting failed.
  LocalMemory<wchar_t*> argv;
  const wchar_t* app_id = kDefaultAppId;
  // The process command line as GetCommandLineW gave it; not owned.
  const wchar_t* command_line = nullptr;
  int32_t argc = 0;
  bool system_level = false;
  bool unsupported_switch = false;
  bool remove_extracted = true;
  // Terminated UTF-16 text inside the image's RT_RCDATA 1 resource; not owned.
  const wchar_t* previous_version = nullptr;
};

// Fills the settings from the image of module, the registry, the process command line and the
// environment, starting from every default (a second Load gives back the first one's split).
// The previous version is read only when resources_sound: the image's resource directory passed
// the shared rules, so that looking the resource up cannot read outside the image.
// False only when the command line cannot be split; GetLastError() then holds why.
bool Load(InstallerSettings& settings, HMODULE module, bool resources_sound);

// Splits command_line and applies the switches (and, failing "--system-level", the environment).
bool ParseSwitches(InstallerSettings& settings, const wchar_t* command_line);

// Reads one REG_SZ value in the process's own registry view; true when buffer holds it, terminated.
bool ReadRegistryString(HKEY root, const wchar_t* subkey, const wchar_t* value_name,
                        wchar_t* buffer, uint32_t capacity);
