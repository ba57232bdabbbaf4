// The packer's command line as a pipeline meets it: what each form parses into, one-line usage
// errors with every missing option named at once and every malformed value among them, help,
// the manual page and the version, and check's JSON and quiet forms read back as a pipeline
// would (the JSON through python3's parser).
#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/help_text.h"
#include "cli/option_table.h"
#include "pack_fixture.h"

namespace {

CommandEnvironment Environment(const char* source_date_epoch = nullptr) {
  CommandEnvironment environment;
  environment.source_date_epoch = source_date_epoch;
  return environment;
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> words;
  for (size_t at = 0; at < line.size();) {
    const size_t end = line.find(' ', at);
    words.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? line.size() : end + 1;
  }
  return words;
}

const char kRequired[] = "pack --stub s.exe --archive a.7z --setup setup.exe --output o.exe";

TEST(ParseCommandLine, ReadsEachForm) {
  Command c;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(Split("pack --stub=s.exe --archive a.7z --setup=setup.exe -o o.exe "
                                     "--previous-version= --cabinet-time=315532800 "
                                     "--version-string OriginalFilename=app-setup.exe "
                                     "--version-string=Comments= --quiet --no-progress"),
                               Environment(), c, error))
      << error;
  EXPECT_EQ(c.kind, Command::kPack);
  EXPECT_EQ(c.pack.stub, "s.exe");
  EXPECT_EQ(c.pack.setup, "setup.exe");
  EXPECT_EQ(c.pack.output, "o.exe");
  EXPECT_TRUE(c.pack.has_previous_version);
  EXPECT_EQ(c.pack.previous_version, "");
  EXPECT_EQ(c.pack.cabinet_time, 315532800);
  ASSERT_EQ(c.pack.face.texts.size(), 2u);
  EXPECT_EQ(c.pack.face.texts[0].key, "OriginalFilename");
  EXPECT_EQ(c.pack.face.texts[0].text, "app-setup.exe");
  EXPECT_EQ(c.pack.face.texts[1].key, "Comments");
  EXPECT_EQ(c.pack.face.texts[1].text, "") << "an empty text removes the key";
  EXPECT_TRUE(c.pack.quiet);
  EXPECT_FALSE(c.pack.json);
  EXPECT_EQ(c.pack.progress, ProgressMode::kOff);
  // "--" ends the options: what follows is an operand, even when it looks like an option.
  ASSERT_TRUE(ParseCommandLine(Split("check --json --require-signature -- --odd-name.exe"),
                               Environment(), c, error))
      << error;
  EXPECT_EQ(c.kind, Command::kCheck);
  EXPECT_TRUE(c.check.json);
  EXPECT_TRUE(c.check.require_signature);
  EXPECT_EQ(c.check.path, "--odd-name.exe");
  ASSERT_TRUE(ParseCommandLine(Split("check -- --help"), Environment(), c, error)) << error;
  EXPECT_EQ(c.kind, Command::kCheck);
  EXPECT_EQ(c.check.path, "--help");
  struct Help {
    const char* line;
    Command::Kind kind;
    const char* topic;
  };
  for (const Help& h : {Help{"--help", Command::kHelp, ""}, Help{"help pack", Command::kHelp, "pack"},
                        Help{"pack --stub s.exe --help", Command::kHelp, "pack"},
                        Help{"check -h", Command::kHelp, "check"},
                        Help{"help --man", Command::kManual, ""},
                        Help{"--version", Command::kVersion, ""}}) {
    SCOPED_TRACE(h.line);
    ASSERT_TRUE(ParseCommandLine(Split(h.line), Environment(), c, error)) << error;
    EXPECT_EQ(c.kind, h.kind);
    EXPECT_EQ(c.help_topic, h.topic);
  }
}

TEST(ParseCommandLine, CabinetTimeFromTheOptionOrSourceDateEpoch) {
  struct Case {
    const char* extra;
    const char* epoch;  // SOURCE_DATE_EPOCH, or null
    bool has_time;
    int64_t time;
    const char* message;  // null: parsed
  };
  const Case cases[] = {
      {"", nullptr, false, 0, nullptr},
      {"", "1600000000", true, 1600000000, nullptr},
      {" --cabinet-time 1700000000", "1600000000", true, 1700000000, nullptr},
      {" --cabinet-time 1700000000", "not a time", true, 1700000000, nullptr},
      {" --cabinet-time 315532800", nullptr, true, 315532800, nullptr},
      {" --cabinet-time 4354819198", nullptr, true, 4354819198, nullptr},
      {" --cabinet-time 315532799", nullptr, false, 0, "out of range"},
      {" --cabinet-time 4354819199", nullptr, false, 0, "out of range"},
      {" --cabinet-time -1", nullptr, false, 0, "takes seconds since 1970"},
      {" --cabinet-time 1e9", nullptr, false, 0, "takes seconds since 1970"},
      // An empty SOURCE_DATE_EPOCH is how a CI system leaves it unset.
      {"", "", false, 0, nullptr},
      {"", "1600000000 ", false, 0, "not a decimal number"},
      {"", "+1600000000", false, 0, "not a decimal number"},
      {"", "0", false, 0, "SOURCE_DATE_EPOCH 0 is out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.extra) + " / " + (c.epoch != nullptr ? c.epoch : "unset"));
    Command command;
    std::string error;
    const bool parsed =
        ParseCommandLine(Split(kRequired + std::string(c.extra)), Environment(c.epoch), command, error);
    ASSERT_EQ(parsed, c.message == nullptr) << error;
    if (c.message != nullptr) {
      EXPECT_NE(error.find(c.message), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(command.pack.has_cabinet_time, c.has_time);
    if (c.has_time) EXPECT_EQ(command.pack.cabinet_time, c.time);
  }
}

TEST(ParseCommandLine, CabinetCompressionTakesEachWindowMszipOrNone) {
  using Method = CabinetCompression::Method;
  struct Case {
    const char* extra;
    Method method;
    int window_bits;
    const char* message;  // null: parsed
  };
  const Case cases[] = {
      {"", Method::kLzx, 21, nullptr},
      {" --cabinet-compression lzx:15", Method::kLzx, 15, nullptr},
      {" --cabinet-compression lzx:18", Method::kLzx, 18, nullptr},
      {" --cabinet-compression=lzx:21", Method::kLzx, 21, nullptr},
      {" --cabinet-compression mszip", Method::kMszip, 0, nullptr},
      {" --cabinet-compression none", Method::kNone, 0, nullptr},
      {" --setup-type BL --cabinet-compression none", Method::kNone, 0, nullptr},
      {" --cabinet-compression lzx:14", Method::kLzx, 0, "takes lzx:15 to lzx:21, mszip or none"},
      {" --cabinet-compression lzx:22", Method::kLzx, 0, "not \"lzx:22\""},
      {" --cabinet-compression lzx", Method::kLzx, 0, "not \"lzx\""},
      {" --cabinet-compression lzx:021", Method::kLzx, 0, "not \"lzx:021\""},
      {" --cabinet-compression LZX:21", Method::kLzx, 0, "not \"LZX:21\""},
      {" --cabinet-compression=", Method::kLzx, 0, "needs a value that is not empty"},
      {" --cabinet-compression mszip --setup-type BN", Method::kLzx, 0,
       "applies to a setup program in a cabinet (--setup-type BL), not to --setup-type BN"},
      {" --setup-type B7 --cabinet-compression lzx:21", Method::kLzx, 0, "not to --setup-type B7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra);
    Command command;
    std::string error;
    const bool parsed =
        ParseCommandLine(Split(kRequired + std::string(c.extra)), Environment(), command, error);
    ASSERT_EQ(parsed, c.message == nullptr) << error;
    if (c.message != nullptr) {
      EXPECT_NE(error.find(c.message), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(command.pack.cabinet_compression.method, c.method);
    if (c.method == Method::kLzx) {
      EXPECT_EQ(command.pack.cabinet_compression.window_bits, c.window_bits);
    }
  }
}

TEST(ParseCommandLine, UsageErrorsSayWhatIsWrongInOneLine) {
  struct Case {
    std::string line;
    const char* message;
  };
  const std::string pack = kRequired;
  const Case cases[] = {
      {"", "no command given"},
      {"unpack x", "unknown command \"unpack\""},
      {"--version pack", "--version takes nothing"},
      {"pack", "pack is missing --stub, --archive, --setup and --output"},
      {"pack --archive a.7z --setup s.exe", "pack is missing --stub and --output"},
      {"pack --stub s.exe --archive a.7z --setup s.exe", "pack is missing --output"},
      {"pack --stub s.exe --stub t.exe", "option --stub is given twice"},
      {"pack --output o.exe -o p.exe", "option --output is given twice"},
      {"pack --archive-name=A --archive-name=B", "option --archive-name is given twice"},
      {"pack --stub", "option --stub needs a value"},
      {"pack --stub --archive a.7z", "option --stub needs a value"},
      {"pack --stub= --archive a.7z", "option --stub needs a value that is not empty"},
      {"pack --product-name=", "needs a value that is not empty"},
      {"pack --archive-kind B7", "unknown option \"--archive-kind\" for pack"},
      {"pack stray", "pack takes options, not \"stray\""},
      {"check", "check needs the installer"},
      {"check a.exe b.exe", "check takes one installer"},
      {"check --json --quiet a.exe", "--json or --quiet, not both"},
      {"check --json --json a.exe", "option --json is given twice"},
      {"check --verbose a.exe", "unknown option \"--verbose\" for check"},
      {"check --require-signature=yes a.exe", "option --require-signature takes no value"},
      {"help unpack", "help takes archive, pack, check or --man"},
      // Values that are malformed whatever the files: the same usage error, status 2.
      {"pack --file-version 1.0", "--file-version takes four numbers"},
      {"pack --product-version 1.2.3.65536", "--product-version takes four numbers"},
      {"pack --archive-type b7", "--archive-type takes B7, BL or BN, not \"b7\""},
      {"pack --setup-type BX", "--setup-type takes B7, BL or BN, not \"BX\""},
      {"pack --cabinet-time noon", "--cabinet-time takes seconds since 1970"},
      {"pack --version-string OriginalFilename", "--version-string takes KEY=VALUE"},
      {"pack --version-string =x", "takes a key of letters"},
      {"pack --version-string Original/Filename=x", "takes a key of letters"},
      {"pack --product-name A --version-string productname=B",
       "the version text productname is set twice, by --product-name and by --version-string"},
      {"pack --version-string Comments=a --version-string Comments=b", "set twice, by --version-string twice"},
      {"pack --file-version 1.2.3.4 --version-string FileVersion=x", "set twice"},
      {"pack --company-name a\x01b", "control characters"},
      {"pack --json --quiet", "pack takes --json or --quiet, not both"},
      {"pack --progress --no-progress", "pack takes --progress or --no-progress, not both"},
      {"pack --json=yes", "option --json takes no value"},
      {pack + " -- stray", "pack takes options, not \"stray\""},
      {pack + " --archive-name APP.7Z", "must begin with \"lumora\""},
      {pack + " --setup-name LUMORA.EXE", "must begin with \"setup\""},
      {pack + " --setup-type B7 --setup-name Setup.Exe", "cannot be named"},
      {pack + " --archive-name LUMORA..7Z", "may hold only ASCII"},
      {pack + " --previous-version 1.2\\", "backslash"},
      {pack + " --previous-version " + std::string(938, '1'), "at most 937"},
      {pack + " --previous-version 1.\xC3", "not valid UTF-8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Command command;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(Split(c.line), Environment(), command, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(ParseCommandLine, StubDefaultsToTheInstalledOne) {
  CommandEnvironment environment;
  environment.stub_places = {"/opt/lumora/share/lumora/lumora-stub.exe",
                             "/opt/lumora/bin/lumora-stub.exe"};
  environment.installed_stub = environment.stub_places[1];
  const char kWithoutStub[] = "pack --archive a.7z --setup setup.exe -o o.exe";
  Command c;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(Split(kWithoutStub), environment, c, error)) << error;
  EXPECT_EQ(c.pack.stub, "/opt/lumora/bin/lumora-stub.exe");
  ASSERT_TRUE(ParseCommandLine(Split(kRequired), environment, c, error)) << error;
  EXPECT_EQ(c.pack.stub, "s.exe") << "--stub wins";
  environment.installed_stub.clear();
  EXPECT_FALSE(ParseCommandLine(Split(kWithoutStub), environment, c, error));
  EXPECT_EQ(error, "pack is missing --stub (lumora-pack pack --help); no installed stub at "
                   "/opt/lumora/share/lumora/lumora-stub.exe and /opt/lumora/bin/lumora-stub.exe");
}

TEST(InstalledStubPlaces, ShareFolderAboveThenBesideTheProgram) {
  struct Case {
    const char* executable;
    std::vector<std::string> places;
  };
  const Case cases[] = {
      {"/usr/bin/lumora-pack", {"/usr/share/lumora/lumora-stub.exe", "/usr/bin/lumora-stub.exe"}},
      {"/home/me/build/host/bin/lumora-pack",
       {"/home/me/build/host/share/lumora/lumora-stub.exe", "/home/me/build/host/bin/lumora-stub.exe"}},
      {"C:\\tools\\lumora\\lumora-pack.exe",
       {"C:\\tools\\share\\lumora\\lumora-stub.exe", "C:\\tools\\lumora\\lumora-stub.exe"}},
      {"Z:\\lumora-pack.exe", {"Z:\\lumora-stub.exe"}},
      {"/lumora-pack", {"/lumora-stub.exe"}},
      {"lumora-pack", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.executable);
    EXPECT_EQ(InstalledStubPlaces(c.executable), c.places);
  }
}

// The help and the manual page come from the option table: every option of a command is in its
// help and in the manual page, and the help fits a terminal of 80 columns.
TEST(HelpText, ListsEveryOptionWithinEightyColumns) {
  size_t count = 0;
  const OptionDefinition* table = OptionTable(count);
  ASSERT_GT(count, 20u);
  const std::string manual = ManualPage();
  for (size_t i = 0; i < count; ++i) {
    const OptionDefinition& o = table[i];
    SCOPED_TRACE(o.name);
    const std::string help = HelpText((o.commands & kPackOption) != 0      ? "pack"
                                      : (o.commands & kArchiveOption) != 0 ? "archive"
                                                                           : "check");
    EXPECT_NE(help.find(std::string("  ") + (o.alias != nullptr ? o.alias : o.name)), std::string::npos);
    std::string roff_name;
    // A hyphen that starts the option's name is a minus sign in roff.
    for (char ch : std::string(o.name)) {
      const bool leading = roff_name.empty() || roff_name.back() == '-';
      roff_name += ch == '-' && leading ? "\\-" : std::string(1, ch);
    }
    EXPECT_NE(manual.find("\\fB" + roff_name + "\\fR"), std::string::npos);
  }
  for (const char* topic : {"", "archive", "pack", "check"}) {
    const std::string help = HelpText(topic);
    for (size_t at = 0, end = 0; at < help.size(); at = end + 1) {
      end = help.find('\n', at);
      EXPECT_LE(end - at, 79u) << help.substr(at, end - at);
    }
  }
}

// The interface as a program: exit statuses, what goes to which stream.
class PackerInterface : public PackFixture {
 protected:
  RunResult Run(const std::string& args) { return Pack(args); }
};

TEST_F(PackerInterface, VersionHelpAndUsageErrors) {
  const RunResult version = Run("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("lumora-pack ") + kPackerVersion + "\n");
  struct Help {
    const char* args;
    const char* shows;
  };
  for (const Help& h : {Help{"--help", "lumora-pack check [--json | --quiet] [--require-signature] "
                                       "INSTALLER.exe"},
                        Help{"help", "lumora-pack help [archive | pack | check | --man]"},
                        Help{"pack --help", "  -o, --output FILE       the installer to write"},
                        Help{"check --help", "  -q, --quiet             nothing printed"}}) {
    SCOPED_TRACE(h.args);
    const RunResult r = Run(h.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(h.shows), std::string::npos) << r.out;
    EXPECT_TRUE(r.err.empty());
  }
  const RunResult missing = Run("pack --stub " LUMORA_STUB " --archive app.7z");
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "lumora-pack: pack is missing --setup and --output (lumora-pack pack --help)\n");
  EXPECT_TRUE(missing.out.empty());
  const RunResult epoch =
      RunProgram("cd '" + dir_ + "' && SOURCE_DATE_EPOCH=yesterday " + PackerCommand() +
                 " pack --stub " LUMORA_STUB " --archive app.7z --setup setup.exe -o out.exe");
  EXPECT_EQ(epoch.status, 2);
  EXPECT_NE(epoch.err.find("SOURCE_DATE_EPOCH is \"yesterday\""), std::string::npos) << epoch.err;
  EXPECT_EQ(DirectoryEntries(), (std::vector<std::string>{".", "..", "app.7z", "setup.exe"}));
  // An empty one is unset: the setup file's own time is taken.
  const RunResult empty_epoch =
      RunProgram("cd '" + dir_ + "' && SOURCE_DATE_EPOCH= " + PackerCommand() +
                 " pack --stub " LUMORA_STUB " --archive app.7z --setup setup.exe -o out.exe --quiet");
  EXPECT_EQ(empty_epoch.status, 0) << empty_epoch.err;
}

// The manual page, as the installation writes it into share/man/man1/lumora-pack.1: groff reads
// it without a warning, and man shows it.
TEST_F(PackerInterface, ManualPageIsCleanRoff) {
  const RunResult manual = Run("help --man");
  ASSERT_EQ(manual.status, 0) << manual.err;
  ASSERT_EQ(manual.out.rfind(".TH LUMORA\\-PACK 1 ", 0), 0u) << manual.out.substr(0, 80);
  WriteFileBytes(Path("lumora-pack.1"), std::vector<uint8_t>(manual.out.begin(), manual.out.end()));
  const RunResult groff = RunProgram("groff -man -Tutf8 -ww -z '" + Path("lumora-pack.1") + "'");
  EXPECT_EQ(groff.status, 0);
  EXPECT_EQ(groff.err, "") << "groff's warnings";
  const RunResult shown = RunProgram("MANWIDTH=80 man -l '" + Path("lumora-pack.1") + "' | col -b");
  EXPECT_EQ(shown.status, 0) << shown.err;
  for (const char* part : {"LUMORA-PACK(1)", "NAME", "SYNOPSIS", "PACK OPTIONS", "CHECK OPTIONS",
                           "EXIT STATUS", "ENVIRONMENT", "SOURCE_DATE_EPOCH", "--version-string KEY=VALUE",
                           "--require-signature", "-o, --output FILE"}) {
    EXPECT_NE(shown.out.find(part), std::string::npos) << part;
  }
}

// check --json through python3's parser, reduced to the facts a pipeline acts on.
RunResult CheckJson(const std::string& path) {
  const char* facts =
      "import json, sys\n"
      "d = json.load(sys.stdin)\n"
      "v = d.get('verdict', {})\n"
      "print(d['schema'], d['status'], d['readable'], v.get('accepted'), v.get('stub_exit_code'),"
      " v.get('stub_error'), d.get('page_aligned'), len(d.get('members', [])),"
      " [m['file_offset'] % 4096 for m in d.get('members', [])],"
      " (d.get('previous_version') or {}).get('text'), d.get('checksum', {}).get('correct'),"
      " (d.get('version') or {}).get('texts', {}).get('ProductName'),"
      " [i['width'] for i in (d.get('icon') or {}).get('images', [])])\n";
  return RunProgram(PackerCommand() + " check --json '" + path + "' | python3 -c \"" + facts + "\"");
}

TEST_F(PackerInterface, CheckSpeaksJsonAndKeepsQuiet) {
  ASSERT_EQ(Pack(Args("--previous-version '1.2 \"q\\\\'")).status, 2) << "a version that breaks";
  ASSERT_EQ(Pack(Args("--previous-version '1.2 \xCE\xB2' --product-name 'Viewer \"X\"'")).status, 0);
  WriteFileBytes(Path("nothing.exe"), {'M', 'Z'});
  struct Case {
    const char* file;
    int status;
    const char* facts;
  };
  const Case cases[] = {
      {"out.exe", 0,
       "1 0 True True None None True 2 [0, 0] 1.2 \xCE\xB2 True Viewer \"X\" [32]\n"},
      {LUMORA_STUB, 1, "1 1 True False 112 2 False 0 [] None False Lumora [32]\n"},
      {"nothing.exe", 2, "1 2 False None None None None 0 [] None None None []\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = c.file[0] == '/' ? c.file : Path(c.file);
    const RunResult json = CheckJson(path);
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out, c.facts);
    const RunResult quiet = RunProgram(PackerCommand() + " check --quiet '" + path + "'");
    EXPECT_EQ(quiet.status, c.status);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, "");
  }
}

}  // namespace
