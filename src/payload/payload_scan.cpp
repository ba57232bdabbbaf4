#include "payload/payload_scan.h"

#include <windows.h>

namespace {

// Records one member, unless one was recorded already (in this type or an earlier one).
bool Record(const wchar_t* name, const ResourceBlob& blob, PathBuffer& recorded_name,
            ResourceBlob& recorded, uint32_t& error) {
  if (recorded.size != 0) {
    error = ERROR_TOO_MANY_NAMES;
    return false;
  }
  // The name becomes a file name in the work directory, so it must fit a path buffer.
  if (!CopyBounded(recorded_name.text, recorded_name.capacity, name)) {
    error = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  recorded = blob;
  return true;
}

}  // namespace

bool PayloadScan::OnResource(const wchar_t* name, const ResourceBlob& blob) {
  if (StartsWithNoCase(name, L"lumora")) return Record(name, blob, archive_name, archive, error);
  if (StartsWithNoCase(name, L"setup")) return Record(name, blob, setup_name, setup, error);
  error = ERROR_INVALID_DATA;
  return false;
}
