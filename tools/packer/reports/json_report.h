// The report of an installer for pipelines: one JSON object with the same facts as the text
// report, the members' digests and the stub's verdict.
#pragma once

#include <ostream>
#include <string>

#include "payload/installer_report.h"
#include "reports/report_digests.h"

// The version of the JSON report's layout, its "schema" field. A field added leaves it as it is;
// a field removed, renamed or given another meaning raises it.
constexpr int kReportSchema = 1;

void PrintJsonReport(const InstallerReport& report, const ReportDigests& digests,
                     std::ostream& out);
// The object written in place of the report when the file cannot be read as a PE image.
void PrintJsonUnreadable(const std::string& path, const std::string& error, std::ostream& out);
