// What one run of the packer is asked to do, as the command line's parsing leaves it.
#pragma once

#include <string>

#include "cli/check_command.h"
#include "cli/pack_command.h"

struct Command {
  enum Kind { kHelp, kManual, kVersion, kPack, kCheck } kind = kHelp;
  std::string help_topic;  // "", "pack" or "check"
  PackOptions pack;
  CheckOptions check;
};
