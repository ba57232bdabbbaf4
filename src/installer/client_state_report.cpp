#include "installer/client_state_report.h"

#include "base/bounded_string.h"
#include "base/client_state_key.h"
#include "base/registry_key.h"

namespace {

constexpr uint32_t kReadWrite = KEY_QUERY_VALUE | KEY_SET_VALUE;

}  // namespace

void TagFullInstall(const InstallerSettings& settings) {
  BoundedString<kApCapacity> ap;
  RegistryKey key;
  if (OpenClientState(key, settings.system_level, settings.app_id, kReadWrite) != ERROR_SUCCESS) {
    return;
  }
  const uint32_t read = key.ReadString(kApValue, ap.text, ap.capacity);
  if (read == ERROR_FILE_NOT_FOUND) {
    ap.text[0] = 0;
  } else if (read != ERROR_SUCCESS) {
    // Too long or not a plain string: rewriting it would destroy what the updater stored.
    return;
  }
  if (EndsWithNoCase(ap.text, kFullInstallSuffix)) return;
  if (!AppendBounded(ap.text, ap.capacity, kFullInstallSuffix)) return;
  key.WriteString(kApValue, ap.text);
}

void StoreInstallerResult(const InstallerSettings& settings, ExitResult result) {
  if (result.code == EXIT_OK) return;
  RegistryKey key;
  if (OpenClientState(key, settings.system_level, settings.app_id, kReadWrite) != ERROR_SUCCESS) {
    return;
  }
  // The first failure recorded, by us or by the setup program, is the one the updater acts on.
  uint32_t recorded = 0;
  if (key.ReadDword(kInstallerResultValue, recorded) == ERROR_SUCCESS && recorded != 0) return;
  key.WriteDword(kInstallerResultValue, 1);
  key.WriteDword(kInstallerErrorValue, result.code);
  key.WriteDword(kInstallerExtraCode1Value, result.extra);
}

void StoreRetryCount(const InstallerSettings& settings, int32_t max_attempts) {
  RegistryKey key;
  if (OpenClientState(key, settings.system_level, settings.app_id, kReadWrite) != ERROR_SUCCESS) {
    return;
  }
  const uint32_t retries = max_attempts >= 2 ? static_cast<uint32_t>(max_attempts) - 1 : 0;
  key.WriteDword(kInstallerExtraCode1Value, kRetryCountMarker | (retries & 0xFFFF));
}
