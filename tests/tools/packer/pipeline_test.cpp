// pack as a step of a release pipeline: quiet, or the JSON report of what it wrote with the
// digests a pipeline checks downloads against; progress on standard error only where a person
// watches; and the stub found where an installation put it, so that no path to it is needed.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "pack_fixture.h"

namespace {

class PackerPipeline : public PackFixture {
 protected:
  // Python's reading of a JSON report: the schema, whether the installer's digest is its bytes'
  // and, for each member, whether its digest is that of the file given for it.
  RunResult JsonFacts(const std::string& json_file) {
    const std::string script =
        "import hashlib, json, sys\n"
        "d = json.load(open(sys.argv[1]))\n"
        "h = lambda p: hashlib.sha256(open(p, 'rb').read()).hexdigest()\n"
        "m = {x['role']: x['sha256'] for x in d['members']}\n"
        "print(d['schema'], d['status'], d['sha256'] == h(sys.argv[2]),"
        " m['archive'] == h(sys.argv[3]), m['setup'] == h(sys.argv[4]))\n";
    WriteFileBytes(Path("facts.py"), std::vector<uint8_t>(script.begin(), script.end()));
    return RunProgram("cd '" + dir_ + "' && python3 facts.py " + json_file +
                      " out.exe app.7z setup.exe");
  }
};

TEST_F(PackerPipeline, QuietWritesAndSaysNothing) {
  const RunResult r = Pack(Args("--quiet"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(ReadFileBytes(Path("out.exe")).empty());
}

TEST_F(PackerPipeline, JsonIsChecksReportWithDigests) {
  // The setup program stored as it is, so that its member's digest is the file's.
  const RunResult packed = Pack(Args("--json --setup-type BN --previous-version 2.0"));
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_EQ(packed.err, "");
  const RunResult checked = RunProgram("cd '" + dir_ + "' && " + PackerCommand() + " check --json out.exe");
  ASSERT_EQ(checked.status, 0) << checked.err;
  EXPECT_EQ(packed.out, checked.out) << "pack --json prints what check --json says of the file";
  WriteFileBytes(Path("report.json"), std::vector<uint8_t>(packed.out.begin(), packed.out.end()));
  const RunResult facts = JsonFacts("report.json");
  EXPECT_EQ(facts.status, 0) << facts.err;
  EXPECT_EQ(facts.out, "1 0 True True True\n");
  // sha256sum agrees, in the same lower-case form.
  const RunResult sum = RunProgram("sha256sum '" + Path("out.exe") + "' | cut -c1-64");
  EXPECT_NE(packed.out.find("\"sha256\": \"" + sum.out.substr(0, 64) + "\""), std::string::npos);
}

// Text as a terminal shows it, without the control sequences that redraw it (Wine's console
// redraws each line with them).
std::string Shown(const std::string& raw) {
  std::string text;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\x1B' && i + 1 < raw.size() && raw[i + 1] == '[') {
      i += 2;
      while (i < raw.size() && !(raw[i] >= '@' && raw[i] <= '~')) ++i;
      continue;
    }
    text += raw[i];
  }
  return text;
}

// Each line of what --progress wrote, in order.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find_first_of("\r\n", at);
    if (end != at) lines.push_back(text.substr(at, end - at));
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

// --json on every outcome: a pack that writes nothing still prints one JSON object, with the
// reason standard error gives and the warnings found so far; one that writes prints its warnings
// in the report as on standard error; check's report carries the verdict's notes as warnings.
TEST_F(PackerPipeline, JsonSaysWhyNothingWasWrittenAndWhatItWarned) {
  ASSERT_EQ(RunProgram("cd '" + dir_ + "' && cp '" LUMORA_STUB "' stub.exe && "
                       "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=T "
                       "-keyout key.pem -out cert.pem 2>/dev/null && osslsigncode sign -certs "
                       "cert.pem -key key.pem -in stub.exe -out signed-stub.exe >/dev/null")
                .status,
            0);
  // The JSON's status, written flag (or "-" where there is none), error (or "-"), and warnings,
  // one a line; then the messages of standard error, the same way.
  const char* facts =
      "import json, sys\n"
      "d = json.load(open(sys.argv[1]))\n"
      "print(d['status'], d.get('written', '-'), d.get('error', '-'))\n"
      "for w in d['warnings']: print('warning:', w)\n";
  WriteFileBytes(Path("facts.py"), std::vector<uint8_t>(facts, facts + std::strlen(facts)));
  const std::string not_the_setup_program =
      "the archive setup.exe is an x64 GUI program (PE32+); is it the setup program?";
  const std::string patch_note = "the setup program is a patch";
  struct Case {
    const char* what;
    std::string command;  // after cd into the fixture's directory
    int status;
    std::vector<std::string> lines;  // a start of each line the facts print, in order
    size_t said = 0;  // how many of the warnings (the lines after the first) standard error says
  } const cases[] = {
      {"pack: an input missing", PackerCommand() + " " + Args("--json --setup missing.exe"), 1,
       {"1 False cannot open the setup program missing.exe: "}},
      {"pack: the output a folder", PackerCommand() + " " + Args("--json", "."), 1,
       {"1 False the output . is a directory, not a regular file"}},
      {"pack: refused after a warning", PackerCommand() + " " +
           Args("--json --stub signed-stub.exe --archive setup.exe"),
       1,
       {"1 False signed-stub.exe is signed; its signature would not cover the installer",
        "warning: " + not_the_setup_program},
       0},
      {"pack: written with a warning", PackerCommand() + " " + Args("--json --archive setup.exe"),
       0, {"0 - -", "warning: " + not_the_setup_program}, 1},
      {"pack: a patch, warned of and noted", PackerCommand() + " " + Args("--json --setup-type B7"),
       0, {"0 - -", "warning: a patch setup program (B7) without --previous-version",
           "warning: " + patch_note}, 1},
      {"check: the notes", PackerCommand() + " check --json patch.exe", 0,
       {"0 - -", "warning: " + patch_note}, 0},
  };
  ASSERT_EQ(Pack(Args("--quiet --setup-type B7", "patch.exe")).status, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult r = RunProgram("cd '" + dir_ + "' && " + c.command);
    EXPECT_EQ(r.status, c.status) << r.err;
    WriteFileBytes(Path("report.json"), std::vector<uint8_t>(r.out.begin(), r.out.end()));
    const RunResult parsed = RunProgram("cd '" + dir_ + "' && python3 facts.py report.json");
    ASSERT_EQ(parsed.status, 0) << parsed.err;
    const std::vector<std::string> lines = Lines(parsed.out);
    ASSERT_GE(lines.size(), c.lines.size()) << parsed.out;
    for (size_t i = 0; i < c.lines.size(); ++i) {
      EXPECT_EQ(lines[i].rfind(c.lines[i], 0), 0u) << lines[i];
    }
    // Standard error says the same: the error, and the warnings pack gave once it wrote.
    if (c.status != 0) {
      EXPECT_NE(r.err.find("lumora-pack: " + lines[0].substr(8)), std::string::npos) << r.err;
    }
    for (size_t i = 1; i <= c.said; ++i) {
      EXPECT_NE(r.err.find("lumora-pack: " + lines[i]), std::string::npos) << r.err;
    }
  }
}

TEST_F(PackerPipeline, ProgressOnlyWhereSomeoneWatches) {
  // Not a terminal: nothing unless asked; asked, a line at every tenth up to the end.
  const RunResult plain = Pack(Args("--quiet"));
  EXPECT_EQ(plain.err, "");
  const RunResult off = Pack(Args("--quiet --no-progress"));
  EXPECT_EQ(off.err, "");
  const RunResult on = Pack(Args("--quiet --progress"));
  ASSERT_EQ(on.status, 0) << on.err;
  // For each task, compressing the setup program and writing the installer, percentages that
  // rise by a tenth or more from line to line, up to 100.
  const std::vector<std::string> lines = Lines(on.err);
  for (const std::string task : {"compressing setup.exe: ", "writing out.exe: "}) {
    SCOPED_TRACE(task);
    const std::string start = "lumora-pack: " + task;
    int last = -10;
    size_t count = 0;
    for (const std::string& line : lines) {
      if (line.rfind(start, 0) != 0) continue;
      ++count;
      const int percent = std::stoi(line.substr(start.size()));
      EXPECT_GE(percent / 10, last / 10 + 1) << line;
      last = percent;
    }
    EXPECT_GE(count, 1u) << on.err;
    EXPECT_EQ(last, 100) << on.err;
  }
  for (const std::string& line : lines) {
    EXPECT_TRUE(line.rfind("lumora-pack: compressing setup.exe: ", 0) == 0 ||
                line.rfind("lumora-pack: writing out.exe: ", 0) == 0)
        << line;
  }
  EXPECT_EQ(on.err.find('\r'), std::string::npos) << "no terminal, no redrawing";

  // A terminal (script gives the packer one): a payload of 64 MiB shows its progress redrawn in
  // place, a smaller one does not.
  ASSERT_EQ(truncate(Path("app.7z").c_str(), 64 << 20), 0);
  const std::string pty = "script -qfec \"" + PackerCommand() + " " + Args("--quiet") + "\" /dev/null";
  const RunResult large = RunProgram("cd '" + dir_ + "' && " + pty);
  ASSERT_EQ(large.status, 0) << large.out;
  EXPECT_NE(Shown(large.out).find("writing out.exe: 100% (64 of 64 MiB)"), std::string::npos)
      << large.out;
  if (!PackerIsWindowsBuild()) {
    EXPECT_NE(large.out.find("\rlumora-pack: writing out.exe: 100% ("), std::string::npos)
        << "one line redrawn in place: " << large.out;
  }
  ASSERT_EQ(truncate(Path("app.7z").c_str(), 32 << 20), 0);
  const RunResult small = RunProgram("cd '" + dir_ + "' && " + pty);
  ASSERT_EQ(small.status, 0) << small.out;
  EXPECT_EQ(Shown(small.out).find("writing"), std::string::npos) << small.out;
}

TEST_F(PackerPipeline, StubFoundWhereInstalled) {
  // An installation under a prefix: the packer in bin/, the stub in share/lumora/.
  const std::string program = PackerProgram();
  const std::string name = program.substr(program.rfind('/') + 1);
  const std::string bin = Path("prefix/bin"), share = Path("prefix/share/lumora");
  ASSERT_EQ(RunProgram("mkdir -p '" + bin + "' '" + share + "' && cp '" + program + "' '" + bin +
                       "/' && cp '" LUMORA_STUB "' '" + share + "/'").status, 0);
  const std::string installed = PackerCommandFor(bin + "/" + name);
  const std::string without_stub =
      " pack --archive app.7z --setup setup.exe --cabinet-time 1700000000 --quiet --output ";
  ASSERT_EQ(Pack(Args("--quiet", "explicit.exe")).status, 0);
  const std::vector<uint8_t> expected = ReadFileBytes(Path("explicit.exe"));
  const RunResult shared = RunProgram("cd '" + dir_ + "' && " + installed + without_stub + "shared.exe");
  ASSERT_EQ(shared.status, 0) << shared.err;
  EXPECT_TRUE(ReadFileBytes(Path("shared.exe")) == expected);
  // The Windows zip: the stub beside the packer.
  ASSERT_EQ(rename((share + "/lumora-stub.exe").c_str(), (bin + "/lumora-stub.exe").c_str()), 0);
  const RunResult beside = RunProgram("cd '" + dir_ + "' && " + installed + without_stub + "beside.exe");
  ASSERT_EQ(beside.status, 0) << beside.err;
  EXPECT_TRUE(ReadFileBytes(Path("beside.exe")) == expected);
  // Neither: a usage error that says where it looked.
  ASSERT_EQ(unlink((bin + "/lumora-stub.exe").c_str()), 0);
  const RunResult none = RunProgram("cd '" + dir_ + "' && " + installed + without_stub + "none.exe");
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("pack is missing --stub (lumora-pack pack --help); no installed stub at "),
            std::string::npos) << none.err;
  const char separator = PackerIsWindowsBuild() ? '\\' : '/';
  for (const std::string& place : {"prefix" + std::string(1, separator) + "share" + separator +
                                       "lumora" + separator + "lumora-stub.exe",
                                   "bin" + std::string(1, separator) + "lumora-stub.exe"}) {
    EXPECT_NE(none.err.find(place), std::string::npos) << place << "\n" << none.err;
  }
  EXPECT_TRUE(ReadFileBytes(Path("none.exe")).empty());
}

}  // namespace
