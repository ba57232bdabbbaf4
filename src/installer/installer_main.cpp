#include "installer/installer_main.h"

#include "base/bounded_string.h"
#include "files/held_directory.h"
#include "files/remove_with_retry.h"
#include "files/work_directory.h"
#include "installer/client_state_report.h"
#include "installer/installer_settings.h"
#include "launch/setup_command_line.h"
#include "launch/setup_patch.h"
#include "payload/unpack_payload.h"

namespace {

constexpr wchar_t kPatchType[] = L"B7";
constexpr wchar_t kSetupFileName[] = L"setup.exe";

// Once the payload is on disk its pages are no longer needed; handing them back before the setup
// program runs keeps the installer's footprint small while it waits, possibly for a long time.
void TrimWorkingSet() { SetProcessWorkingSetSize(GetCurrentProcess(), (SIZE_T)-1, (SIZE_T)-1); }

// The installer's directory, with its trailing backslash, from its module file name. Records the
// failure's detail in extra when the name cannot be had or holds no directory.
bool FindOwnDirectory(HMODULE module, PathBuffer& module_dir, uint32_t& extra) {
  const DWORD length = GetModuleFileNameW(module, module_dir.text, module_dir.capacity);
  if (length == 0 || length >= module_dir.capacity) {
    extra = GetLastError();
    return false;
  }
  wchar_t* name = FileNamePart(module_dir.text, length);
  if (name == module_dir.text) {
    extra = 0;
    return false;
  }
  *name = 0;
  return true;
}

}  // namespace

ExitResult InstallerMain(HMODULE module) {
  InstallerSettings settings;
  PathBuffer module_dir;
  PathBuffer work_dir;
  // Open from the work directory's creation until the clean-up removes it (or, with removal
  // switched off, until the run ends), so that its path keeps naming it throughout.
  HeldDirectory work_dir_held;
  PathBuffer archive_path;
  PathBuffer setup_path;
  ResourceTypeBuffer archive_type;
  ResourceTypeBuffer setup_type;
  PathBuffer new_setup_path;
  int32_t max_attempts = 0;
  ExitResult result;
  bool succeeded = false;

  if (!Load(settings, module)) {
    result = {EXIT_SETTINGS_FAILED, GetLastError()};
    Reset(settings);
    return result;
  }
  if (settings.unsupported_switch) {
    Reset(settings);
    return {EXIT_UNSUPPORTED_SWITCH, 0};
  }
  uint32_t own_directory_error = 0;
  if (!FindOwnDirectory(module, module_dir, own_directory_error)) {
    Reset(settings);
    return {EXIT_OWN_DIRECTORY_UNKNOWN, own_directory_error};
  }
  result = MakeWorkDirectory(module_dir.text, work_dir, work_dir_held);
  if (result.code != EXIT_OK) {
    Reset(settings);
    return result;
  }

  TagFullInstall(settings);

  result = UnpackPayload(module, work_dir.text, setup_path, setup_type, archive_path, archive_type,
                         max_attempts);
  if (result.code != EXIT_OK) {
    TrimWorkingSet();
  } else {
    bool ready = true;
    if (lstrcmpW(setup_type.text, kPatchType) == 0) {
      if (!CopyBounded(new_setup_path.text, new_setup_path.capacity, work_dir.text) ||
          !AppendBounded(new_setup_path.text, new_setup_path.capacity, kSetupFileName)) {
        // Nothing is trimmed, removed or recorded: the extracted files stay for inspection.
        Reset(settings);
        return {EXIT_PATH_TOO_LONG, 0};
      }
      result = PatchSetup(settings.system_level, settings.app_id, settings.previous_version,
                          settings.command_line, setup_path, new_setup_path, max_attempts);
      TrimWorkingSet();
      ready = result.code == EXIT_OK;
    } else {
      TrimWorkingSet();
    }
    if (ready) {
      result = InstallWithSetup(settings.previous_version, settings.command_line, archive_path,
                                setup_path, lstrcmpW(archive_type.text, kPatchType) == 0);
      succeeded = result.code == EXIT_OK;
    }
  }

  if (settings.remove_extracted) {
    // After a failed patch run setup_path is empty, yet the patch program may already have
    // written all or part of the new setup program: that is removed with the rest, so that no
    // half-written program keeps the work directory alive.
    const wchar_t* setup_to_remove = setup_path.text[0] != 0 ? setup_path.text : new_setup_path.text;
    RemoveExtracted(archive_path.text, setup_to_remove, work_dir.text, work_dir_held,
                    max_attempts);
  }
  if (succeeded) {
    StoreRetryCount(settings, max_attempts);
  } else {
    StoreInstallerResult(settings, result);
  }
  Reset(settings);
  return result;
}
