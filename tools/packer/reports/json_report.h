// The report of an installer for pipelines: one JSON object with the same facts as the text
// report, the members' digests and the stub's verdict.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "payload/installer_report.h"
#include "reports/report_digests.h"

// The version of the JSON report's layout, its "schema" field. A field added leaves it as it is;
// a field removed, renamed or given another meaning raises it.
constexpr int kReportSchema = 1;

// warnings: what the command said as warnings on standard error, its "warnings" field.
void PrintJsonReport(const InstallerReport& report, const ReportDigests& digests,
                     const std::vector<std::string>& warnings, std::ostream& out);
// The object written in place of the report when the file cannot be read as a PE image.
void PrintJsonUnreadable(const std::string& path, const std::string& error, std::ostream& out);
// The object pack writes in place of the report when it writes no installer: the output it was
// asked for, the reason (the message on standard error), the warnings said so far, status 1.
void PrintJsonPackFailure(const std::string& output, const std::string& error,
                          const std::vector<std::string>& warnings, std::ostream& out);

// The warnings of a report: those a command found, then the verdict's notes it did not say
// already (check says only the notes).
std::vector<std::string> ReportWarnings(const InstallerReport& report,
                                        const std::vector<std::string>& command_warnings);
