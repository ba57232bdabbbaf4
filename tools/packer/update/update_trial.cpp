#include "update/update_trial.h"

#include "delta/archive/patch_applier.h"
#include "delta/engine/byte_stream.h"
#include "lumora/setup_exit_codes.h"
#include "update/installer_members.h"
#include "update/update_maker.h"

namespace {

// The setup program's code for a patch archive that did not apply. A result that does not
// verify means the base was not what the update was made from, as a missing base does.
uint32_t DataExitCode(delta::ApplyResult result, const std::string& detail) {
  if (result == delta::ApplyResult::kBaseMismatch ||
      detail.find("result differs") != std::string::npos) {
    return SETUP_EXIT_UPDATE_MISMATCH;
  }
  return SETUP_EXIT_ARCHIVE_DAMAGED;
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

  // The patch run: the installed setup program rebuilds the new one.
  ReleaseTree old_setup, new_setup;
  old_setup.files[kSetupPatchEntry] = previous.setup_program;
  std::string detail;
  delta::MemoryReader setup_patch(update.setup.data(), update.setup.size());
  const delta::ApplyResult setup_result =
      delta::ApplyPatchArchive(setup_patch, old_setup, new_setup, delta::ApplyLimits(), detail);
  if (setup_result != delta::ApplyResult::kApplied) {
    const bool mismatch = setup_result == delta::ApplyResult::kBaseMismatch ||
                          detail.find("result differs") != std::string::npos;
    return Fail(trial, mismatch ? SETUP_EXIT_UPDATE_MISMATCH : SETUP_EXIT_PATCH_UNREADABLE,
                "the setup program's patch: " + detail);
  }
  if (new_setup.files.size() != 1 || new_setup.files.count(kSetupPatchEntry) == 0) {
    return Fail(trial, SETUP_EXIT_PATCH_UNREADABLE,
                "the setup program's patch does not hold setup.exe alone");
  }

  // The install run: the previous archive's files become the new release's.
  ReleaseTree built;
  delta::MemoryReader data_patch(update.archive.data(), update.archive.size());
  const delta::ApplyResult data_result = delta::ApplyPatchArchive(
      data_patch, previous.tree, built, delta::ApplyLimits(), detail);
  if (data_result != delta::ApplyResult::kApplied) {
    return Fail(trial, DataExitCode(data_result, detail), "the data's patch archive: " + detail);
  }
  trial.new_version = VersionOfTree(built);
  if (trial.new_version.empty()) {
    return Fail(trial, SETUP_EXIT_NO_VERSION, "the new release has no usable VERSION file");
  }
  trial.gives_new_release = true;
  trial.files = built.files.size();
  trial.bytes = built.TotalBytes();
  return true;
}
