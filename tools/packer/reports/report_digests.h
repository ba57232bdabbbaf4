// The SHA-256 digests a pipeline checks downloads and release notes against: of the installer
// and of each payload member's data, as sha256sum would print them for the file and for the
// member's bytes taken out of it.
#pragma once

#include <string>
#include <vector>

#include "payload/installer_report.h"

struct ReportDigests {
  std::string installer;
  // In the order of report.layout.payload; empty for a member whose data is not in the file.
  std::vector<std::string> members;
};

// Reads the installer at report.path once, front to back, and digests it and its members.
bool ComputeReportDigests(const InstallerReport& report, ReportDigests& digests,
                          std::string& error);
