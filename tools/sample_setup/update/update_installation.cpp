#include "update/update_installation.h"

#include <windows.h>

#include "delta/archive/patch_applier.h"
#include "install/staging.h"
#include "lumora/setup_exit_codes.h"
#include "update/file_reader.h"
#include "update/installed_tree.h"
#include "update/staging_tree.h"

namespace {

int CodeFor(delta::ApplyResult result) {
  switch (result) {
    case delta::ApplyResult::kApplied:
      return 0;
    case delta::ApplyResult::kBaseMismatch:
    // A patched file larger than this machine can hold in memory: the full installer needs none.
    case delta::ApplyResult::kTooLarge:
      return SETUP_EXIT_UPDATE_MISMATCH;
    case delta::ApplyResult::kWriteFailed:
      return SETUP_EXIT_WRITE_FAILED;
    case delta::ApplyResult::kCorrupt:
      break;
  }
  return SETUP_EXIT_ARCHIVE_DAMAGED;
}

// The previous version's folder, when there is one: ROOT\V.
bool FindPreviousVersion(const InstallRequest& request, const std::wstring& root,
                         std::wstring& folder) {
  if (request.previous_version == nullptr || root.empty()) return false;
  const std::wstring version = request.previous_version;
  if (!IsPlainVersion(version)) return false;
  folder = root + L"\\" + version;
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

int InstallFromPatchArchive(const InstallRequest& request) {
  WindowsFileReader archive;
  if (!archive.Open(request.archive)) return SETUP_EXIT_ARCHIVE_DAMAGED;
  const std::wstring root = InstallRoot(request);
  std::wstring previous;
  if (!FindPreviousVersion(request, root, previous)) return SETUP_EXIT_UPDATE_MISMATCH;

  const std::wstring staging = StagingFolderIn(root);
  RemoveTree(staging);  // left by a run that was ended, under a reused process id
  StagingTree new_tree(staging);
  InstalledTree old_tree(previous);
  std::string detail;
  const delta::ApplyResult result =
      delta::ApplyPatchArchive(archive, old_tree, new_tree, delta::ApplyLimits{}, detail);
  new_tree.Close();
  int code = CodeFor(result);
  if (result == delta::ApplyResult::kWriteFailed && new_tree.RefusedAName()) {
    code = SETUP_EXIT_ARCHIVE_DAMAGED;  // as a 7z archive with such a name is
  }
  std::wstring version;
  if (code == 0) code = ReadStagedVersion(staging, version);
  // An update onto its own previous version would write into the folder it was built from.
  if (code == 0 && CompareStringOrdinal(version.c_str(), -1, request.previous_version, -1, TRUE) ==
                       CSTR_EQUAL) {
    code = SETUP_EXIT_UPDATE_MISMATCH;
  }
  if (code == 0) code = PlaceAndRegister(request, root, staging, version);
  RemoveTree(staging);  // gone already when it was moved into place
  return code;
}
