#include "command_line.h"

#include <set>
#include <string>

#include "mszip_cabinet.h"

namespace {

const char kGeneralHelp[] =
    "lumora-pack attaches an application's payload to the bare Lumora installer stub, and\n"
    "checks installers the way the stub will read them.\n"
    "\n"
    "usage:\n"
    "  lumora-pack pack --stub STUB.exe --archive FILE --setup FILE --output INSTALLER.exe\n"
    "                   [options]        (lumora-pack pack --help lists them)\n"
    "  lumora-pack check [--json | --quiet] INSTALLER.exe\n"
    "  lumora-pack --version\n"
    "  lumora-pack --help | pack --help | check --help\n"
    "\n"
    "exit status: 0 done (check: the stub would accept the installer); 1 refused, nothing\n"
    "written (check: the stub would reject it); 2 a usage error (check: no readable PE image).\n";

const char kPackHelp[] =
    "usage: lumora-pack pack --stub STUB.exe --archive FILE --setup FILE --output INSTALLER.exe\n"
    "                        [options]\n"
    "\n"
    "Writes a copy of the bare stub with the archive and the setup program attached as the\n"
    "resources the stub reads. Options take their value as the next argument or after '='\n"
    "(--output=INSTALLER.exe); each may be given once.\n"
    "\n"
    "required:\n"
    "  --stub FILE          the bare stub, lumora-stub.exe (unsigned; sign the installer)\n"
    "  --archive FILE       the application's archive\n"
    "  --setup FILE         the setup program\n"
    "  -o, --output FILE    the installer to write; replaced only once it is complete\n"
    "\n"
    "payload:\n"
    "  --archive-type B7|BL|BN  B7: a packed archive, named to the setup program with\n"
    "                       --install-archive (default); BL, BN: handed on unchanged\n"
    "                       (--uncompressed-archive)\n"
    "  --setup-type BL|BN|B7    BL: compressed into a cabinet that the stub expands to\n"
    "                       setup.exe (default); BN: stored as it is; B7: a patch that the\n"
    "                       installed setup program turns into setup.exe\n"
    "  --archive-name NAME  default LUMORA.PACKED.7Z; must begin with \"lumora\"\n"
    "  --setup-name NAME    default SETUP.EX_ (BL), SETUP.EXE (BN), SETUP.PATCH (B7); must begin\n"
    "                       with \"setup\". Names are stored upper-case, as Windows looks them\n"
    "                       up, and may hold ASCII letters, digits, '.', '_' and '-'.\n"
    "  --previous-version TEXT  the version this installer updates (resource RT_RCDATA 1)\n"
    "  --cabinet-compression lzx:N|mszip|none\n"
    "                       how the BL cabinet is compressed: LZX with a window of 2^N bytes,\n"
    "                       N from 15 to 21 (default lzx:21, the smallest), MSZIP (deflate),\n"
    "                       or not at all\n"
    "  --cabinet-time SECONDS   the setup program's time in its cabinet, in seconds since 1970\n"
    "                       (UTC), within 1980-2107; default SOURCE_DATE_EPOCH when it is set\n"
    "                       (then it must be such a number), else the setup file's time\n"
    "\n"
    "the application's face (the stub's own stay when these are not given):\n"
    "  --icon FILE.ico      every image of the icon file in place of the stub's icon\n"
    "  --product-name TEXT, --company-name TEXT, --file-description TEXT, --copyright TEXT\n"
    "                       the version resource's texts\n"
    "  --file-version A.B.C.D, --product-version A.B.C.D\n"
    "                       the version resource's numbers and texts\n"
    "\n"
    "The installer is page-aligned, has a correct checksum and no overlay, ready for signing\n"
    "(osslsigncode or signtool). It is read back the way the stub reads it before it replaces\n"
    "the output. The same inputs and time give the same bytes, on Linux and Windows alike.\n"
    "exit status: 0 written; 1 refused (the reason on stderr), nothing written; 2 usage error.\n";

const char kCheckHelp[] =
    "usage: lumora-pack check [--json | --quiet] INSTALLER.exe\n"
    "\n"
    "Reads an installer the way the stub will: its sections and their alignment, its payload\n"
    "members with their sizes, offsets and storage, its previous version, its icon and version\n"
    "texts, its checksum and signature, and the stub's verdict.\n"
    "  --json    the same as one JSON object on standard output\n"
    "  --quiet   nothing printed; only the exit status\n"
    "exit status: 0 the stub would accept the installer; 1 it would not (the report names the\n"
    "exit code it would end with); 2 the file is not a readable PE image.\n";

// A one-line pointer to the help, for the end of a usage error.
std::string SeeHelp(const std::string& command) {
  return " (lumora-pack " + (command.empty() ? "" : command + " ") + "--help)";
}

bool ParseSeconds(const std::string& text, int64_t& seconds) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  seconds = std::stoll(text);
  return true;
}

bool InCabinetRange(int64_t seconds) {
  return seconds >= kEarliestCabinetTime && seconds <= kLatestCabinetTime;
}

// "lzx:15" to "lzx:21", "mszip" or "none".
bool ParseCompression(const std::string& text, CabinetCompression& compression) {
  using Method = CabinetCompression::Method;
  if (text == "mszip" || text == "none") {
    compression = {text == "mszip" ? Method::kMszip : Method::kNone, 0};
    return true;
  }
  for (int window = 15; window <= 21; ++window) {
    if (text == "lzx:" + std::to_string(window)) {
      compression = {Method::kLzx, window};
      return true;
    }
  }
  return false;
}

std::string CabinetRangeText() {
  return "the cabinet's dates run from " + std::to_string(kEarliestCabinetTime) +
         " (1980-01-01) to " + std::to_string(kLatestCabinetTime) + " (2107-12-31)";
}

bool ParsePack(const std::vector<std::string>& args, const char* source_date_epoch,
               PackOptions& o, std::string& error) {
  std::string cabinet_time;
  std::string cabinet_compression;
  bool has_cabinet_compression = false;
  struct Option {
    const char* name;
    std::string* value;
    bool* given;
    bool may_be_empty;
  };
  const Option options[] = {
      {"--stub", &o.stub, nullptr, false},
      {"--archive", &o.archive, nullptr, false},
      {"--setup", &o.setup, nullptr, false},
      {"--output", &o.output, nullptr, false},
      {"--archive-type", &o.archive_type, nullptr, true},
      {"--archive-name", &o.archive_name, nullptr, true},
      {"--setup-type", &o.setup_type, nullptr, true},
      {"--setup-name", &o.setup_name, nullptr, true},
      {"--previous-version", &o.previous_version, &o.has_previous_version, true},
      {"--cabinet-time", &cabinet_time, &o.has_cabinet_time, false},
      {"--cabinet-compression", &cabinet_compression, &has_cabinet_compression, false},
      {"--icon", &o.icon, nullptr, false},
      {"--product-name", &o.face.product_name, nullptr, false},
      {"--company-name", &o.face.company_name, nullptr, false},
      {"--file-description", &o.face.file_description, nullptr, false},
      {"--file-version", &o.face.file_version, nullptr, false},
      {"--product-version", &o.face.product_version, nullptr, false},
      {"--copyright", &o.face.copyright, nullptr, false},
  };
  auto find = [&](std::string name) -> const Option* {
    if (name == "-o") name = "--output";
    for (const Option& option : options) {
      if (name == option.name) return &option;
    }
    return nullptr;
  };
  std::set<std::string> given;
  for (size_t i = 1; i < args.size(); ++i) {
    std::string name = args[i], value;
    bool inline_value = false;
    const size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      inline_value = true;
    }
    const Option* match = find(name);
    if (match == nullptr) {
      error = (name.rfind("-", 0) == 0 ? "unknown option \"" + name + "\" for pack"
                                       : "pack takes options, not \"" + args[i] + "\"") +
              SeeHelp("pack");
      return false;
    }
    if (!given.insert(match->name).second) {
      error = "option " + std::string(match->name) + " is given twice" + SeeHelp("pack");
      return false;
    }
    if (!inline_value) {
      // An option name where the value belongs means the value was left out.
      if (i + 1 >= args.size() || find(args[i + 1].substr(0, args[i + 1].find('='))) != nullptr) {
        error = "option " + name + " needs a value" + SeeHelp("pack");
        return false;
      }
      value = args[++i];
    }
    if (value.empty() && !match->may_be_empty) {
      error = "option " + name + " needs a value that is not empty" + SeeHelp("pack");
      return false;
    }
    *match->value = value;
    if (match->given != nullptr) *match->given = true;
  }
  std::vector<std::string> missing;
  for (const char* required : {"--stub", "--archive", "--setup", "--output"}) {
    if (given.count(required) == 0) missing.push_back(required);
  }
  if (!missing.empty()) {
    error = "pack is missing ";
    for (size_t i = 0; i < missing.size(); ++i) {
      error += (i == 0 ? "" : i + 1 == missing.size() ? " and " : ", ") + missing[i];
    }
    error += SeeHelp("pack");
    return false;
  }
  if (has_cabinet_compression) {
    if (!ParseCompression(cabinet_compression, o.cabinet_compression)) {
      error = "--cabinet-compression takes lzx:15 to lzx:21, mszip or none, not \"" +
              cabinet_compression + "\"";
      return false;
    }
    // Only a BL setup program is put into a cabinet: the option would change nothing.
    if (o.setup_type != "BL") {
      error = "--cabinet-compression applies to a setup program in a cabinet (--setup-type BL), "
              "not to --setup-type " + o.setup_type;
      return false;
    }
  }
  if (o.has_cabinet_time) {
    if (!ParseSeconds(cabinet_time, o.cabinet_time)) {
      error = "--cabinet-time takes seconds since 1970 (UTC), not \"" + cabinet_time + "\"";
      return false;
    }
    if (!InCabinetRange(o.cabinet_time)) {
      error = "--cabinet-time " + cabinet_time + " is out of range: " + CabinetRangeText();
      return false;
    }
  } else if (source_date_epoch != nullptr) {
    // The reproducible-builds convention: a build that fixes its time fixes the cabinet's too,
    // and a value that is not a time is an error, not a reason to take the file's time.
    const std::string epoch = source_date_epoch;
    if (!ParseSeconds(epoch, o.cabinet_time)) {
      error = "SOURCE_DATE_EPOCH is \"" + epoch + "\", not a decimal number of seconds since 1970";
      return false;
    }
    if (!InCabinetRange(o.cabinet_time)) {
      error = "SOURCE_DATE_EPOCH " + epoch + " is out of range for the setup cabinet: " +
              CabinetRangeText() + "; give --cabinet-time";
      return false;
    }
    o.has_cabinet_time = true;
  }
  return true;
}

bool ParseCheck(const std::vector<std::string>& args, CheckOptions& o, std::string& error) {
  bool paths_only = false, has_path = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!paths_only && a == "--") {
      paths_only = true;
    } else if (!paths_only && (a == "--json" || a == "--quiet")) {
      bool& flag = a == "--json" ? o.json : o.quiet;
      if (flag) {
        error = "option " + a + " is given twice" + SeeHelp("check");
        return false;
      }
      flag = true;
    } else if (!paths_only && a.size() > 1 && a[0] == '-') {
      error = "unknown option \"" + a + "\" for check" + SeeHelp("check");
      return false;
    } else if (has_path) {
      error = "check takes one installer, not \"" + o.path + "\" and \"" + a + "\"" +
              SeeHelp("check");
      return false;
    } else {
      o.path = a;
      has_path = true;
    }
  }
  if (o.json && o.quiet) {
    error = "check takes --json or --quiet, not both" + SeeHelp("check");
    return false;
  }
  if (!has_path) {
    error = "check needs the installer to read" + SeeHelp("check");
    return false;
  }
  return true;
}

}  // namespace

const char* HelpText(const std::string& topic) {
  if (topic == "pack") return kPackHelp;
  if (topic == "check") return kCheckHelp;
  return kGeneralHelp;
}

bool ParseCommandLine(const std::vector<std::string>& args, const char* source_date_epoch,
                      Command& command, std::string& error) {
  command = Command();
  if (args.empty()) {
    error = "no command given: pack, check, --help or --version";
    return false;
  }
  const std::string& first = args[0];
  if (first == "--help" || first == "-h" || first == "help") {
    command.kind = Command::kHelp;
    if (args.size() > 1) command.help_topic = args[1];
    if (args.size() > 2 || (args.size() == 2 && args[1] != "pack" && args[1] != "check")) {
      error = "help takes pack or check, nothing else";
      return false;
    }
    return true;
  }
  if (first == "--version") {
    if (args.size() != 1) {
      error = "--version takes nothing after it";
      return false;
    }
    command.kind = Command::kVersion;
    return true;
  }
  if (first != "pack" && first != "check") {
    error = "unknown command \"" + first + "\": pack, check, --help or --version";
    return false;
  }
  // Help for the command, whatever else was given with it.
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      command.help_topic = first;
      return true;
    }
  }
  command.kind = first == "pack" ? Command::kPack : Command::kCheck;
  return first == "pack" ? ParsePack(args, source_date_epoch, command.pack, error)
                         : ParseCheck(args, command.check, error);
}
