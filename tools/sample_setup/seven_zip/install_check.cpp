#include "seven_zip/install_check.h"

#include "lumora/setup_exit_codes.h"

InstallCheck CheckArchiveForInstall(ArchiveSource& source, SevenZipArchive& archive) {
  InstallCheck check;
  check.status = OpenSevenZip(source, archive);
  if (check.status != SevenZipStatus::kOk) return check;
  if (!AllMethodsSupported(archive, &check.method)) {
    check.status = SevenZipStatus::kUnsupportedMethod;
    check.has_method = true;
  } else if (LargestFolderMemory(archive) > kInstallMemoryLimit) {
    check.status = SevenZipStatus::kUnsupportedMethod;
  }
  return check;
}

uint32_t SetupExitCodeFor(SevenZipStatus status) {
  switch (status) {
    case SevenZipStatus::kOk:
      return SETUP_EXIT_OK;
    case SevenZipStatus::kNotSevenZip:
    case SevenZipStatus::kUnsupported:
      return SETUP_EXIT_ARCHIVE_REFUSED;
    case SevenZipStatus::kUnsupportedMethod:
    case SevenZipStatus::kTooLarge:
      return SETUP_EXIT_METHOD_UNSUPPORTED;
    case SevenZipStatus::kWriteFailed:
      return SETUP_EXIT_WRITE_FAILED;
    case SevenZipStatus::kDamaged:
    case SevenZipStatus::kUnsafeName:
    case SevenZipStatus::kReadFailed:
      break;
  }
  return SETUP_EXIT_ARCHIVE_DAMAGED;
}
