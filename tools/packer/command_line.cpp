#include "command_line.h"

#include <cerrno>
#include <cstdlib>

const char* UsageText() {
  return
      "usage:\n"
      "  lumora-pack pack --stub STUB.exe --archive FILE --setup FILE --output INSTALLER.exe\n"
      "                   [--archive-type B7|BL|BN] [--archive-name NAME]\n"
      "                   [--setup-type BL|BN|B7] [--setup-name NAME]\n"
      "                   [--previous-version TEXT] [--cabinet-time SECONDS]\n"
      "  lumora-pack check INSTALLER.exe\n"
      "\n"
      "pack attaches the payload to a copy of the bare stub:\n"
      "  --archive-type  B7: a packed archive (the setup program gets --install-archive; default)\n"
      "                  BL, BN: an archive handed on unchanged (--uncompressed-archive)\n"
      "  --setup-type    BL: the packer compresses the setup program into a cabinet (default)\n"
      "                  BN: stored uncompressed; B7: a patch for the installed setup program\n"
      "  --archive-name  default LUMORA.PACKED.7Z; must begin with \"lumora\"\n"
      "  --setup-name    default SETUP.EX_ (BL), SETUP.EXE (BN), SETUP.PATCH (B7); must begin\n"
      "                  with \"setup\". Names are stored upper-case, as Windows looks them up.\n"
      "  --previous-version  the version this installer updates (resource RT_RCDATA 1)\n"
      "  --cabinet-time  the setup program's time in its cabinet, in seconds since 1970 UTC;\n"
      "                  default SOURCE_DATE_EPOCH when set, else the setup file's time\n"
      "Payload data starts on 4 KiB boundaries; the output has a correct checksum and no\n"
      "overlay, ready for signing. Nothing is written when packing fails.\n"
      "\n"
      "check prints an installer's payload layout and whether the stub would accept it\n"
      "(exit status 0), reject it (1), or the file cannot be read (2).\n";
}

bool ParseCommandLine(const std::vector<std::string>& args, Command& command, std::string& error) {
  command = Command();
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    command.kind = Command::kHelp;
    return true;
  }
  if (args[0] == "check") {
    if (args.size() != 2) {
      error = "check takes exactly one installer";
      return false;
    }
    command.kind = Command::kCheck;
    command.check_path = args[1];
    return true;
  }
  if (args[0] != "pack") {
    error = "unknown command \"" + args[0] + "\" (pack, check or --help)";
    return false;
  }
  command.kind = Command::kPack;
  PackOptions& o = command.pack;
  std::string cabinet_time;
  struct Option {
    const char* name;
    std::string* value;
    bool* given;
    bool may_be_empty;
  };
  const Option options[] = {
      {"--stub", &o.stub, nullptr, true},
      {"--archive", &o.archive, nullptr, true},
      {"--archive-type", &o.archive_type, nullptr, true},
      {"--archive-name", &o.archive_name, nullptr, true},
      {"--setup", &o.setup, nullptr, true},
      {"--setup-type", &o.setup_type, nullptr, true},
      {"--setup-name", &o.setup_name, nullptr, true},
      {"--previous-version", &o.previous_version, &o.has_previous_version, true},
      {"--cabinet-time", &cabinet_time, &o.has_cabinet_time, true},
      {"--output", &o.output, nullptr, true},
      {"--icon", &o.icon, nullptr, false},
      {"--product-name", &o.product_name, nullptr, false},
      {"--company-name", &o.company_name, nullptr, false},
      {"--file-description", &o.file_description, nullptr, false},
      {"--file-version", &o.file_version, nullptr, false},
      {"--product-version", &o.product_version, nullptr, false},
      {"--copyright", &o.copyright, nullptr, false},
  };
  for (size_t i = 1; i < args.size(); ++i) {
    std::string name = args[i], value;
    bool inline_value = false;
    const size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      inline_value = true;
    }
    if (name == "-o") name = "--output";
    const Option* match = nullptr;
    for (const Option& option : options) {
      if (name == option.name) match = &option;
    }
    if (match == nullptr) {
      error = "unknown option \"" + args[i] + "\"";
      return false;
    }
    if (!inline_value) {
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (value.empty() && !match->may_be_empty) {
      error = "option " + name + " needs a value that is not empty";
      return false;
    }
    *match->value = value;
    if (match->given != nullptr) *match->given = true;
  }
  if (o.has_cabinet_time) {
    char* end = nullptr;
    errno = 0;
    o.cabinet_time = std::strtoll(cabinet_time.c_str(), &end, 10);
    if (cabinet_time.empty() || *end != '\0' || errno != 0) {
      error = "--cabinet-time takes seconds since 1970 (UTC), not \"" + cabinet_time + "\"";
      return false;
    }
  }
  return true;
}
