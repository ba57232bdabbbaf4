#include "payload/unpack_payload.h"

#include "payload/expand_cabinet.h"
#include "payload/member_name.h"
#include "payload/payload_resources.h"
#include "payload/payload_scan.h"
#include "payload/write_resource_to_file.h"

static_assert(kPayloadErrorMemberMissing == ERROR_FILE_NOT_FOUND, "what the packer predicts");
static_assert(kPayloadErrorNotAFileName == ERROR_INVALID_NAME, "what the packer predicts");

namespace {

bool IsEmpty(const ResourceTypeBuffer& type) { return type.text[0] == 0; }

// How the setup program's type stores it, for the rule on its name.
NamedMember SetupMember(const ResourceTypeBuffer& type) {
  if (SameResourceType(type, kPackedType)) return NamedMember::kSetupPatch;
  if (SameResourceType(type, kCabinetType)) return NamedMember::kSetupCabinet;
  return NamedMember::kSetupPlain;
}

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

  for (const AsciiText<3>* payload_type : kPayloadTypeOrder) {
    const wchar_t* type = payload_type->wide;
    error = 0;
    (void)EnumerateResources(&scan, module, type);
    // A type is recorded only after its enumeration ended cleanly, so an error in the very walk
    // that found the archive is still the archive's failure.
    if (error != 0) {
      return {IsEmpty(archive_type) ? EXIT_ARCHIVE_UNPACK_FAILED : EXIT_SETUP_UNPACK_FAILED, error};
    }
    if (IsEmpty(archive_type) && archive.size != 0) {
      (void)CopyBounded(archive_type.text, archive_type.capacity, type);
    }
    if (IsEmpty(setup_type) && setup.size != 0) {
      (void)CopyBounded(setup_type.text, setup_type.capacity, type);
    }
  }
  if (archive.size == 0) return {EXIT_ARCHIVE_UNPACK_FAILED, kPayloadErrorMemberMissing};
  if (setup.size == 0) return {EXIT_SETUP_UNPACK_FAILED, kPayloadErrorMemberMissing};
  // A name that becomes a file name must name a plain file in the work directory, and not the
  // file another member becomes; both are judged before anything is written, so that a refused
  // setup program leaves no archive behind either.
  if (!IsUsableMemberName(NamedMember::kArchive, archive_name.text)) {
    return {EXIT_ARCHIVE_UNPACK_FAILED, kPayloadErrorNotAFileName};
  }
  if (!IsUsableMemberName(SetupMember(setup_type), setup_name.text)) {
    return {EXIT_SETUP_UNPACK_FAILED, kPayloadErrorNotAFileName};
  }

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
