// The report of an installer for people: its layout, its payload and the stub's verdict, one
// fact a line, every text from the file escaped for a terminal.
#pragma once

#include <ostream>

#include "payload/installer_report.h"

void PrintReport(const InstallerReport& report, std::ostream& out);
