// One run of the installer, from its settings to its exit result.
#pragma once

#include <windows.h>

#include "base/exit_result.h"

ExitResult InstallerMain(HMODULE module);
