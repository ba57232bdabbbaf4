#include "payload/unpack_payload.h"

#include "files/remove_with_retry.h"
#include "lumora/payload_rules.h"
#include "payload/expand_cabinet.h"
#include "payload/payload_resources.h"
#include "payload/payload_scan.h"
#include "payload/write_resource_to_file.h"

static_assert(kPayloadErrorMemberMissing == ERROR_FILE_NOT_FOUND, "what the packer predicts");
static_assert(kPayloadErrorNotAFileName == ERROR_INVALID_NAME, "what the packer predicts");

namespace {

bool IsEmpty(const ResourceTypeBuffer& type) { return type.text[0] == 0; }

// A path that does not fit is left empty, so that the caller's clean-up never takes the bare work
// directory for a file.
bool ComposePath(PathBuffer& path, const wchar_t* directory, const wchar_t* name) {
  if (CopyBounded(path.text, path.capacity, directory) &&
      AppendBounded(path.text, path.capacity, name)) {
    return true;
  }
  path.text[0] = 0;
  return false;
}

}  // namespace

ExitResult UnpackPayload(HMODULE module, const wchar_t* work_dir, PathBuffer& setup_path,
                         ResourceTypeBuffer& setup_type, PathBuffer& archive_path,
                         ResourceTypeBuffer& archive_type, int32_t& max_attempts) {
  PathBuffer archive_name;
  ResourceBlob archive;
  PathBuffer setup_name;
  ResourceBlob setup;
  uint32_t error = 0;
  PayloadScan scan(archive_name, archive, setup_name, setup, error);

  // The type that first found the setup program, for the rule on its name.
  PayloadType setup_storage = PayloadType::kPlain;
  for (PayloadType payload_type : kPayloadTypeOrder) {
    const wchar_t* type = PayloadTypeName(payload_type).wide;
    error = 0;
    (void)EnumerateResources(&scan, module, type);
    // A type is recorded only after its enumeration ended cleanly, so an error in the very walk
    // that found the archive is still the archive's failure.
    if (error != 0) return {ScanFailureCode(!IsEmpty(archive_type)), error};
    if (IsEmpty(archive_type) && archive.size != 0) {
      (void)CopyBounded(archive_type.text, archive_type.capacity, type);
    }
    if (IsEmpty(setup_type) && setup.size != 0) {
      (void)CopyBounded(setup_type.text, setup_type.capacity, type);
      setup_storage = payload_type;
    }
  }
  // Both members found, and both names naming a plain file of their own in the work directory,
  // before anything is written.
  const PayloadOutcome judged = JudgeScannedPayload(archive.size != 0, setup.size != 0,
                                                    setup_storage, archive_name.text,
                                                    setup_name.text);
  if (judged.code != EXIT_OK) return {judged.code, judged.extra};

  if (!ComposePath(archive_path, work_dir, archive_name.text)) return {EXIT_PATH_TOO_LONG, 0};
  if (!WriteResourceToFile(archive, archive_path.text)) {
    return {EXIT_ARCHIVE_UNPACK_FAILED, GetLastError()};
  }

  // An uncompressed setup program is always "setup.exe"; a patch or a cabinet keeps its name.
  const bool uncompressed = SameResourceType(setup_type, kPlainType);
  if (!ComposePath(setup_path, work_dir, uncompressed ? kSetupExeName.wide : setup_name.text)) {
    return {EXIT_PATH_TOO_LONG, 0};
  }
  if (!WriteResourceToFile(setup, setup_path.text)) {
    return {EXIT_SETUP_WRITE_FAILED, GetLastError()};
  }
  // A "B7" setup program is a patch that the caller applies.
  if (!SameResourceType(setup_type, kCabinetType)) return {EXIT_OK, 0};

  PathBuffer expanded;
  if (!ComposePath(expanded, work_dir, kSetupExeName.wide)) return {EXIT_PATH_TOO_LONG, 0};
  const bool expanded_ok = ExpandCabinet(setup_path.text, expanded.text);
  int32_t attempts = 0;
  (void)RemoveWithRetry(setup_path.text, attempts);
  FoldAttempts(max_attempts, attempts);
  // Whatever the outcome, the caller's clean-up looks for the expanded file from now on.
  (void)CopyBounded(setup_path.text, setup_path.capacity, expanded.text);
  if (!expanded_ok) return {EXIT_SETUP_UNPACK_FAILED, 0};
  return {EXIT_OK, 0};
}
