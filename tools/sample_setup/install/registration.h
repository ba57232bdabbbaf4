// The updater's client-state key of the application: the setup program writes "UninstallString"
// there, the path of the setup program it leaves in the installation, so that a later installer
// that carries a patch finds it. The setup program owns its application's registration, so it
// creates the key when the updater has not (the installer never does).
#pragma once

#include <string>

// The default installation root, empty when the variable is missing: for the user
// %LOCALAPPDATA%\Lumora\Application, for the machine %ProgramFiles%\Lumora\Application.
std::wstring DefaultInstallRoot(bool system_level);

// Writes "UninstallString" = setup_path in quotes into the key of app_id, under
// HKEY_LOCAL_MACHINE at system level, else HKEY_CURRENT_USER, in the 32-bit view.
bool RegisterSetupProgram(bool system_level, const wchar_t* app_id, const std::wstring& setup_path);
