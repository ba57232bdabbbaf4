#include "payload/unpack_payload.h"

#include "lumora/payload_rules.h"
#include "payload/expand_cabinet.h"
#include "lumora/payload_resources.h"
#include "payload/payload_scan.h"
#include "payload/setup_cabinet_check.h"
#include "payload/write_resource_to_file.h"

static_assert(kPayloadErrorMemberMissing == ERROR_FILE_NOT_FOUND, "what the packer predicts");
static_assert(kPayloadErrorNotAFileName == ERROR_INVALID_NAME, "what the packer predicts");

ExitResult UnpackPayload(HMODULE module, const wchar_t* work_dir, ExtractedFiles& files,
                         ExtractedFile*& setup_file, PayloadType& setup_type,
                         ExtractedFile*& archive_file, PayloadType& archive_type,
                         int32_t& max_attempts) {
  PathBuffer archive_name;
  ResourceBlob archive;
  PathBuffer setup_name;
  ResourceBlob setup;
  uint32_t error = 0;
  PayloadScan scan(archive_name, archive, setup_name, setup, error);

  // The type that first found each member.
  bool archive_found = false;
  bool setup_found = false;
  for (PayloadType payload_type : kPayloadTypeOrder) {
    error = 0;
    (void)EnumerateResources(&scan, module, PayloadTypeName(payload_type).wide);
    // A type is recorded only after its enumeration ended cleanly, so an error in the very walk
    // that found the archive is still the archive's failure.
    if (error != 0) return {ScanFailureCode(archive_found), error};
    if (!archive_found && archive.size != 0) {
      archive_type = payload_type;
      archive_found = true;
    }
    if (!setup_found && setup.size != 0) {
      setup_type = payload_type;
      setup_found = true;
    }
  }
  // Both members found, and both names naming a plain file of their own in the work directory,
  // before anything is written.
  const PayloadOutcome judged = JudgeScannedPayload(archive_found, setup_found, setup_type,
                                                    archive_name.text, setup_name.text);
  if (judged.code != EXIT_OK) return {judged.code, judged.extra};

  archive_file = files.Add(work_dir, archive_name.text);
  if (archive_file == nullptr) return {EXIT_PATH_TOO_LONG, 0};
  uint32_t written = WriteResourceToFile(archive, *archive_file);
  if (written != ERROR_SUCCESS) return {EXIT_ARCHIVE_UNPACK_FAILED, written};
  archive_file->stays = true;

  // An uncompressed setup program is always "setup.exe"; a patch or a cabinet keeps its name.
  const bool uncompressed = setup_type == PayloadType::kPlain;
  setup_file = files.Add(work_dir, uncompressed ? kSetupExeName.wide : setup_name.text);
  if (setup_file == nullptr) return {EXIT_PATH_TOO_LONG, 0};
  written = WriteResourceToFile(setup, *setup_file);
  if (written != ERROR_SUCCESS) return {EXIT_SETUP_WRITE_FAILED, written};
  // A "B7" setup program is a patch that the caller applies; the patch itself never stays.
  if (setup_type != PayloadType::kCabinet) {
    setup_file->stays = uncompressed;
    return {EXIT_OK, 0};
  }

  // The compressed file goes once its expansion is over, whatever the outcome: the setup program
  // finds only itself and the archive in the work directory.
  ExtractedFile& cabinet = *setup_file;
  setup_file = files.Add(work_dir, kSetupExeName.wide);
  if (setup_file == nullptr) return {EXIT_PATH_TOO_LONG, 0};
  // No cabinet that the shared rules refuse reaches the cabinet library.
  const bool sound = SetupCabinetIsSound(setup);
  const bool expanded = sound && ExpandCabinet(cabinet.path.text, *setup_file);
  RemoveEarly(cabinet, max_attempts);
  if (!sound) return {kMalformedCabinet.code, kMalformedCabinet.extra};
  if (!expanded) return {EXIT_SETUP_UNPACK_FAILED, 0};
  setup_file->stays = true;
  return {EXIT_OK, 0};
}
