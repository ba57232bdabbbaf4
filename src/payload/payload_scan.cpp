#include "payload/payload_scan.h"

#include <windows.h>

#include "payload/payload_resources.h"

static_assert(kPayloadErrorUnknownName == ERROR_INVALID_DATA, "what the packer predicts");
static_assert(kPayloadErrorSecondMember == ERROR_TOO_MANY_NAMES, "what the packer predicts");
static_assert(kPayloadErrorNameTooLong == ERROR_FILENAME_EXCED_RANGE, "what the packer predicts");

namespace {

// Records one member, unless one was recorded already (in this type or an earlier one).
bool Record(const wchar_t* name, const ResourceBlob& blob, PathBuffer& recorded_name,
            ResourceBlob& recorded, uint32_t& error) {
  if (recorded.size != 0) {
    error = kPayloadErrorSecondMember;
    return false;
  }
  // The name becomes a file name in the work directory, so it must fit a path buffer.
  if (!CopyBounded(recorded_name.text, recorded_name.capacity, name)) {
    error = kPayloadErrorNameTooLong;
    return false;
  }
  recorded = blob;
  return true;
}

}  // namespace

bool PayloadScan::OnResource(const wchar_t* name, const ResourceBlob& blob) {
  if (StartsWithNoCase(name, kArchivePrefix.wide)) {
    return Record(name, blob, archive_name, archive, error);
  }
  if (StartsWithNoCase(name, kSetupPrefix.wide)) {
    return Record(name, blob, setup_name, setup, error);
  }
  error = kPayloadErrorUnknownName;
  return false;
}
