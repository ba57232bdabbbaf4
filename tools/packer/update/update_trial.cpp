#include "update/update_trial.h"

#include <cctype>

#include "delta/archive/patch_applier.h"
#include "delta/engine/byte_stream.h"
#include "lumora/setup_exit_codes.h"
#include "platform/utf_text.h"
#include "update/installer_members.h"
#include "update/update_maker.h"

namespace {

// The setup program's codes for a patch archive that did not apply, on the install run and on
// the patch run: a base that is not the update's (or a file too large for memory to patch) says
// that the installed version does not match; a damaged archive, or a result that does not give
// its recorded SHA-256, that the update is damaged.
uint32_t DataExitCode(delta::ApplyResult result) {
  switch (result) {
    case delta::ApplyResult::kApplied: return SETUP_EXIT_OK;
    case delta::ApplyResult::kBaseMismatch:
    case delta::ApplyResult::kTooLarge: return SETUP_EXIT_UPDATE_MISMATCH;
    case delta::ApplyResult::kWriteFailed: return SETUP_EXIT_WRITE_FAILED;
    case delta::ApplyResult::kCorrupt: break;
  }
  return SETUP_EXIT_ARCHIVE_DAMAGED;
}

uint32_t SetupPatchExitCode(delta::ApplyResult result) {
  switch (result) {
    case delta::ApplyResult::kApplied: return SETUP_EXIT_OK;
    case delta::ApplyResult::kBaseMismatch:
    case delta::ApplyResult::kTooLarge: return SETUP_EXIT_UPDATE_MISMATCH;
    case delta::ApplyResult::kWriteFailed: return SETUP_EXIT_NEW_SETUP_UNWRITABLE;
    case delta::ApplyResult::kCorrupt: break;
  }
  return SETUP_EXIT_PATCH_UNREADABLE;
}

// ASCII letters in any case, as Windows compares folder names.
bool SameVersion(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool Fail(UpdateTrial& trial, uint32_t code, const std::string& reason) {
  trial.gives_new_release = false;
  trial.setup_exit_code = code;
  trial.reason = reason;
  return true;
}

}  // namespace

bool TryUpdate(const std::string& previous_path, const std::string& update_path,
               UpdateTrial& trial, std::string& error) {
  trial = UpdateTrial();
  PreviousRelease previous;
  if (!ReadPreviousRelease(previous_path, previous, error)) return false;
  InstallerMembers update;
  if (!ReadInstallerMembers(update_path, update, error)) return false;
  if (update.setup_type != PayloadType::kPacked || !IsPatchArchive(update.archive)) {
    error = update_path + " is not an update: its archive is no patch archive or its setup "
            "program no patch";
    return false;
  }

  // The version the update replaces, as the stub hands it on: the previous installer installs
  // into a folder of its own VERSION, where the setup program looks for it.
  const PayloadLayout& layout = update.report.layout;
  const std::string replaces =
      layout.previous_version_valid ? Utf16ToUtf8(layout.previous_version) : std::string();
  if (replaces.empty()) {
    return Fail(trial, SETUP_EXIT_UPDATE_MISMATCH,
                "the update names no previous version (RT_RCDATA 1)");
  }
  if (!SameVersion(replaces, previous.version)) {
    return Fail(trial, SETUP_EXIT_UPDATE_MISMATCH,
                "the update replaces version " + replaces + ", the previous installer installs " +
                    (previous.version.empty() ? std::string("no usable version")
                                              : previous.version));
  }

  // The patch run: the installed setup program rebuilds the new one.
  ReleaseTree old_setup, new_setup;
  old_setup.files[kSetupPatchEntry] = previous.setup_program;
  std::string detail;
  delta::MemoryReader setup_patch(update.setup.data(), update.setup.size());
  const delta::ApplyResult setup_result =
      delta::ApplyPatchArchive(setup_patch, old_setup, new_setup, delta::ApplyLimits(), detail);
  if (setup_result != delta::ApplyResult::kApplied) {
    return Fail(trial, SetupPatchExitCode(setup_result), "the setup program's patch: " + detail);
  }
  if (new_setup.files.size() != 1 || new_setup.files.count(kSetupPatchEntry) == 0 ||
      !new_setup.folders.empty()) {
    return Fail(trial, SETUP_EXIT_PATCH_UNREADABLE,
                "the setup program's patch does not hold setup.exe alone");
  }

  // The install run: the previous archive's files become the new release's.
  ReleaseTree built;
  delta::MemoryReader data_patch(update.archive.data(), update.archive.size());
  const delta::ApplyResult data_result = delta::ApplyPatchArchive(
      data_patch, previous.tree, built, delta::ApplyLimits(), detail);
  if (data_result != delta::ApplyResult::kApplied) {
    return Fail(trial, DataExitCode(data_result), "the data's patch archive: " + detail);
  }
  trial.new_version = VersionOfTree(built);
  if (trial.new_version.empty()) {
    return Fail(trial, SETUP_EXIT_NO_VERSION, "the new release has no usable VERSION file");
  }
  // The setup program would build the new version in the folder it reads the old one from.
  if (SameVersion(trial.new_version, replaces)) {
    return Fail(trial, SETUP_EXIT_UPDATE_MISMATCH,
                "the new release has the version it replaces, " + replaces);
  }
  trial.gives_new_release = true;
  trial.files = built.files.size();
  trial.bytes = built.TotalBytes();
  return true;
}
