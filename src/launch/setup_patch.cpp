#include "launch/setup_patch.h"

#include "base/client_state_key.h"
#include "base/registry_key.h"
#include "files/remove_with_retry.h"
#include "launch/file_identity.h"
#include "launch/launch_and_wait.h"
#include "launch/setup_command_line.h"

namespace {

// A drive letter, a colon and a backslash. CreateProcessW resolves anything else against
// something the installer does not choose: a relative path against the current directory (the
// downloads folder it was started from, typically), "\\server\share\..." on another machine,
// "\\?\..." and "\\.\..." in the device namespaces, "\setup.exe" on the current drive.
bool IsFullLocalPath(const wchar_t* path) {
  const wchar_t letter = static_cast<wchar_t>(path[0] | 0x20);
  return letter >= L'a' && letter <= L'z' && path[1] == L':' && path[2] == L'\\';
}

}  // namespace

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
  if (!IsFullLocalPath(installed_path.text)) {
    return {EXIT_SETUP_KEY_UNREADABLE, ERROR_BAD_PATHNAME};
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

// The installed setup program must not be the installer that is running: started to apply the
// patch, it would find the same "UninstallString" and start itself again, without end. The
// identity of the installer's own file decides, since any path may lead to it. When that identity
// cannot be read, nothing is started either. An installed program that cannot be opened is none
// of the installer's files; starting it reports what is wrong with it.
ExitResult RefuseTheInstallerItself(const PathBuffer& installed_path,
                                    const wchar_t* installer_path) {
  FileIdentity installer;
  const uint32_t error = ReadFileIdentity(installer_path, installer);
  if (error != ERROR_SUCCESS) return {EXIT_SETUP_KEY_UNREADABLE, error};
  FileIdentity installed;
  if (ReadFileIdentity(installed_path.text, installed) == ERROR_SUCCESS &&
      SameFile(installed, installer)) {
    return {EXIT_SETUP_KEY_UNREADABLE, kErrorSetupIsTheInstaller};
  }
  return {EXIT_OK, 0};
}

}  // namespace

ExitResult PatchSetup(bool system_level, const wchar_t* app_id, const wchar_t* previous_version,
                      const wchar_t* command_line, const wchar_t* installer_path,
                      ExtractedFile& patch, ExtractedFile& rebuilt, int32_t& max_attempts) {
  PathBuffer installed_path;
  ExitResult result = FindInstalledSetup(system_level, app_id, previous_version, installed_path);
  if (result.code != EXIT_OK) return result;
  result = RefuseTheInstallerItself(installed_path, installer_path);
  if (result.code != EXIT_OK) return result;
  CommandBuffer command;
  if (!BuildPatchCommand(command, installed_path, patch.path, rebuilt.path)) {
    return {EXIT_COMMAND_LINE_TOO_LONG, 0};
  }
  AppendInvocationTail(command, command_line);
  result = LaunchAndWait(installed_path, command, EXIT_PATCH_SETUP_NOT_FOUND,
                         EXIT_PATCH_SETUP_PATH_NOT_FOUND, EXIT_PATCH_SETUP_LAUNCH_FAILED);
  // Held at once: until now the file was the patch program's, and whatever took its place
  // meanwhile would otherwise be run as the setup program. One that cannot be held is not run;
  // a missing one is what starting it would have met.
  if (result.code == EXIT_OK) {
    const uint32_t held = rebuilt.file.Hold(rebuilt.path.text);
    if (held == ERROR_SUCCESS) {
      rebuilt.stays = true;
    } else {
      result = StartFailure(rebuilt.path, held, EXIT_SETUP_NOT_FOUND, EXIT_SETUP_PATH_NOT_FOUND,
                            EXIT_SETUP_LAUNCH_FAILED);
    }
  }
  // The patch has had its one use once the patch program was given it, whatever came of that:
  // it goes now, so that the setup program finds only itself and the archive beside it.
  RemoveEarly(patch, max_attempts);
  return result;
}
