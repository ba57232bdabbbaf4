// The packer's command line: "pack" with its options, "check" with its output forms, help for
// each, and the version. Usage errors are one line that says what is wrong; every missing option
// is named at once.
#pragma once

#include <string>
#include <vector>

#include "check_command.h"
#include "pack_command.h"

// The packer's own version, as "lumora-pack --version" prints it.
constexpr char kPackerVersion[] = "1.1.0";

struct Command {
  enum Kind { kHelp, kVersion, kPack, kCheck } kind = kHelp;
  std::string help_topic;  // "", "pack" or "check"
  PackOptions pack;
  CheckOptions check;
};

// Parses the arguments after the program name. source_date_epoch is the environment's
// SOURCE_DATE_EPOCH, or null: pack takes the cabinet's time from it unless --cabinet-time is
// given. False with the reason in error, one line.
bool ParseCommandLine(const std::vector<std::string>& args, const char* source_date_epoch,
                      Command& command, std::string& error);
// The help for a topic: "" (the whole packer), "pack" or "check".
const char* HelpText(const std::string& topic);
