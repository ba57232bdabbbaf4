#include "cli/check_command.h"

#include "reports/json_report.h"
#include "reports/report_digests.h"
#include "reports/text_report.h"
#include "update/update_trial.h"

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

// --against: the update applied on the host to the previous installer's content; what it gives
// goes into the report's update facts.
bool TryAgainst(const CheckOptions& options, InstallerReport& report, std::string& error) {
  if (!report.update.is_update) {
    error = options.path + " is not an update (its archive is no patch archive); --against "
            "checks updates";
    return false;
  }
  UpdateTrial trial;
  if (!TryUpdate(options.against, options.path, trial, error)) return false;
  UpdateFacts& facts = report.update;
  facts.tried = true;
  facts.against = options.against;
  facts.gives_new_release = trial.gives_new_release;
  facts.setup_exit_code = trial.setup_exit_code;
  facts.reason = trial.reason;
  facts.new_version = trial.new_version;
  facts.new_files = trial.files;
  return true;
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
  if (!options.against.empty() && !TryAgainst(options, report, error)) {
    if (options.json) PrintJsonUnreadable(options.path, error, out);
    if (!options.quiet) err << "lumora-pack: " << error << "\n";
    return 2;
  }
  if (options.json) {
    ReportDigests digests;
    if (!ComputeReportDigests(report, digests, error)) {
      err << "lumora-pack: " << error << "\n";
      return 2;
    }
    PrintJsonReport(report, digests, ReportWarnings(report, {}), out);
  } else if (!options.quiet) {
    PrintReport(report, out);
  }
  return report.accepted() && !report.update.Fails() ? 0 : 1;
}

