// pack --update-from, check of an update and check --against, on a table of release pairs: the
// update installer's patch archive, applied by the delta library to the first release's folder,
// must give the second release's folder byte for byte, and its setup patch the new setup
// program; check counts what the update does to each file and, against the previous installer,
// says that it gives the new release, or with a changed base that the setup program would exit
// with 26. An update of an update, and one larger than half the full installer, are refused.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "delta/archive/directory_tree.h"
#include "delta/archive/patch_applier.h"
#include "delta/engine/byte_stream.h"
#include "lumora/setup_exit_codes.h"
#include "pack_fixture.h"
#include "payload/installer_report.h"

namespace {

// Files by name; a name ending in '/' is an empty folder.
using Tree = std::map<std::string, std::vector<uint8_t>>;

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

// A first release: a program, a library, data that compresses, data that does not, a text that
// goes away, an empty file. Large enough that an update of a few changes stays far below half
// the full installer.
Tree FirstRelease() {
  Tree tree;
  tree["VERSION"] = Text("1.0.0.0\n");
  tree["bin/app.exe"] = PatternBytes(200000, 11);
  tree["bin/core.dll"] = PatternBytes(150000, 12);
  std::string words;
  for (int i = 0; i < 4000; ++i) words += "line " + std::to_string(i * 7 % 1000) + " of the data\n";
  tree["data/words.txt"] = Text(words);
  tree["data/old.txt"] = Text("what the first release says\n");
  tree["data/empty.dat"] = {};
  return tree;
}

std::vector<uint8_t> Changed(std::vector<uint8_t> bytes, size_t at, size_t count) {
  for (size_t i = 0; i < count && at + i < bytes.size(); ++i) bytes[at + i] ^= 0x5A;
  return bytes;
}

struct UpdateCase {
  const char* name;
  Tree (*second)(const Tree& first);
  int patched, added, removed, unchanged;
  const char* setup_type;  // the previous installer's setup program storage
};

// Every second release changes VERSION, which is itself patched.
Tree Versioned(const Tree& first) {
  Tree tree = first;
  tree["VERSION"] = Text("2.0.0.0\n");
  return tree;
}

const UpdateCase kCases[] = {
    {"unchanged", [](const Tree& t) { return Versioned(t); }, 1, 0, 0, 5, "BL"},
    {"patched",
     [](const Tree& t) {
       Tree tree = Versioned(t);
       tree["bin/app.exe"] = Changed(tree["bin/app.exe"], 1000, 40);
       tree["data/words.txt"] = Changed(tree["data/words.txt"], 7000, 3);
       return tree;
     },
     3, 0, 0, 3, "BL"},
    {"added",
     [](const Tree& t) {
       Tree tree = Versioned(t);
       tree["data/new/notes.txt"] = Text("what the second release adds\n");
       return tree;
     },
     1, 1, 0, 5, "BL"},
    {"removed",
     [](const Tree& t) {
       Tree tree = Versioned(t);
       tree.erase("data/old.txt");
       return tree;
     },
     1, 0, 1, 4, "BL"},
    // A library moved to another folder, slightly changed: patched against its old name.
    {"moved",
     [](const Tree& t) {
       Tree tree = Versioned(t);
       tree["lib/core.dll"] = Changed(tree["bin/core.dll"], 500, 8);
       tree.erase("bin/core.dll");
       return tree;
     },
     2, 0, 1, 4, "BL"},
    // Empty folders, one nested below a folder that holds nothing else: made by the update too.
    {"empty folders",
     [](const Tree& t) {
       Tree tree = Versioned(t);
       tree["logs/"] = {};
       tree["data/cache/tmp/"] = {};
       return tree;
     },
     1, 0, 0, 5, "BL"},
    {"previous setup program stored as it is",
     [](const Tree& t) {
       Tree tree = Versioned(t);
       tree["bin/core.dll"] = Changed(tree["bin/core.dll"], 90000, 100);
       return tree;
     },
     2, 0, 0, 4, "BN"},
};

class UpdatePack : public PackFixture {
 protected:
  void WriteTree(const std::string& root, const Tree& tree) {
    for (const auto& [name, bytes] : tree) {
      const std::string path = Path(root + "/" + name);
      if (name.back() == '/') {
        ASSERT_EQ(std::system(("mkdir -p '" + path + "'").c_str()), 0);
        continue;
      }
      ASSERT_EQ(std::system(("mkdir -p \"$(dirname '" + path + "')\"").c_str()), 0);
      WriteFileBytes(path, bytes);
    }
    if (tree.empty()) ASSERT_EQ(std::system(("mkdir -p '" + Path(root) + "'").c_str()), 0);
  }

  // The full installer of a release's folder, its setup program stored as setup_type.
  void PackFull(const std::string& folder, const std::string& setup, const std::string& output,
                const std::string& setup_type = "BL") {
    const RunResult r = Pack(Args("--archive " + folder + " --setup " + setup +
                                      " --setup-type " + setup_type + " -q",
                                  output));
    ASSERT_EQ(r.status, 0) << r.err;
  }

  // The facts a pipeline reads of check --json (optionally --against), one per line.
  std::map<std::string, std::string> CheckFacts(const std::string& installer,
                                                const std::string& against = "") {
    const std::string script =
        "import json,sys\n"
        "d=json.load(sys.stdin)\n"
        "u=d.get('update')\n"
        "print('status', d['status'])\n"
        "if u:\n"
        "  for k in ('previous_version','patched','added','removed','unchanged','setup_patch'):\n"
        "    print(k, u.get(k))\n"
        "  a=u.get('against')\n"
        "  if a:\n"
        "    print('gives_new_release', a['gives_new_release'])\n"
        "    print('setup_exit_code', a['setup_exit_code'])\n"
        "else:\n"
        "  print('update', None)\n";
    WriteFileBytes(Path("facts.py"), Text(script));
    const RunResult r = RunProgram("cd '" + dir_ + "' && " + PackerCommand() + " check --json " +
                                   (against.empty() ? "" : "--against " + against + " ") +
                                   installer + " | python3 facts.py");
    EXPECT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> facts;
    size_t at = 0;
    while (at < r.out.size()) {
      const size_t end = r.out.find('\n', at);
      const std::string line = r.out.substr(at, end - at);
      const size_t space = line.find(' ');
      if (space != std::string::npos) facts[line.substr(0, space)] = line.substr(space + 1);
      at = end == std::string::npos ? r.out.size() : end + 1;
    }
    return facts;
  }

  // A payload member's bytes, found by its resource name through the packer's reading of the
  // installer.
  std::vector<uint8_t> Member(const std::string& installer, const std::u16string& name) {
    InstallerReport report;
    std::string error;
    EXPECT_TRUE(InspectInstaller(Path(installer), report, error)) << error;
    const std::vector<uint8_t> file = ReadFileBytes(Path(installer));
    for (const Resource& r : report.layout.payload) {
      if (r.name.named && r.name.name() == name && r.mapped) {
        return std::vector<uint8_t>(file.begin() + static_cast<std::ptrdiff_t>(r.file_offset),
                                    file.begin() + static_cast<std::ptrdiff_t>(r.file_offset + r.size));
      }
    }
    ADD_FAILURE() << "no member " << std::string(name.begin(), name.end()) << " in " << installer;
    return {};
  }

  // Applies a patch archive with the delta library to a folder, into a new folder.
  delta::ApplyResult Apply(const std::vector<uint8_t>& archive, const std::string& old_root,
                           const std::string& new_root) {
    delta::DirectoryTree old_tree(Path(old_root));
    delta::DirectoryWriter new_tree(Path(new_root));
    delta::MemoryReader reader(archive.data(), archive.size());
    std::string detail;
    return delta::ApplyPatchArchive(reader, old_tree, new_tree, delta::ApplyLimits(), detail);
  }

  bool SameFolders(const std::string& a, const std::string& b) {
    return RunProgram("diff -r '" + Path(a) + "' '" + Path(b) + "'").status == 0;
  }

  std::vector<uint8_t> NewSetup() const { return Changed(setup_, 3000, 16); }
};

TEST_F(UpdatePack, GivesTheSecondReleaseFromTheFirst) {
  for (const UpdateCase& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(std::system(("cd '" + dir_ + "' && rm -rf v1 v2 applied setup-old setup-new v1.exe "
                           "update.exe").c_str()),
              0);
    const Tree first = FirstRelease();
    const Tree second = c.second(first);
    WriteTree("v1", first);
    WriteTree("v2", second);
    WriteFileBytes(Path("new-setup.exe"), NewSetup());
    PackFull("v1", "setup.exe", "v1.exe", c.setup_type);

    const RunResult made = Pack(Args("--update-from v1.exe --archive v2 --setup new-setup.exe",
                                     "update.exe"));
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_NE(made.out.find("update size: "), std::string::npos) << made.out;

    std::map<std::string, std::string> facts = CheckFacts("update.exe");
    EXPECT_EQ(facts["status"], "0");
    EXPECT_EQ(facts["previous_version"], "1.0.0.0");
    EXPECT_EQ(facts["patched"], std::to_string(c.patched));
    EXPECT_EQ(facts["added"], std::to_string(c.added));
    EXPECT_EQ(facts["removed"], std::to_string(c.removed));
    EXPECT_EQ(facts["unchanged"], std::to_string(c.unchanged));
    EXPECT_EQ(facts["setup_patch"], "patched");

    // The archive member, applied to the first release's folder, gives the second's.
    EXPECT_EQ(Apply(Member("update.exe", u"LUMORA.PACKED.7Z"), "v1", "applied"),
              delta::ApplyResult::kApplied);
    EXPECT_TRUE(SameFolders("applied", "v2"));
    // The setup patch rebuilds the new setup program from the one the first release installed.
    WriteTree("setup-old", {{"setup.exe", setup_}});
    EXPECT_EQ(Apply(Member("update.exe", u"SETUP.PATCH"), "setup-old", "setup-new"),
              delta::ApplyResult::kApplied);
    EXPECT_EQ(ReadFileBytes(Path("setup-new/setup.exe")), NewSetup());

    facts = CheckFacts("update.exe", "v1.exe");
    EXPECT_EQ(facts["status"], "0");
    EXPECT_EQ(facts["gives_new_release"], "True");
  }
}

// check --against a previous installer whose content is not the update's base: a file the
// update relies on changed or missing, or another setup program, gives the setup program's
// code for a mismatch, as the setup program would exit on that installation; a damaged update
// gives its code for damaged data.
TEST_F(UpdatePack, AgainstAnotherBaseGivesTheMismatchCode) {
  const Tree first = FirstRelease();
  Tree second = first;
  second["VERSION"] = Text("2.0.0.0\n");
  second["bin/app.exe"] = Changed(first.at("bin/app.exe"), 100, 10);
  WriteTree("v1", first);
  WriteTree("v2", second);
  WriteFileBytes(Path("new-setup.exe"), NewSetup());
  PackFull("v1", "setup.exe", "v1.exe");
  ASSERT_EQ(Pack(Args("--update-from v1.exe --archive v2 --setup new-setup.exe", "update.exe"))
                .status,
            0);
  struct Base {
    const char* name;
    Tree tree;
    bool other_setup;
  };
  Tree patched_base_changed = first, unchanged_changed = first, missing = first;
  patched_base_changed["bin/app.exe"] = Changed(first.at("bin/app.exe"), 5000, 1);
  unchanged_changed["data/words.txt"] = Changed(first.at("data/words.txt"), 10, 1);
  missing.erase("bin/core.dll");
  const Base bases[] = {
      {"a patched file's base changed", patched_base_changed, false},
      {"an unchanged file changed", unchanged_changed, false},
      {"a file missing", missing, false},
      {"another setup program", first, true},
  };
  int index = 0;
  for (const Base& base : bases) {
    SCOPED_TRACE(base.name);
    const std::string folder = "base" + std::to_string(index++);
    WriteTree(folder, base.tree);
    WriteFileBytes(Path(folder + "-setup.exe"), base.other_setup ? Changed(setup_, 9000, 4) : setup_);
    PackFull(folder, folder + "-setup.exe", folder + ".exe");
    std::map<std::string, std::string> facts = CheckFacts("update.exe", folder + ".exe");
    EXPECT_EQ(facts["status"], "1");
    EXPECT_EQ(facts["gives_new_release"], "False");
    EXPECT_EQ(facts["setup_exit_code"], std::to_string(SETUP_EXIT_UPDATE_MISMATCH));
  }
  // The update itself damaged (a byte of its patch archive's stream changed) against its own
  // base: the setup program would find the base and refuse the data.
  InstallerReport report;
  std::string error;
  ASSERT_TRUE(InspectInstaller(Path("update.exe"), report, error)) << error;
  std::vector<uint8_t> damaged = ReadFileBytes(Path("update.exe"));
  for (const Resource& r : report.layout.payload) {
    if (r.name.named && r.name.name() == u"LUMORA.PACKED.7Z") damaged[r.file_offset + r.size - 20] ^= 0x40;
  }
  WriteFileBytes(Path("damaged.exe"), damaged);
  std::map<std::string, std::string> facts = CheckFacts("damaged.exe", "v1.exe");
  EXPECT_EQ(facts["gives_new_release"], "False");
  EXPECT_EQ(facts["setup_exit_code"], std::to_string(SETUP_EXIT_ARCHIVE_DAMAGED));
}

TEST_F(UpdatePack, RefusesWhatCannotBeAnUpdate) {
  const Tree first = FirstRelease();
  Tree second = first;
  second["VERSION"] = Text("2.0.0.0\n");
  second["bin/app.exe"] = Changed(first.at("bin/app.exe"), 100, 10);
  // A second release that shares nothing with the first: its update is no smaller than it.
  Tree rewritten;
  rewritten["VERSION"] = Text("2.0.0.0\n");
  rewritten["bin/app.exe"] = PatternBytes(400000, 99);
  WriteTree("v1", first);
  WriteTree("v2", second);
  WriteTree("v2-rewritten", rewritten);
  PackFull("v1", "setup.exe", "v1.exe");
  ASSERT_EQ(Pack(Args("--update-from v1.exe --archive v2", "update.exe")).status, 0);

  struct Refusal {
    const char* name;
    std::string args;
    const char* said;
  };
  const Refusal refusals[] = {
      {"an update made from an update", "--update-from update.exe --archive v2",
       "is itself an update"},
      {"an update larger than half the full installer",
       "--update-from v1.exe --archive v2-rewritten", "--allow-large-update"},
      {"the output is the previous installer", "--update-from v1.exe --archive v2",
       "is the previous installer"},
      {"an archive that cannot be a patch archive",
       "--update-from v1.exe --archive v2 --archive-type BN", "patch archive (B7)"},
  };
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.name);
    const std::string output =
        std::string(refusal.said) == "is the previous installer" ? "v1.exe" : "refused.exe";
    const std::vector<uint8_t> before = ReadFileBytes(Path("v1.exe"));
    const RunResult r = Pack(Args(refusal.args, output));
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(refusal.said), std::string::npos) << r.err;
    EXPECT_TRUE(ReadFileBytes(Path("refused.exe")).empty());
    EXPECT_EQ(ReadFileBytes(Path("v1.exe")), before);
  }
  // Asked for, the large update is written, and still gives the new release.
  ASSERT_EQ(Pack(Args("--update-from v1.exe --archive v2-rewritten --allow-large-update",
                      "large.exe"))
                .status,
            0);
  std::map<std::string, std::string> facts = CheckFacts("large.exe", "v1.exe");
  EXPECT_EQ(facts["gives_new_release"], "True");
  // check --against needs an update, and a previous installer that is none.
  EXPECT_EQ(RunProgram("cd '" + dir_ + "' && " + PackerCommand() + " check --against v1.exe v1.exe")
                .status,
            2);
  EXPECT_EQ(RunProgram("cd '" + dir_ + "' && " + PackerCommand() +
                       " check --against update.exe update.exe")
                .status,
            2);
}

}  // namespace
