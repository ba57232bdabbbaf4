#include "payload/unpack_payload.h"

#include "lumora/payload_rules.h"
#include "payload/expand_cabinet.h"
#include "payload/payload_resources.h"
#include "payload/payload_scan.h"
#include "payload/write_resource_to_file.h"

static_assert(kPayloadErrorMemberMissing == ERROR_FILE_NOT_FOUND, "what the packer predicts");
static_assert(kPayloadErrorNotAFileName == ERROR_INVALID_NAME, "what the packer predicts");

namespace {

bool IsEmpty(const ResourceTypeBuffer& type) { return type.text[0] == 0; }

}  // namespace

ExitResult UnpackPayload(HMODULE module, const wchar_t* work_dir, ExtractedFiles& files,
                         ExtractedFile*& setup_file, ResourceTypeBuffer& setup_type,
                         ExtractedFile*& archive_file, ResourceTypeBuffer& archive_type) {
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

  archive_file = files.Add(work_dir, archive_name.text);
  if (archive_file == nullptr) return {EXIT_PATH_TOO_LONG, 0};
  uint32_t written = WriteResourceToFile(archive, *archive_file);
  if (written != ERROR_SUCCESS) return {EXIT_ARCHIVE_UNPACK_FAILED, written};
  archive_file->stays = true;

  // An uncompressed setup program is always "setup.exe"; a patch or a cabinet keeps its name.
  const bool uncompressed = SameResourceType(setup_type, kPlainType);
  setup_file = files.Add(work_dir, uncompressed ? kSetupExeName.wide : setup_name.text);
  if (setup_file == nullptr) return {EXIT_PATH_TOO_LONG, 0};
  written = WriteResourceToFile(setup, *setup_file);
  if (written != ERROR_SUCCESS) return {EXIT_SETUP_WRITE_FAILED, written};
  // A "B7" setup program is a patch that the caller applies; the patch itself never stays.
  if (!SameResourceType(setup_type, kCabinetType)) {
    setup_file->stays = uncompressed;
    return {EXIT_OK, 0};
  }

  // The compressed file stays held, and listed, until the clean-up.
  const ExtractedFile& cabinet = *setup_file;
  setup_file = files.Add(work_dir, kSetupExeName.wide);
  if (setup_file == nullptr) return {EXIT_PATH_TOO_LONG, 0};
  if (!ExpandCabinet(cabinet.path.text, *setup_file)) return {EXIT_SETUP_UNPACK_FAILED, 0};
  setup_file->stays = true;
  return {EXIT_OK, 0};
}
