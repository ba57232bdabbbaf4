#include "payload/payload_scan.h"

#include <windows.h>

#include "lumora/payload_rules.h"

static_assert(kPayloadErrorUnknownName == ERROR_INVALID_DATA, "what the packer predicts");
static_assert(kPayloadErrorSecondMember == ERROR_TOO_MANY_NAMES, "what the packer predicts");
static_assert(kPayloadErrorNameTooLong == ERROR_FILENAME_EXCED_RANGE, "what the packer predicts");
static_assert(kMemberNameCapacity == PathBuffer::capacity, "a recorded name fits its buffer");

bool PayloadScan::OnResource(const wchar_t* name, const ResourceBlob& blob) {
  PayloadMember member = PayloadMember::kArchive;
  error = ClassifyMemberName(name, archive.size != 0, setup.size != 0, member);
  if (error != 0) return false;
  const bool is_archive = member == PayloadMember::kArchive;
  PathBuffer& recorded_name = is_archive ? archive_name : setup_name;
  // The rule refused every name that does not fit the buffer, so the copy cannot fail.
  (void)CopyBounded(recorded_name.text, recorded_name.capacity, name);
  (is_archive ? archive : setup) = blob;
  return true;
}
