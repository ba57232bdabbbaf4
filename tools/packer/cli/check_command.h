// "lumora-pack check": an installer's layout and the stub's verdict, for people or, as one JSON
// object, for pipelines, and the exit status a pipeline acts on.
#pragma once

#include <ostream>
#include <string>

#include "payload/installer_report.h"

struct CheckOptions {
  std::string path;
  bool json = false;   // the report as JSON
  bool quiet = false;  // no report; the exit status alone
  // A missing signature, or one that is not verified against the file, is a rejection.
  bool require_signature = false;
  // --against: the previous release's full installer, to which the update is applied on the
  // host; empty when not given.
  std::string against;
};

// 0 when the stub would accept the installer (and, with --against, the update gives exactly the
// new release), 1 when it would not (or does not), 2 when the file cannot be read as a PE image
// (or, with --against, either file is not an installer of the kind it must be).
int RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& err);
