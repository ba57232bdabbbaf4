// The packer's command line, read in two stages: the arguments against the option table (an
// unknown option, a missing or malformed value), then what the values mean together (names for
// their storage types, a previous version that fits the setup command line, the required files).
// Whatever the command line alone gets wrong is a usage error, exit status 2, one line that says
// what is wrong; every missing option is named at once.
#pragma once

#include <string>
#include <vector>

#include "cli/command.h"

// What the command line is read against besides the arguments.
struct CommandEnvironment {
  // SOURCE_DATE_EPOCH, or null when unset: pack takes the cabinet's time from it unless
  // --cabinet-time is given. Empty counts as unset.
  const char* source_date_epoch = nullptr;
  // The installed stub pack takes when --stub is not given (empty when none was found), and the
  // places it was looked for, for the message when it is missing.
  std::string installed_stub;
  std::vector<std::string> stub_places;
};

// Parses the arguments after the program name. False with the reason in error, one line.
bool ParseCommandLine(const std::vector<std::string>& args, const CommandEnvironment& environment,
                      Command& command, std::string& error);

// Where the installed stub is looked for beside the program at executable: share/lumora/ in the
// folder above the program's own (an installation under a prefix), then the program's own folder
// (the Windows zip). Empty when executable is.
std::vector<std::string> InstalledStubPlaces(const std::string& executable);
