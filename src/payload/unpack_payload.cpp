#include "payload/unpack_payload.h"

#include "files/remove_with_retry.h"
#include "payload/expand_cabinet.h"
#include "payload/member_name.h"
#include "payload/payload_scan.h"
#include "payload/write_resource_to_file.h"

namespace {

// The order matters only for which type an error is reported under and which type records a
// member first.
constexpr const wchar_t* kPayloadTypes[] = {L"B7", L"BL", L"BN"};
constexpr const wchar_t* kSetupFileName = L"setup.exe";

bool IsEmpty(const ResourceTypeBuffer& type) { return type.text[0] == 0; }

// Resource types compare exactly.
bool SameType(const ResourceTypeBuffer& type, const wchar_t* other) {
  for (uint32_t i = 0; i < type.capacity; ++i) {
    if (type.text[i] != other[i]) return false;
    if (other[i] == 0) return true;
  }
  return false;
}

// How the setup program's type stores it, for the rule on its name.
NamedMember SetupMember(const ResourceTypeBuffer& type) {
  if (SameType(type, L"B7")) return NamedMember::kSetupPatch;
  if (SameType(type, L"BL")) return NamedMember::kSetupCabinet;
  return NamedMember::kSetupPlain;
}

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

  for (const wchar_t* type : kPayloadTypes) {
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
  if (archive.size == 0) return {EXIT_ARCHIVE_UNPACK_FAILED, ERROR_FILE_NOT_FOUND};
  if (setup.size == 0) return {EXIT_SETUP_UNPACK_FAILED, ERROR_FILE_NOT_FOUND};
  // A name that becomes a file name must name a plain file in the work directory, and not the
  // file another member becomes; both are judged before anything is written, so that a refused
  // setup program leaves no archive behind either.
  if (!IsUsableMemberName(NamedMember::kArchive, archive_name.text)) {
    return {EXIT_ARCHIVE_UNPACK_FAILED, ERROR_INVALID_NAME};
  }
  if (!IsUsableMemberName(SetupMember(setup_type), setup_name.text)) {
    return {EXIT_SETUP_UNPACK_FAILED, ERROR_INVALID_NAME};
  }

  if (!ComposePath(archive_path, work_dir, archive_name.text)) return {EXIT_PATH_TOO_LONG, 0};
  if (!WriteResourceToFile(archive, archive_path.text)) {
    return {EXIT_ARCHIVE_UNPACK_FAILED, GetLastError()};
  }

  // An uncompressed setup program is always "setup.exe"; a patch or a cabinet keeps its name.
  const bool uncompressed = SameType(setup_type, L"BN");
  if (!ComposePath(setup_path, work_dir, uncompressed ? kSetupFileName : setup_name.text)) {
    return {EXIT_PATH_TOO_LONG, 0};
  }
  if (!WriteResourceToFile(setup, setup_path.text)) {
    return {EXIT_SETUP_WRITE_FAILED, GetLastError()};
  }
  // A "B7" setup program is a patch that the caller applies.
  if (!SameType(setup_type, L"BL")) return {EXIT_OK, 0};

  PathBuffer expanded;
  if (!ComposePath(expanded, work_dir, kSetupFileName)) return {EXIT_PATH_TOO_LONG, 0};
  const bool expanded_ok = ExpandCabinet(setup_path.text, expanded.text);
  int32_t attempts = 0;
  (void)RemoveWithRetry(setup_path.text, attempts);
  FoldAttempts(max_attempts, attempts);
  // Whatever the outcome, the caller's clean-up looks for the expanded file from now on.
  (void)CopyBounded(setup_path.text, setup_path.capacity, expanded.text);
  if (!expanded_ok) return {EXIT_SETUP_UNPACK_FAILED, 0};
  return {EXIT_OK, 0};
}
