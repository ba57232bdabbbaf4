#include "launch/setup_patch.h"

#include "base/client_state_key.h"
#include "base/registry_key.h"
#include "files/remove_with_retry.h"
#include "launch/launch_and_wait.h"
#include "launch/setup_command_line.h"

ExitResult FindInstalledSetup(bool system_level, const wchar_t* app_id,
                              const wchar_t* previous_version, PathBuffer& installed_path) {
  RegistryKey key;
  uint32_t error = OpenClientState(key, system_level, app_id, KEY_QUERY_VALUE);
  if (error != ERROR_SUCCESS) return {EXIT_SETUP_KEY_UNREADABLE, error};
  error = key.ReadString(kUninstallStringValue, installed_path.text, installed_path.capacity);
  if (error != ERROR_SUCCESS) return {EXIT_SETUP_KEY_UNREADABLE, error};
  key.Close();

  if (previous_version != nullptr && previous_version[0] != 0 &&
      FindNoCase(installed_path.text, previous_version) == nullptr) {
    return {EXIT_SETUP_VERSION_MISMATCH, 0};
  }
  // The updater may store the path quoted, as uninstall entries usually are; CreateProcessW wants
  // the bare path as the application name. Only a value that is quoted as a whole is unwrapped.
  const uint32_t length = LengthBounded(installed_path.text, installed_path.capacity);
  if (length >= 2 && installed_path.text[0] == L'"' && installed_path.text[length - 1] == L'"') {
    (void)CopyBounded(installed_path.text, installed_path.capacity, installed_path.text + 1);
    installed_path.text[length - 2] = 0;
  }
  return {0, 0};
}

namespace {

// The patch invocation, up to the tail. False when it does not fit.
bool BuildPatchCommand(CommandBuffer& command, const PathBuffer& installed_path,
                       const PathBuffer& patch_path, const PathBuffer& new_setup_path) {
  wchar_t* const text = command.text;
  const uint32_t capacity = command.capacity;
  return AppendBounded(text, capacity, L"\"") &&
         AppendBounded(text, capacity, installed_path.text) &&
         AppendBounded(text, capacity, L"\" --") &&
         AppendBounded(text, capacity, L"update-setup-exe") &&
         AppendBounded(text, capacity, L"=\"") &&
         AppendBounded(text, capacity, patch_path.text) &&
         AppendBounded(text, capacity, L"\" --") &&
         AppendBounded(text, capacity, L"new-setup-exe") &&
         AppendBounded(text, capacity, L"=\"") &&
         AppendBounded(text, capacity, new_setup_path.text) &&
         AppendBounded(text, capacity, L"\"");
}

}  // namespace

ExitResult PatchSetup(bool system_level, const wchar_t* app_id, const wchar_t* previous_version,
                      const wchar_t* command_line, PathBuffer& setup_path,
                      const PathBuffer& new_setup_path, int32_t& max_attempts) {
  PathBuffer installed_path;
  ExitResult result = FindInstalledSetup(system_level, app_id, previous_version, installed_path);
  if (result.code == 0) {
    CommandBuffer command;
    if (!BuildPatchCommand(command, installed_path, setup_path, new_setup_path)) {
      result = {EXIT_COMMAND_LINE_TOO_LONG, 0};
    } else {
      AppendInvocationTail(command, command_line);
      result = LaunchAndWait(installed_path, command, EXIT_PATCH_SETUP_NOT_FOUND,
                             EXIT_PATCH_SETUP_PATH_NOT_FOUND, EXIT_PATCH_SETUP_LAUNCH_FAILED);
      // The patch is of no use once the installed program has had its go at it, whatever the
      // outcome; whether the deletion succeeds changes nothing about the run.
      int32_t attempts = 0;
      (void)RemoveWithRetry(setup_path.text, attempts);
      FoldAttempts(max_attempts, attempts);
    }
  }
  // An empty path keeps the run's clean-up away from a patch file that was not handed on.
  if (result.code == 0) {
    (void)CopyBounded(setup_path.text, setup_path.capacity, new_setup_path.text);
  } else {
    setup_path.text[0] = 0;
  }
  return result;
}
