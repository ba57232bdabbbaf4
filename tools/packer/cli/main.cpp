// lumora-pack: turns the bare stub, an archive and a setup program into an installer, and reads
// installers back. Built for Linux and for Windows from the same sources; needs neither a
// compiler nor Wine.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/archive_command.h"
#include "cli/check_command.h"
#include "cli/command_line.h"
#include "platform/file_io.h"
#include "platform/interrupt_removal.h"
#include "cli/help_text.h"
#include "cli/pack_command.h"

namespace {

// The first of the places an installed stub may be that holds a regular file.
CommandEnvironment Environment() {
  CommandEnvironment environment;
  environment.source_date_epoch = std::getenv("SOURCE_DATE_EPOCH");
  environment.stub_places = InstalledStubPlaces(ExecutablePath());
  for (const std::string& place : environment.stub_places) {
    InputFile stub;
    std::string ignored;
    if (stub.Open(place, ignored)) {
      environment.installed_stub = place;
      break;
    }
  }
  return environment;
}

}  // namespace

int main(int argc, char** argv) {
  UseBinaryStandardStreams();
  std::vector<std::string> args;
  Command command;
  std::string error;
  if (!ProgramArguments(argc, argv, args, error) ||
      !ParseCommandLine(args, Environment(), command, error)) {
    std::cerr << "lumora-pack: " << error << "\n";
    return 2;
  }
  switch (command.kind) {
    case Command::kHelp:
      std::cout << HelpText(command.help_topic);
      return 0;
    case Command::kManual:
      std::cout << ManualPage();
      return 0;
    case Command::kVersion:
      std::cout << "lumora-pack " << kPackerVersion << "\n";
      return 0;
    case Command::kArchive:
      if (!RunArchive(command.archive, std::cout, error)) {
        std::cerr << "lumora-pack: " << error << "\n";
        return 1;
      }
      return 0;
    case Command::kCheck:
      return RunCheck(command.check, std::cout, std::cerr);
    case Command::kPack:
      // An interrupted pack leaves none of its temporary files behind.
      RemoveWatchedFilesWhenInterrupted();
      if (!RunPack(command.pack, std::cout, std::cerr, error)) {
        std::cerr << "lumora-pack: " << error << "\n";
        return 1;
      }
      return 0;
  }
  return 2;
}
