#include "cli/check_command.h"

#include "reports/json_report.h"
#include "reports/report_digests.h"
#include "reports/text_report.h"

namespace {

// --require-signature: what is not a verified signature is a rejection too. A signature that
// does not match is one already, required or not.
void RequireSignature(InstallerReport& report) {
  if (!report.image_fault.empty()) return;
  switch (report.signature.outcome) {
    case SignatureCheck::Outcome::kVerified:
      return;
    case SignatureCheck::Outcome::kNone:
      report.image_fault = "it is not signed, and --require-signature asks for a signature; sign "
                           "it (osslsigncode or signtool)";
      return;
    default:
      report.image_fault = "its signature is not verified (" + report.signature.problem +
                           "), and --require-signature asks for a verified one";
      return;
  }
}

}  // namespace

int RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& err) {
  InstallerReport report;
  std::string error;
  if (!InspectInstaller(options.path, report, error)) {
    if (options.quiet) return 2;
    if (options.json) {
      PrintJsonUnreadable(options.path, error, out);
    }
    err << "lumora-pack: " << error << "\n";
    return 2;
  }
  if (options.require_signature) RequireSignature(report);
  if (options.json) {
    ReportDigests digests;
    if (!ComputeReportDigests(report, digests, error)) {
      err << "lumora-pack: " << error << "\n";
      return 2;
    }
    PrintJsonReport(report, digests, out);
  } else if (!options.quiet) {
    PrintReport(report, out);
  }
  return report.accepted() ? 0 : 1;
}

