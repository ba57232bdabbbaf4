// The packer's command line: "pack" with its options, "check INSTALLER", and help.
#pragma once

#include <string>
#include <vector>

#include "pack_command.h"

struct Command {
  enum Kind { kHelp, kPack, kCheck } kind = kHelp;
  PackOptions pack;
  std::string check_path;
};

// Parses the arguments after the program name; false with the reason in error.
bool ParseCommandLine(const std::vector<std::string>& args, Command& command, std::string& error);
const char* UsageText();
