#include "cli/command_line.h"

#include <set>
#include <string>

#include "cabinet/cabinet_writer.h"
#include "cli/option_table.h"
#include "payload/stub_verdict.h"
#include "platform/utf_text.h"

namespace {

const char kStubFileName[] = "lumora-stub.exe";

// A one-line pointer to the help, for the end of a usage error.
std::string SeeHelp(const std::string& command) {
  return " (lumora-pack " + (command.empty() ? "" : command + " ") + "--help)";
}

std::string ListText(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  }
  return text;
}

// The arguments of one command against the option table: options set the command as they come,
// the operands are kept. "--" ends the options.
bool ReadArguments(const std::vector<std::string>& args, unsigned command_bit, Command& command,
                   std::vector<std::string>& operands, std::set<std::string>& given,
                   std::string& error) {
  const std::string& name_of_command = args[0];
  bool options_ended = false;
  std::vector<const OptionDefinition*> exclusive;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_ended && arg == "--") {
      options_ended = true;
      continue;
    }
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      operands.push_back(arg);
      continue;
    }
    std::string name = arg, value;
    bool inline_value = false;
    const size_t equals = arg.find('=');
    if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
      inline_value = true;
    }
    const OptionDefinition* definition = FindOption(command_bit, name);
    if (definition == nullptr) {
      error = "unknown option \"" + name + "\" for " + name_of_command + SeeHelp(name_of_command);
      return false;
    }
    if (!given.insert(definition->name).second && !definition->repeatable) {
      error = "option " + std::string(definition->name) + " is given twice" +
              SeeHelp(name_of_command);
      return false;
    }
    for (const OptionDefinition* other : exclusive) {
      if (other->exclusive == definition->exclusive && other != definition) {
        error = name_of_command + " takes " + other->name + " or " + definition->name +
                ", not both" + SeeHelp(name_of_command);
        return false;
      }
    }
    if (definition->exclusive != 0) exclusive.push_back(definition);
    if (definition->value == nullptr) {
      if (inline_value) {
        error = "option " + std::string(definition->name) + " takes no value" +
                SeeHelp(name_of_command);
        return false;
      }
    } else if (!inline_value) {
      // An option name where the value belongs means the value was left out.
      const bool next_is_option =
          i + 1 < args.size() &&
          FindOption(command_bit, args[i + 1].substr(0, args[i + 1].find('='))) != nullptr;
      if (i + 1 >= args.size() || next_is_option) {
        error = "option " + name + " needs a value" + SeeHelp(name_of_command);
        return false;
      }
      value = args[++i];
    }
    if (definition->value != nullptr && value.empty() && !definition->may_be_empty) {
      error = "option " + name + " needs a value that is not empty" + SeeHelp(name_of_command);
      return false;
    }
    if (!definition->apply(*definition, value, command, error)) return false;
  }
  return true;
}

// What the pack options mean together, checked before any file is opened: the command line
// alone decides these, so that they fail alike on every machine.
bool CheckPackValues(PackOptions& o, std::string& error) {
  PackPayload& p = o.payload;
  if (o.allow_large_update && o.update_from.empty()) {
    error = "--allow-large-update applies to an update (--update-from)";
    return false;
  }
  // An update's members are patches: the archive a patch archive (B7), the setup program a patch
  // of the installed one.
  if (!o.update_from.empty()) {
    if (o.archive_type != "B7") {
      error = "--update-from writes the archive as a patch archive (B7), not --archive-type " +
              o.archive_type;
      return false;
    }
    o.setup_type = "B7";
  }
  if (!CheckPayloadType(o.archive_type, "archive", p.archive_type, error) ||
      !CheckPayloadType(o.setup_type, "setup program", p.setup_type, error) ||
      !MakeMemberName(o.archive_name.empty() ? DefaultArchiveName() : o.archive_name,
                      PayloadMember::kArchive, p.archive_type, p.archive_name, error) ||
      !MakeMemberName(o.setup_name.empty() ? DefaultSetupName(p.setup_type) : o.setup_name,
                      PayloadMember::kSetup, p.setup_type, p.setup_name, error)) {
    return false;
  }
  // Only a BL setup program is put into a cabinet: the option would change nothing.
  if (o.has_cabinet_compression && p.setup_type != PayloadType::kCabinet) {
    error = "--cabinet-compression applies to a setup program in a cabinet (--setup-type BL), "
            "not to --setup-type " + o.setup_type;
    return false;
  }
  if (o.has_previous_version) {
    if (!Utf8ToUtf16(o.previous_version, p.previous_version)) {
      error = "--previous-version is not valid UTF-8";
      return false;
    }
    if (!CheckPreviousVersion(p.previous_version, p.archive_name.size(), p.archive_type, error)) {
      return false;
    }
  }
  return true;
}

// The reproducible-builds convention: a build that fixes its time fixes the cabinet's too, and
// a value that is not a time is an error, not a reason to take the file's time. An empty value
// is how shells and CI systems leave a variable unset.
bool TakeSourceDateEpoch(const char* source_date_epoch, PackOptions& o, std::string& error) {
  if (o.has_cabinet_time || source_date_epoch == nullptr || source_date_epoch[0] == '\0') {
    return true;
  }
  const std::string epoch = source_date_epoch;
  switch (ParseCabinetTime(epoch, o.cabinet_time)) {
    case CabinetTimeText::kNotANumber:
      error = "SOURCE_DATE_EPOCH is \"" + epoch +
              "\", not a decimal number of seconds since 1970; set it to one, or unset it";
      return false;
    case CabinetTimeText::kOutOfRange:
      error = "SOURCE_DATE_EPOCH " + epoch + " is out of range for the setup cabinet: " +
              CabinetDatesText() + "; give --cabinet-time";
      return false;
    case CabinetTimeText::kTime:
      break;
  }
  o.has_cabinet_time = true;
  return true;
}

// The archive's one time for every entry: the reproducible-builds convention again, any time
// since 1970 (the range of 7z's times is far wider); without it the archive stores none.
bool TakeArchiveTime(const char* source_date_epoch, ArchiveSettings& settings,
                     std::string& error) {
  if (source_date_epoch == nullptr || source_date_epoch[0] == '\0') return true;
  const std::string epoch = source_date_epoch;
  if (epoch.size() > 18 || epoch.find_first_not_of("0123456789") != std::string::npos) {
    error = "SOURCE_DATE_EPOCH is \"" + epoch +
            "\", not a decimal number of seconds since 1970; set it to one, or unset it";
    return false;
  }
  settings.has_time = true;
  settings.time = std::stoll(epoch);
  return true;
}

bool FinishPack(const std::vector<std::string>& operands, const std::set<std::string>& given,
                const CommandEnvironment& environment, PackOptions& o, std::string& error) {
  if (!operands.empty()) {
    error = "pack takes options, not \"" + operands.front() + "\"" + SeeHelp("pack");
    return false;
  }
  std::vector<std::string> missing;
  const bool stub_missing = given.count("--stub") == 0 && environment.installed_stub.empty();
  if (stub_missing) missing.push_back("--stub");
  size_t count = 0;
  const OptionDefinition* table = OptionTable(count);
  for (size_t i = 0; i < count; ++i) {
    if ((table[i].commands & kPackOption) != 0 && table[i].required &&
        given.count(table[i].name) == 0) {
      missing.push_back(table[i].name);
    }
  }
  if (!missing.empty()) {
    error = "pack is missing " + ListText(missing) + SeeHelp("pack");
    if (stub_missing && !environment.stub_places.empty()) {
      error += "; no installed stub at " + ListText(environment.stub_places);
    }
    return false;
  }
  if (given.count("--stub") == 0) o.stub = environment.installed_stub;
  if (!CheckPackValues(o, error) ||
      !TakeSourceDateEpoch(environment.source_date_epoch, o, error)) {
    return false;
  }
  // An archive pack makes of a folder takes the installer's one time, as the cabinet does.
  o.archive_settings.has_time = o.has_cabinet_time;
  o.archive_settings.time = o.cabinet_time;
  return true;
}

bool FinishArchive(const std::vector<std::string>& operands, const std::set<std::string>& given,
                   const CommandEnvironment& environment, ArchiveOptions& o, std::string& error) {
  if (given.count("--output") == 0) {
    error = "archive is missing --output" + SeeHelp("archive");
    return false;
  }
  if (operands.size() != 1) {
    error = operands.empty() ? "archive needs the folder to archive" + SeeHelp("archive")
                             : "archive takes one folder, not \"" + operands[0] + "\" and \"" +
                                   operands[1] + "\"" + SeeHelp("archive");
    return false;
  }
  o.folder = operands[0];
  return TakeArchiveTime(environment.source_date_epoch, o.settings, error);
}

bool FinishCheck(const std::vector<std::string>& operands, CheckOptions& o, std::string& error) {
  if (operands.empty()) {
    error = "check needs the installer to read" + SeeHelp("check");
    return false;
  }
  if (operands.size() > 1) {
    error = "check takes one installer, not \"" + operands[0] + "\" and \"" + operands[1] + "\"" +
            SeeHelp("check");
    return false;
  }
  o.path = operands[0];
  return true;
}

bool ParseHelp(const std::vector<std::string>& args, Command& command, std::string& error) {
  command.kind = Command::kHelp;
  if (args.size() == 2 && args[1] == "--man") {
    command.kind = Command::kManual;
    return true;
  }
  if (args.size() > 2 || (args.size() == 2 && args[1] != "archive" && args[1] != "pack" &&
                          args[1] != "check")) {
    error = "help takes archive, pack, check or --man, nothing else";
    return false;
  }
  if (args.size() == 2) command.help_topic = args[1];
  return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, const CommandEnvironment& environment,
                      Command& command, std::string& error) {
  command = Command();
  if (args.empty()) {
    error = "no command given: pack, check, help or --version";
    return false;
  }
  const std::string& first = args[0];
  if (first == "--help" || first == "-h" || first == "help") return ParseHelp(args, command, error);
  if (first == "--version") {
    if (args.size() != 1) {
      error = "--version takes nothing after it";
      return false;
    }
    command.kind = Command::kVersion;
    return true;
  }
  if (first != "archive" && first != "pack" && first != "check") {
    error = "unknown command \"" + first + "\": archive, pack, check, help or --version";
    return false;
  }
  // Help for the command, whatever else was given with it (up to the end of the options).
  for (size_t i = 1; i < args.size() && args[i] != "--"; ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      command.help_topic = first;
      return true;
    }
  }
  std::vector<std::string> operands;
  std::set<std::string> given;
  if (first == "archive") {
    command.kind = Command::kArchive;
    return ReadArguments(args, kArchiveOption, command, operands, given, error) &&
           FinishArchive(operands, given, environment, command.archive, error);
  }
  const bool pack = first == "pack";
  command.kind = pack ? Command::kPack : Command::kCheck;
  if (!ReadArguments(args, pack ? kPackOption : kCheckOption, command, operands, given, error)) {
    return false;
  }
  return pack ? FinishPack(operands, given, environment, command.pack, error)
              : FinishCheck(operands, command.check, error);
}

std::vector<std::string> InstalledStubPlaces(const std::string& executable) {
  const size_t slash = executable.find_last_of("/\\");
  if (executable.empty() || slash == std::string::npos) return {};
  const char separator = executable[slash];
  const std::string folder = executable.substr(0, slash);
  const size_t parent_slash = folder.find_last_of("/\\");
  std::vector<std::string> places;
  if (parent_slash != std::string::npos) {
    places.push_back(folder.substr(0, parent_slash + 1) + "share" + separator + "lumora" +
                     separator + kStubFileName);
  }
  places.push_back(folder + separator + kStubFileName);
  return places;
}
