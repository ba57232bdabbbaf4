// "lumora-pack check": an installer's layout and the stub's verdict, for people, and the exit
// status a pipeline acts on.
#pragma once

#include <ostream>
#include <string>

#include "installer_report.h"

void PrintReport(const InstallerReport& report, std::ostream& out);
// 0 when the stub would accept the installer, 1 when it would not, 2 when the file cannot be
// read as a PE image.
int RunCheck(const std::string& path, std::ostream& out, std::ostream& err);
