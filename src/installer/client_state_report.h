// The marks the installer leaves for the updater in the application's client-state key: the "ap"
// tag that says a full installer ran, a failed run's result, and a successful run's retry count.
// The updater reads them; nothing here reports back, because a missing or read-only key must never
// change how the run ends.
#pragma once

#include <stdint.h>

#include "base/exit_result.h"
#include "installer/installer_settings.h"

// "ap" texts that do not fit this many units with their terminator are the updater's business;
// the installer leaves them alone.
inline constexpr uint32_t kApCapacity = 128;
inline constexpr wchar_t kFullInstallSuffix[] = L"-full";
// High word of "InstallerExtraCode1" after a success: tells the updater the low word is a retry count.
inline constexpr uint32_t kRetryCountMarker = 0x30000;

// Appends "-full" to "ap" unless it already ends so (ASCII case folded), cannot be read as a
// REG_SZ that fits kApCapacity, or would no longer fit with the suffix. A missing "ap" becomes
// "-full".
void TagFullInstall(const InstallerSettings& settings);

// Records a failed run: "InstallerResult" = 1, "InstallerError" = code, "InstallerExtraCode1" =
// extra, unless a non-zero "InstallerResult" is already there. A result with code 0 touches nothing.
void StoreInstallerResult(const InstallerSettings& settings, ExitResult result);

// Records a successful run's retries in "InstallerExtraCode1": the marker plus max_attempts - 1
// (0 when max_attempts is below 2), low 16 bits. An earlier recorded failure stays as it is.
void StoreRetryCount(const InstallerSettings& settings, int32_t max_attempts);
