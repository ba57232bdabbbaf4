// The platform call of the settings that tests replace: splitting the command line, whose failure
// cannot be provoked, and which reads the process's own command line, which a test cannot change.
// A null member means the real function.
#pragma once

#include <windows.h>

struct SettingsCalls {
  LPWSTR*(WINAPI* split_command_line)(LPCWSTR, int*);
};

// Constant-initialised to all null: the stub has no static constructors.
extern SettingsCalls g_settings_calls;
