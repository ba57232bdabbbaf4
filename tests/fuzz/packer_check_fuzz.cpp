// lumora-pack check on arbitrary bytes: the PE header reader, the resource directory walk, the
// icon group and version block, the signature check, the cabinet reader, the stub's verdict and
// the report in text and JSON with its digests, as "lumora-pack check" runs them on a file nobody
// vouches for. What it checks besides the sanitizers: the JSON report parses (a strict reader)
// and its status and verdict are the verdict's; the text report holds no control character but
// its line ends, whatever the file holds.
// The bytes go into one anonymous in-memory file that the reader opens by its /proc path, so
// that the real file reading runs too, without touching the disk.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "reports/json_report.h"
#include "reports/text_report.h"
#include "fuzz_support.h"
#include "support/json_reader.h"

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
    std::ostringstream text, json_text;
    PrintReport(report, text);
    ReportDigests digests;
    FUZZ_CHECK(ComputeReportDigests(report, digests, error));
    PrintJsonReport(report, digests, json_text);
    for (const char c : text.str()) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 || c == '\n');
    json::Value parsed;
    FUZZ_CHECK(json::Parse(json_text.str(), parsed));
    const PayloadVerdict& v = report.layout.verdict;
    const json::Value& verdict = parsed["verdict"];
    FUZZ_CHECK(parsed["status"].text == (report.accepted() ? "0" : "1"));
    FUZZ_CHECK(verdict["accepted"].kind == json::Value::Kind::kBool &&
               verdict["accepted"].boolean == report.accepted());
    // A verdict is exactly one of: accepted, an exit code the stub ends with, what it depends
    // on (or, for an image fault, none of them).
    const bool exits = report.image_fault.empty() &&
                       v.outcome == PayloadVerdict::Outcome::kStubExits;
    const bool depends = report.image_fault.empty() &&
                         v.outcome == PayloadVerdict::Outcome::kDepends;
    FUZZ_CHECK(verdict["stub_exit_code"].IsNull() == !exits);
    FUZZ_CHECK(verdict["depends_on"].IsNull() == !depends);
    if (exits) {
      FUZZ_CHECK(verdict["stub_exit_code"].text == std::to_string(v.code));
      FUZZ_CHECK(verdict["stub_error"].text == std::to_string(v.extra));
      FUZZ_CHECK(v.code != 0);
    }
    FUZZ_CHECK(!report.accepted() == (exits || depends || !report.image_fault.empty()));
  } else {
    FUZZ_CHECK(!error.empty());  // every refusal says why
  }
  return 0;
}
