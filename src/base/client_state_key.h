// The one way the installer opens the updater's per-application client-state key, whose names
// (the key path, the channels' application ids, the values) are the shared ones of
// lumora/client_state_names.h. The updater is a 32-bit program: every open asks for the 32-bit
// registry view, so that on 64-bit Windows the installer meets the values where the updater keeps
// them. Patching reads the installed setup program from there and the run's report writes there.
// Nothing here needs windows.h, so that the switch matching, which is also built without Windows,
// takes the ids from here.
#pragma once

#include <stdint.h>

#include "lumora/client_state_names.h"

class RegistryKey;

// Opens the existing client-state key of app_id into key, under HKEY_LOCAL_MACHINE (system_level)
// or HKEY_CURRENT_USER; never creates it. access: KEY_QUERY_VALUE, optionally | KEY_SET_VALUE.
// Returns a Windows error code; ERROR_BUFFER_OVERFLOW, with key as it was, when the path does not
// fit 260 units.
uint32_t OpenClientState(RegistryKey& key, bool system_level, const wchar_t* app_id,
                         uint32_t access);
