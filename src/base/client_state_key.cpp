#include "base/client_state_key.h"

#include <windows.h>

#include "base/bounded_string.h"
#include "base/registry_key.h"

uint32_t OpenClientState(RegistryKey& key, bool system_level, const wchar_t* app_id,
                         uint32_t access) {
  PathBuffer path;
  if (!CopyBounded(path.text, path.capacity, kClientStateKeyPrefix) ||
      !AppendBounded(path.text, path.capacity, app_id)) {
    return ERROR_BUFFER_OVERFLOW;
  }
  // The updater keeps its key in the 32-bit view; a caller's 64-bit flag must not move us out of
  // it.
  const REGSAM view_access = (access & ~static_cast<REGSAM>(KEY_WOW64_64KEY)) | KEY_WOW64_32KEY;
  return key.Open(system_level ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, path.text, view_access);
}
