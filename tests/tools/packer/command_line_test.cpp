// The packer's command line as a pipeline meets it: what each form parses into, one-line usage
// errors with every missing option named at once, help and version, and check's JSON and quiet
// forms read back as a pipeline would (the JSON through python3's parser).
#include "command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pack_fixture.h"

namespace {

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
                                     "--previous-version= --cabinet-time=315532800"),
                               nullptr, c, error))
      << error;
  EXPECT_EQ(c.kind, Command::kPack);
  EXPECT_EQ(c.pack.stub, "s.exe");
  EXPECT_EQ(c.pack.setup, "setup.exe");
  EXPECT_EQ(c.pack.output, "o.exe");
  EXPECT_TRUE(c.pack.has_previous_version);
  EXPECT_EQ(c.pack.previous_version, "");
  EXPECT_EQ(c.pack.cabinet_time, 315532800);
  ASSERT_TRUE(ParseCommandLine(Split("check --json -- --odd-name.exe"), nullptr, c, error)) << error;
  EXPECT_EQ(c.kind, Command::kCheck);
  EXPECT_TRUE(c.check.json);
  EXPECT_EQ(c.check.path, "--odd-name.exe");
  struct Help {
    const char* line;
    Command::Kind kind;
    const char* topic;
  };
  for (const Help& h : {Help{"--help", Command::kHelp, ""}, Help{"help pack", Command::kHelp, "pack"},
                        Help{"pack --stub s.exe --help", Command::kHelp, "pack"},
                        Help{"check -h", Command::kHelp, "check"},
                        Help{"--version", Command::kVersion, ""}}) {
    SCOPED_TRACE(h.line);
    ASSERT_TRUE(ParseCommandLine(Split(h.line), nullptr, c, error)) << error;
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
      {"", "", false, 0, "SOURCE_DATE_EPOCH is \"\", not a decimal number"},
      {"", "1600000000 ", false, 0, "not a decimal number"},
      {"", "+1600000000", false, 0, "not a decimal number"},
      {"", "0", false, 0, "SOURCE_DATE_EPOCH 0 is out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.extra) + " / " + (c.epoch != nullptr ? c.epoch : "unset"));
    Command command;
    std::string error;
    const bool parsed = ParseCommandLine(Split(kRequired + std::string(c.extra)), c.epoch, command, error);
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
    const bool parsed = ParseCommandLine(Split(kRequired + std::string(c.extra)), nullptr, command,
                                         error);
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
    const char* line;
    const char* message;
  };
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Command command;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(Split(c.line), nullptr, command, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
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
  for (const Help& h : {Help{"--help", "lumora-pack check [--json | --quiet] INSTALLER.exe"},
                        Help{"pack --help", "-o, --output FILE"},
                        Help{"check --help", "--quiet   nothing printed"}}) {
    SCOPED_TRACE(h.args);
    const RunResult r = Run(h.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(h.shows), std::string::npos) << r.out;
    EXPECT_TRUE(r.err.empty());
  }
  const RunResult missing = Run("pack --archive app.7z");
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err,
            "lumora-pack: pack is missing --stub, --setup and --output (lumora-pack pack --help)\n");
  EXPECT_TRUE(missing.out.empty());
  const RunResult epoch =
      RunProgram("cd '" + dir_ + "' && SOURCE_DATE_EPOCH=yesterday " + PackerCommand() +
                 " pack --stub " LUMORA_STUB " --archive app.7z --setup setup.exe -o out.exe");
  EXPECT_EQ(epoch.status, 2);
  EXPECT_NE(epoch.err.find("SOURCE_DATE_EPOCH is \"yesterday\""), std::string::npos) << epoch.err;
  EXPECT_EQ(DirectoryEntries(), (std::vector<std::string>{".", "..", "app.7z", "setup.exe"}));
}

// check --json through python3's parser, reduced to the facts a pipeline acts on.
RunResult CheckJson(const std::string& path) {
  const char* facts =
      "import json, sys\n"
      "d = json.load(sys.stdin)\n"
      "v = d.get('verdict', {})\n"
      "print(d['status'], d['readable'], v.get('accepted'), v.get('stub_exit_code'),"
      " v.get('stub_error'), d.get('page_aligned'), len(d.get('members', [])),"
      " [m['file_offset'] % 4096 for m in d.get('members', [])],"
      " (d.get('previous_version') or {}).get('text'), d.get('checksum', {}).get('correct'),"
      " (d.get('version') or {}).get('texts', {}).get('ProductName'),"
      " [i['width'] for i in (d.get('icon') or {}).get('images', [])])\n";
  return RunProgram(PackerCommand() + " check --json '" + path + "' | python3 -c \"" + facts + "\"");
}

TEST_F(PackerInterface, CheckSpeaksJsonAndKeepsQuiet) {
  ASSERT_EQ(Pack(Args("--previous-version '1.2 \"q\\\\'")).status, 1) << "a version that breaks";
  ASSERT_EQ(Pack(Args("--previous-version '1.2 \xCE\xB2' --product-name 'Viewer \"X\"'")).status, 0);
  WriteFileBytes(Path("nothing.exe"), {'M', 'Z'});
  struct Case {
    const char* file;
    int status;
    const char* facts;
  };
  const Case cases[] = {
      {"out.exe", 0,
       "0 True True None None True 2 [0, 0] 1.2 \xCE\xB2 True Viewer \"X\" [32]\n"},
      {LUMORA_STUB, 1, "1 True False 112 2 False 0 [] None False Lumora [32]\n"},
      {"nothing.exe", 2, "2 False None None None None 0 [] None None None []\n"},
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
