#include "installer/installer_main.h"

#include "base/bounded_string.h"
#include "files/extracted_files.h"
#include "files/held_directory.h"
#include "files/work_directory.h"
#include "installer/client_state_report.h"
#include "installer/installer_settings.h"
#include "launch/setup_command_line.h"
#include "launch/setup_patch.h"
#include "lumora/payload_resources.h"
#include "lumora/payload_rules.h"
#include "payload/own_resources.h"
#include "payload/unpack_payload.h"

namespace {

// What the run keeps from the work directory's creation to its report. Every path is a buffer of
// this frame. Unpacking and patching list each file they put into the work directory, held, in
// extracted; the cabinet and the patch leave it as soon as they are used, and the clean-up removes
// what is still listed there.
struct Run {
  // The installer's own file, as the module file name gives it.
  PathBuffer installer_path;
  PathBuffer work_dir;
  // Open from the work directory's creation until the clean-up removes it (or, with removal
  // switched off, until the run ends), so that its path keeps naming it throughout.
  HeldDirectory work_dir_held;
  ExtractedFiles extracted;
  ExtractedFile* archive = nullptr;
  PayloadType archive_type = PayloadType::kPacked;
  // The setup program that the install invocation runs: as unpacked, expanded, or rebuilt by the
  // patch run; before that, for a patch, the patch itself.
  ExtractedFile* setup = nullptr;
  PayloadType setup_type = PayloadType::kCabinet;
  // The most attempts any single deletion of the run took; the report of a success records it.
  int32_t max_attempts = 0;
};

ExitResult ReadSettings(InstallerSettings& settings, HMODULE module, bool resources_sound) {
  if (!Load(settings, module, resources_sound)) return {EXIT_SETTINGS_FAILED, GetLastError()};
  // Refused before anything is created, tagged or recorded.
  if (settings.unsupported_switch) return {EXIT_UNSUPPORTED_SWITCH, 0};
  return {EXIT_OK, 0};
}

// The installer's own file and its directory, with its trailing backslash, from its module file
// name. Records the failure's detail in extra when the name cannot be had or holds no directory.
bool FindOwnDirectory(HMODULE module, PathBuffer& installer_path, PathBuffer& module_dir,
                      uint32_t& extra) {
  const DWORD length = GetModuleFileNameW(module, installer_path.text, installer_path.capacity);
  if (length == 0 || length >= installer_path.capacity) {
    extra = GetLastError();
    return false;
  }
  (void)CopyBounded(module_dir.text, module_dir.capacity, installer_path.text);
  wchar_t* name = FileNamePart(module_dir.text, length);
  if (name == module_dir.text) {
    extra = 0;
    return false;
  }
  *name = 0;
  return true;
}

// Beside the installer's own executable. Nothing is recorded when this fails.
ExitResult CreateWorkDirectory(HMODULE module, Run& run) {
  PathBuffer module_dir;
  uint32_t own_directory_error = 0;
  if (!FindOwnDirectory(module, run.installer_path, module_dir, own_directory_error)) {
    return {EXIT_OWN_DIRECTORY_UNKNOWN, own_directory_error};
  }
  return MakeWorkDirectory(module_dir.text, run.work_dir, run.work_dir_held);
}

// A resource directory that the shared rules refuse is the archive's failure, as the first step of
// unpacking: the settings and the work directory come first, as for any payload, and the failure
// is recorded; nothing is written.
ExitResult Unpack(HMODULE module, bool resources_sound, Run& run) {
  if (!resources_sound) return {kMalformedDirectory.code, kMalformedDirectory.extra};
  return UnpackPayload(module, run.work_dir.text, run.extracted, run.setup, run.setup_type,
                       run.archive, run.archive_type, run.max_attempts);
}

bool SetupIsAPatch(const Run& run) { return run.setup_type == PayloadType::kPacked; }

// The setup program rebuilt from the patch, listed before the patch program may write it. Null
// when the work directory leaves no room for "setup.exe".
ExtractedFile* NameTheRebuiltSetupProgram(Run& run) {
  return run.extracted.Add(run.work_dir.text, kSetupExeName.wide);
}

ExitResult Patch(const InstallerSettings& settings, Run& run, ExtractedFile& rebuilt) {
  ExtractedFile& patch = *run.setup;
  run.setup = &rebuilt;
  return PatchSetup(settings.system_level, settings.app_id, settings.previous_version,
                    settings.command_line, run.installer_path.text, patch, rebuilt,
                    run.max_attempts);
}

// Once the payload is on disk its pages are no longer needed; handing them back before the setup
// program runs keeps the installer's footprint small while it waits, possibly for a long time.
void TrimWorkingSet() { SetProcessWorkingSetSize(GetCurrentProcess(), (SIZE_T)-1, (SIZE_T)-1); }

ExitResult Install(const InstallerSettings& settings, const Run& run) {
  const bool packed_archive = run.archive_type == PayloadType::kPacked;
  return InstallWithSetup(settings.previous_version, settings.command_line, run.archive->path,
                          run.setup->path, packed_archive);
}

// With removal switched off, the archive and the setup program stay with the work directory;
// what does not stay goes all the same.
void CleanUp(const InstallerSettings& settings, Run& run) {
  RemoveExtracted(run.extracted, settings.remove_extracted, run.work_dir.text, run.work_dir_held,
                  run.max_attempts);
}

// A success records the retries that the deletions took; a failure records the result.
void Report(const InstallerSettings& settings, ExitResult result, int32_t max_attempts) {
  if (result.code == EXIT_OK) {
    StoreRetryCount(settings, max_attempts);
  } else {
    StoreInstallerResult(settings, result);
  }
}

}  // namespace

ExitResult InstallerMain(HMODULE module) {
  Run run;
  InstallerSettings settings;
  // Before any resource is read: the settings read the previous version from one.
  const bool resources_sound = OwnResourcesAreSound(module);
  ExitResult result = ReadSettings(settings, module, resources_sound);
  if (result.code != EXIT_OK) return result;
  result = CreateWorkDirectory(module, run);
  if (result.code != EXIT_OK) return result;
  TagFullInstall(settings);

  result = Unpack(module, resources_sound, run);
  // A previous version that the setup command line cannot carry ends the run before any program
  // starts, the installed one that applies a patch included.
  if (result.code == EXIT_OK) result = CheckPreviousVersion(settings.previous_version);
  if (result.code == EXIT_OK && SetupIsAPatch(run)) {
    ExtractedFile* rebuilt = NameTheRebuiltSetupProgram(run);
    // Nothing is trimmed, removed or recorded: the extracted files stay for inspection.
    if (rebuilt == nullptr) return {EXIT_PATH_TOO_LONG, 0};
    result = Patch(settings, run, *rebuilt);
  }
  TrimWorkingSet();
  if (result.code == EXIT_OK) result = Install(settings, run);

  CleanUp(settings, run);
  Report(settings, result, run.max_attempts);
  return result;
}
