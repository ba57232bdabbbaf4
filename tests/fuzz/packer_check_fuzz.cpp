// lumora-pack check on arbitrary bytes: the PE header reader, the resource directory walk, the
// icon group and version block, the signature check, the stub's verdict and the report in text
// and JSON with its digests, as
// "lumora-pack check" runs them on a file nobody vouches for.
// The bytes go into one anonymous in-memory file that the reader opens by its /proc path, so
// that the real file reading runs too, without touching the disk.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "check_command.h"
#include "fuzz_support.h"

namespace {

int InMemoryFile() {
  static const int fd = memfd_create("packer-check-input", MFD_CLOEXEC);
  FUZZ_CHECK(fd >= 0);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = InMemoryFile();
  FUZZ_CHECK(ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  InstallerReport report;
  std::string error;
  if (InspectInstaller(path, report, error)) {
    std::ostringstream out;
    PrintReport(report, out);
    ReportDigests digests;
    FUZZ_CHECK(ComputeReportDigests(report, digests, error));
    PrintJsonReport(report, digests, out);
    // A verdict is either accepted or names the code the stub would end with.
    FUZZ_CHECK(report.layout.verdict.accepted() == (report.layout.verdict.code == 0));
  } else {
    FUZZ_CHECK(!error.empty());  // every refusal says why
  }
  return 0;
}
