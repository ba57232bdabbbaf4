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
};

// 0 when the stub would accept the installer, 1 when it would not, 2 when the file cannot be
// read as a PE image.
int RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& err);
