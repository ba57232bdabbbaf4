// The application's archive as pack and check read it: archives that 7-Zip makes with each method,
// read through the setup program's own reader, against what 7-Zip itself lists of them; what the
// setup program we ship would exit with for each; and pack's refusal and check's verdict for an
// archive it cannot install, beside our setup program and beside a setup program of another.
#include "payload/archive_facts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "lumora/setup_exit_codes.h"
#include "pack_fixture.h"
#include "payload/stub_verdict.h"
#include "platform/byte_source.h"
#include "support/json_reader.h"

namespace {

// What 7-Zip lists of an archive ("7zz l -slt"): the names of its methods, the largest LZMA or
// LZMA2 dictionary among them, its blocks, files, folders and unpacked size.
struct SevenZipListing {
  bool read = false;
  std::set<std::string> methods;
  uint64_t dictionary = 0;
  uint64_t blocks = 0, files = 0, folders = 0, size = 0;
};

// 7-Zip writes a dictionary as a power of two's exponent ("24"), or in k or m ("1536k").
uint64_t SevenZipDictionary(const std::string& text) {
  if (text.empty()) return 0;
  const uint64_t number = std::strtoull(text.c_str(), nullptr, 10);
  if (text.back() == 'k') return number << 10;
  if (text.back() == 'm') return number << 20;
  return uint64_t{1} << number;
}

SevenZipListing ListWithSevenZip(const std::string& archive) {
  SevenZipListing listing;
  const RunResult run = RunProgram(std::string(LUMORA_7ZZ) + " l -slt '" + archive + "'");
  if (run.status != 0) return listing;
  std::istringstream lines(run.out);
  std::string line;
  bool in_entries = false;
  bool folder = false;
  uint64_t size = 0;
  auto end_entry = [&] {
    if (!in_entries) return;
    (folder ? listing.folders : listing.files) += 1;
    if (!folder) listing.size += size;
    folder = false;
    size = 0;
  };
  bool entry_open = false;
  while (std::getline(lines, line)) {
    if (line.rfind("----------", 0) == 0) {
      in_entries = true;
      continue;
    }
    if (in_entries && line.rfind("Path = ", 0) == 0) {
      if (entry_open) end_entry();
      entry_open = true;
    }
    if (line.rfind("Blocks = ", 0) == 0) {
      listing.blocks = std::strtoull(line.c_str() + 9, nullptr, 10);
    }
    if (in_entries && line.rfind("Size = ", 0) == 0) {
      size = std::strtoull(line.c_str() + 7, nullptr, 10);
    }
    if (in_entries && line.rfind("Attributes = D", 0) == 0) folder = true;
    if (line.rfind("Method = ", 0) == 0) {
      std::istringstream words(line.substr(9));
      std::string word;
      while (words >> word) {
        const size_t colon = word.find(':');
        const std::string name = word.substr(0, colon);
        listing.methods.insert(name);
        if ((name == "LZMA" || name == "LZMA2") && colon != std::string::npos) {
          // "LZMA:48k:lc0:lp2": the dictionary first, then the other settings.
          const size_t next = word.find(':', colon + 1);
          const std::string setting =
              word.substr(colon + 1, next == std::string::npos ? next : next - colon - 1);
          listing.dictionary = std::max(listing.dictionary, SevenZipDictionary(setting));
        }
      }
    }
  }
  if (entry_open) end_entry();
  listing.read = true;
  return listing;
}

// The names in a report's methods text ("LZMA:64m + BCJ"), as 7-Zip names them.
std::set<std::string> ReportedMethods(const std::string& text) {
  std::set<std::string> names;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find(" + ", at);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(at, end - at);
    const std::string name = item.substr(0, item.find(':'));
    names.insert(name == "stored" ? "Copy" : name);
    at = end + 3;
  }
  return names;
}

// Members judged as the stub writes them: each resource's bytes are its own.
class HeldData final : public ResourceData {
 public:
  bool Read(const Resource& r, uint64_t offset, uint8_t* out, size_t size,
            std::string& error) const override {
    if (offset + size > r.bytes.size()) {
      error = "beyond the member";
      return false;
    }
    std::copy_n(r.bytes.begin() + static_cast<std::ptrdiff_t>(offset), size, out);
    return true;
  }
};

PayloadEntry Member(const std::u16string& name, const std::vector<uint8_t>& bytes) {
  PayloadEntry e;
  e.resource.name = ResourceKey::Name(name);
  e.resource.size = static_cast<uint32_t>(bytes.size());
  e.resource.mapped = true;
  e.resource.bytes = bytes;
  return e;
}

// Both members uncompressed ("BN"), as the stub writes them.
PayloadVerdict JudgeBeside(const std::vector<uint8_t>& archive, const std::vector<uint8_t>& setup) {
  const std::vector<ScannedType> layout = {
      {PayloadType::kPlain, {Member(u"LUMORA.7Z", archive), Member(u"SETUP.EXE", setup)}}};
  return JudgePayload(layout, {}, HeldData());
}

struct Made {
  const char* name;
  const char* options;  // 7zz's
  uint32_t code;        // what the setup program we ship exits with before writing
  bool listed;          // whether the header reads without a password
};

// Each method and filter the setup program decodes, and those it does not.
const Made kMade[] = {
    {"stored", "-mx0 -mhc=off", SETUP_EXIT_OK, true},
    {"default", "", SETUP_EXIT_OK, true},
    {"mx9", "-mx9", SETUP_EXIT_OK, true},
    {"lzma-bcj", "-m0=lzma:d=64m -mf=BCJ", SETUP_EXIT_OK, true},
    {"lzma2-bcj2", "-mf=BCJ2", SETUP_EXIT_OK, true},
    {"several-blocks", "-ms=off", SETUP_EXIT_OK, true},
    {"ppmd", "-m0=ppmd", SETUP_EXIT_METHOD_UNSUPPORTED, true},
    {"bzip2", "-m0=bzip2", SETUP_EXIT_METHOD_UNSUPPORTED, true},
    {"deflate", "-m0=deflate", SETUP_EXIT_METHOD_UNSUPPORTED, true},
    {"encrypted", "-pSecret", SETUP_EXIT_METHOD_UNSUPPORTED, true},
    {"encrypted-header", "-pSecret -mhe=on", SETUP_EXIT_METHOD_UNSUPPORTED, false},
};

class ArchiveFactsTest : public PackFixture {
 protected:
  void SetUp() override {
    PackFixture::SetUp();
    const std::string tree = Path("tree");
    ASSERT_EQ(std::system(("mkdir -p '" + tree + "/bin' '" + tree + "/docs/empty'").c_str()), 0);
    WriteFileBytes(tree + "/VERSION", {'2', '.', '0', '\n'});
    WriteFileBytes(tree + "/empty.txt", {});
    WriteFileBytes(tree + "/readme.txt", PatternBytes(5000, 7));
    // A real x64 program, so that the branch filters have calls to convert.
    WriteFileBytes(tree + "/bin/program.exe", ReadFileBytes(LUMORA_STUB));
    WriteFileBytes(Path("lumora-setup.exe"), ReadFileBytes(LUMORA_SAMPLE_SETUP));
    ASSERT_FALSE(ReadFileBytes(Path("lumora-setup.exe")).empty())
        << "no setup program at " << LUMORA_SAMPLE_SETUP;
  }

  // The tree as 7-Zip archives it with the options given; its path.
  std::string MakeArchive(const Made& made) {
    const std::string archive = Path(std::string(made.name) + ".7z");
    const std::string command = "cd '" + Path("tree") + "' && " + LUMORA_7ZZ +
                                " a -bso0 -bse0 " + made.options + " '" + archive +
                                "' . >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return archive;
  }
};

TEST_F(ArchiveFactsTest, ReadsWhat7ZipListsAndDecidesAsTheSetupProgram) {
  for (const Made& made : kMade) {
    SCOPED_TRACE(made.name);
    const std::vector<uint8_t> bytes = ReadFileBytes(MakeArchive(made));
    ASSERT_FALSE(bytes.empty());
    const ArchiveFacts facts = ReadArchiveFacts(MemorySource(made.name, bytes));
    EXPECT_EQ(facts.format, ArchiveFacts::Format::kSevenZip);
    EXPECT_EQ(facts.setup_exit_code, made.code) << SetupRefusalText(facts);
    EXPECT_EQ(facts.SetupRefuses(), !SetupRefusalText(facts).empty());
    ASSERT_EQ(facts.listed, made.listed);
    if (!made.listed) continue;
    const SevenZipListing listing = ListWithSevenZip(Path(std::string(made.name) + ".7z"));
    ASSERT_TRUE(listing.read);
    // 7-Zip names the encryption among the methods of the files it covers.
    EXPECT_EQ(ReportedMethods(facts.methods), listing.methods) << facts.methods;
    EXPECT_EQ(facts.dictionary, listing.dictionary) << facts.methods;
    EXPECT_EQ(facts.files, listing.files);
    EXPECT_EQ(facts.directories, listing.folders);
    EXPECT_EQ(facts.unpacked_size, listing.size);
    EXPECT_EQ(facts.blocks, listing.blocks);
    // A refusal names the method that is the reason.
    if (facts.check.has_method) {
      EXPECT_TRUE(listing.methods.count(MethodName(facts.check.method)))
          << MethodName(facts.check.method);
    }
  }
}

TEST_F(ArchiveFactsTest, TellsDamagedHeadersOtherFilesAndPatchArchives) {
  const std::vector<uint8_t> good = ReadFileBytes(MakeArchive(kMade[1]));
  ASSERT_GT(good.size(), 64u);
  std::vector<uint8_t> header_flipped = good, start_flipped = good, cut = good;
  header_flipped[good.size() - 3] ^= 0x40;  // within the header, which ends the archive
  start_flipped[13] ^= 0x01;                // the header's offset, under the start header's CRC
  cut.resize(good.size() / 2);
  std::vector<uint8_t> patch = {'L', 'U', 'M', 'P', 'A', 'T', 'C', 'H'};
  patch.resize(200, 0);
  const std::string text = "a text file given as the archive\n";
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    ArchiveFacts::Format format;
    uint32_t code;
  };
  const Case cases[] = {
      {"a byte of the header changed", header_flipped, ArchiveFacts::Format::kSevenZip,
       SETUP_EXIT_ARCHIVE_DAMAGED},
      {"a byte of the start header changed", start_flipped, ArchiveFacts::Format::kSevenZip,
       SETUP_EXIT_ARCHIVE_DAMAGED},
      {"cut in half", cut, ArchiveFacts::Format::kSevenZip, SETUP_EXIT_ARCHIVE_DAMAGED},
      {"text", std::vector<uint8_t>(text.begin(), text.end()), ArchiveFacts::Format::kOther,
       SETUP_EXIT_ARCHIVE_REFUSED},
      {"shorter than a start header", {'7', 'z'}, ArchiveFacts::Format::kOther,
       SETUP_EXIT_ARCHIVE_REFUSED},
      {"a patch archive", patch, ArchiveFacts::Format::kPatchArchive, SETUP_EXIT_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ArchiveFacts facts = ReadArchiveFacts(MemorySource(c.what, c.bytes));
    EXPECT_EQ(facts.format, c.format);
    EXPECT_EQ(facts.setup_exit_code, c.code);
    EXPECT_FALSE(facts.listed);
  }
}

// The verdict: beside our setup program, the setup program's code is the run's outcome; beside
// another setup program, the archive is that program's business.
TEST_F(ArchiveFactsTest, TheVerdictIsTheSetupProgramsOwnBesideOurs) {
  const std::vector<uint8_t> ours = ReadFileBytes(Path("lumora-setup.exe"));
  const std::vector<uint8_t> other = ReadFileBytes(Path("setup.exe"));
  std::vector<uint8_t> patch = {'L', 'U', 'M', 'P', 'A', 'T', 'C', 'H'};
  patch.resize(100, 1);
  std::vector<std::pair<std::string, std::vector<uint8_t>>> archives = {{"patch", patch}};
  for (const Made& made : kMade) archives.push_back({made.name, ReadFileBytes(MakeArchive(made))});
  for (const auto& [name, archive] : archives) {
    SCOPED_TRACE(name);
    const uint32_t code = ReadArchiveFacts(MemorySource(name, archive)).setup_exit_code;
    const PayloadVerdict beside_ours = JudgeBeside(archive, ours);
    EXPECT_TRUE(beside_ours.shipped_setup);
    EXPECT_TRUE(beside_ours.archive_read);
    EXPECT_EQ(beside_ours.accepted(), code == 0) << beside_ours.reason;
    EXPECT_EQ(beside_ours.setup_refuses, code != 0);
    if (code != 0) {
      EXPECT_EQ(beside_ours.outcome, PayloadVerdict::Outcome::kStubExits);
      EXPECT_EQ(beside_ours.code, code);
      EXPECT_EQ(beside_ours.extra, 0u);
    }
    const PayloadVerdict beside_other = JudgeBeside(archive, other);
    EXPECT_FALSE(beside_other.shipped_setup);
    EXPECT_TRUE(beside_other.accepted()) << beside_other.reason;
  }
}

// pack refuses what our setup program would refuse, and writes nothing; beside another setup
// program it packs, and check reports the archive and what our setup program would make of it.
TEST_F(ArchiveFactsTest, PackRefusesAndCheckReports) {
  for (const Made& made : kMade) {
    SCOPED_TRACE(made.name);
    const std::string archive = std::string(made.name) + ".7z";
    MakeArchive(made);
    const RunResult ours = Pack(Args("--archive " + archive + " --setup lumora-setup.exe"));
    const std::vector<std::string> entries = DirectoryEntries();
    const bool written = std::count(entries.begin(), entries.end(), "out.exe") != 0;
    if (made.code != 0) {
      EXPECT_EQ(ours.status, 1) << ours.err;
      EXPECT_NE(ours.err.find("exit with " + std::to_string(made.code)), std::string::npos)
          << ours.err;
      EXPECT_FALSE(written);
      const RunResult other = Pack(Args("--archive " + archive));
      ASSERT_EQ(other.status, 0) << other.err;
    } else {
      ASSERT_EQ(ours.status, 0) << ours.err;
      EXPECT_NE(ours.out.find("the one we ship (lumora-setup)"), std::string::npos) << ours.out;
    }
    const RunResult text = Pack("check out.exe");
    EXPECT_EQ(text.status, 0) << text.out;
    const RunResult json_run = Pack("check --json out.exe");
    json::Value report;
    ASSERT_TRUE(json::Parse(json_run.out, report)) << json_run.out;
    const json::Value& facts = report["archive"];
    EXPECT_EQ(facts["format"].text, "7z");
    EXPECT_EQ(facts["setup_exit_code"].text, std::to_string(made.code));
    EXPECT_EQ(facts["readable"].boolean, made.listed);
    if (made.listed) {
      const SevenZipListing listing = ListWithSevenZip(Path(archive));
      EXPECT_EQ(facts["files"].text, std::to_string(listing.files));
      EXPECT_EQ(facts["unpacked_size"].text, std::to_string(listing.size));
      EXPECT_NE(text.out.find("archive: 7z, " + facts["methods"].text + ", "), std::string::npos)
          << text.out;
      EXPECT_NE(text.out.find(std::to_string(listing.files) + " files"), std::string::npos)
          << text.out;
    }
    ASSERT_EQ(std::remove(Path("out.exe").c_str()), 0);
  }
}

TEST_F(ArchiveFactsTest, APatchArchivePacksBesideOurSetupProgram) {
  std::vector<uint8_t> patch = {'L', 'U', 'M', 'P', 'A', 'T', 'C', 'H'};
  patch.resize(300, 3);
  WriteFileBytes(Path("update.lpatch"), patch);
  const RunResult packed = Pack(Args("--archive update.lpatch --setup lumora-setup.exe"));
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_NE(packed.out.find("archive: patch archive\n"), std::string::npos) << packed.out;
  const RunResult json_run = Pack("check --json out.exe");
  json::Value report;
  ASSERT_TRUE(json::Parse(json_run.out, report)) << json_run.out;
  EXPECT_EQ(report["archive"]["format"].text, "patch archive");
  EXPECT_TRUE(report["archive"]["setup_exit_code"].IsNull());
  EXPECT_TRUE(report["verdict"]["accepted"].boolean);
}

}  // namespace
