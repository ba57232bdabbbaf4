// Files made to hurt the reader of untrusted installers: resource directories that would make a
// naive walk run for minutes or exhaust memory, installers whose payload the stub cannot reach,
// inputs that are no regular files. check must answer quickly within little memory, refuse what
// it cannot read (status 2), and never call "accepted" what the stub would fail on.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "payload/installer_report.h"
#include "crafted_image.h"
#include "support/json_reader.h"
#include "pack_fixture.h"
#include "payload/stub_verdict.h"
#include "pe/pe_image.h"
#include "pe/pe_writer.h"

namespace {

// Runs check within a memory limit far below what a walk that copied or revisited would take,
// and a time limit only to turn a hang into a failure.
RunResult CheckBounded(const std::string& path) {
  return RunProgram(MemoryLimit(512) + "timeout 300 " + PackerCommand() + " check '" +
                    path + "'");
}

class HostileInput : public PackFixture {
 protected:
  std::vector<uint8_t> Stub() const { return ReadFileBytes(LUMORA_STUB); }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteFileBytes(Path(name), bytes);
    return Path(name);
  }
};

// Root -> 5000 types -> one name table of 5000 entries -> one language table: a naive walk reads
// the name table 5000 times over.
std::vector<uint8_t> SharedNameTable(uint32_t section_rva) {
  DirectoryBytes d;
  const uint32_t root = d.Table(0, 5000), names = d.Table(0, 5000), languages = d.Table(0, 1);
  const uint32_t entry = d.DataEntry(0, 4);
  Store32(&d.bytes[entry], section_rva + d.Data({1, 2, 3, 4}));
  d.Entry(languages, 0, 1033, entry);
  for (uint32_t i = 0; i < 5000; ++i) {
    d.Entry(root, i, i + 1, kHigh | names);
    d.Entry(names, i, i + 1, kHigh | languages);
  }
  return d.bytes;
}

// 10,000 archives in "B7" that all name one string of 65,535 units.
std::vector<uint8_t> OneLongNameManyTimes() {
  DirectoryBytes d;
  const uint32_t root = d.Table(1, 0), names = d.Table(10000, 0);
  d.Entry(root, 0, kHigh | d.String(u"B7"), kHigh | names);
  const uint32_t name = d.String(u"LUMORA" + std::u16string(65535 - 6, u'X'));
  for (uint32_t i = 0; i < 10000; ++i) {
    const uint32_t languages = d.Table(0, 1);
    d.Entry(languages, 0, 1033, d.DataEntry(0, 1));
    d.Entry(names, i, kHigh | name, kHigh | languages);
  }
  return d.bytes;
}

// 10,000 names at successive offsets of one run of 0xFFFF units: each reads as 65,535 units,
// all of them the same bytes again.
std::vector<uint8_t> OverlappingNames() {
  DirectoryBytes d;
  const uint32_t root = d.Table(1, 0), names = d.Table(10000, 0), languages = d.Table(0, 0);
  d.Entry(root, 0, kHigh | d.String(u"BX"), kHigh | names);
  const uint32_t run = d.String(std::u16string(65535 + 10000, u'\xFFFF'));
  for (uint32_t i = 0; i < 10000; ++i) d.Entry(names, i, kHigh | (run + 2 + 2 * i), kHigh | languages);
  return d.bytes;
}

std::vector<uint8_t> CountBeyondTheBytes() {
  DirectoryBytes d;
  const uint32_t root = d.Table(0, 1);
  Store16(&d.bytes[root + 14], 0xFFFF);
  return d.bytes;
}

// Refused by the stub's own check of its directory, which reads each table once and names no
// more than the directory's bytes, so check's walk stays bounded too.
TEST_F(HostileInput, DirectoriesThatClaimMoreThanTheirBytesAreRefused) {
  struct Case {
    const char* what;
    std::vector<uint8_t> directory;
    const char* message;
  };
  const Case cases[] = {
      {"one name table under 5000 types", SharedNameTable(NextSectionRva(Stub())),
       "is shared, overlaps another"},
      {"10,000 names at overlapping offsets", OverlappingNames(), "non-ASCII letter"},
      {"a table counting 65,535 entries in 16 bytes", CountBeyondTheBytes(), "beyond its bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult r = CheckBounded(Write("hostile.exe", WithResourceDirectory(Stub(), c.directory)));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("exit with 112 (EXIT_ARCHIVE_UNPACK_FAILED) (error 13)"),
              std::string::npos) << r.out.substr(0, 2000);
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out.substr(0, 2000);
  }
}

TEST_F(HostileInput, OneLongNameSharedByManyEntriesIsReadOnce) {
  const RunResult r =
      CheckBounded(Write("hostile.exe", WithResourceDirectory(Stub(), OneLongNameManyTimes())));
  // The stub's check of its directory refuses the second entry of the same name; the listing
  // shows the names shortened.
  EXPECT_EQ(r.status, 1) << r.err;
  const size_t verdict = r.out.find("verdict:");
  ASSERT_NE(verdict, std::string::npos) << r.out.substr(0, 2000);
  EXPECT_NE(r.out.find("exit with 112 (EXIT_ARCHIVE_UNPACK_FAILED) (error 13)", verdict),
            std::string::npos)
      << r.out.substr(verdict, 2000);
  EXPECT_NE(r.out.find("repeat a type, name or language", verdict), std::string::npos)
      << r.out.substr(verdict, 2000);
  EXPECT_NE(r.out.find("XXX... (65535 units)"), std::string::npos) << r.out.substr(0, 2000);
  EXPECT_LT(r.out.size(), 10000u * 400) << "names are shown shortened";
}

TEST_F(HostileInput, VerdictFollowsTheStubOnPayloadItCannotUse) {
  ASSERT_EQ(Pack(Args("", "packed.exe")).status, 0);
  const std::vector<uint8_t> packed = ReadFileBytes(Path("packed.exe"));
  const uint32_t archive_size = static_cast<uint32_t>(archive_.size());
  InstallerReport report;
  std::string error;
  ASSERT_TRUE(InspectInstaller(Path("packed.exe"), report, error)) << error;
  uint32_t cabinet_size = 0;
  for (const Resource& m : report.layout.payload) {
    if (m.type.name() == u"BL") cabinet_size = m.size;
  }
  auto patched = [&](uint32_t size, bool rva_field, uint32_t value) {
    std::vector<uint8_t> image = packed;
    EXPECT_TRUE(PatchDataEntry(image, size, rva_field, value));
    return image;
  };
  const std::vector<uint8_t> cabinet = CabinetOf("setup.exe");
  auto crafted = [&](const std::u16string& archive, const std::u16string& setup,
                     const std::u16string* version) {
    const std::vector<uint8_t> stub = Stub();
    return WithResourceDirectory(
        stub, PayloadDirectory(NextSectionRva(stub), archive, setup, version, cabinet));
  };
  auto with_signature = [&](uint32_t offset, uint32_t size) {
    std::vector<uint8_t> image = packed;
    SetDataDirectory(image, 4, offset, size);
    return image;
  };
  // The payload section's memory cut short (established under Wine by the parity corpus).
  const SectionFields payload = FindSection(packed, kPayloadSectionName);
  uint32_t cabinet_rva = 0;
  for (const Resource& m : report.layout.payload) {
    if (m.type.name() == u"BL") cabinet_rva = m.data_rva;
  }
  auto with_virtual_size = [&](uint32_t size, bool fit_image) {
    std::vector<uint8_t> image = packed;
    SetVirtualSize(image, kPayloadSectionName, size, fit_image);
    return image;
  };
  // The longest version the shipped layout's command line holds from a drive's root.
  const std::u16string fits(LongestPreviousVersion(16, PayloadType::kPacked), u'1');
  const std::u16string too_long(1100, u'1');
  struct Case {
    const char* what;
    std::vector<uint8_t> image;
    int status;
    const char* verdict;
  };
  const Case cases[] = {
      // Data outside the image: the stub refuses its own directory before it reads any of it.
      {"archive RVA 0xFFFFFFFF", patched(archive_size, true, 0xFFFFFFFF), 1,
       "exit with 112 (EXIT_ARCHIVE_UNPACK_FAILED) (error 13)"},
      {"archive size 0xFFFFFFFF", patched(archive_size, false, 0xFFFFFFFF), 1,
       "exit with 112 (EXIT_ARCHIVE_UNPACK_FAILED) (error 13)"},
      {"setup RVA 0xFFFFFFFF", patched(cabinet_size, true, 0xFFFFFFFF), 1,
       "exit with 112 (EXIT_ARCHIVE_UNPACK_FAILED) (error 13)"},
      {"previous version of 1,100 units", crafted(u"LUMORA.PACKED.7Z", u"SETUP.EX_", &too_long), 1,
       "exit with 105 (EXIT_COMMAND_LINE_TOO_LONG) (error 0)"},
      // Both fit from a drive's root alone: from any deeper folder the stub ends with 105 or 108.
      {"longest previous version", crafted(u"LUMORA.PACKED.7Z", u"SETUP.EX_", &fits), 1,
       "depends on the installer's folder: the stub works only from an installer folder of at "
       "most 3 characters"},
      {"archive name with \"..\"", crafted(u"LUMORA..7Z", u"SETUP.EX_", nullptr), 1,
       "exit with 112 (EXIT_ARCHIVE_UNPACK_FAILED) (error 123)"},
      {"setup name with a colon", crafted(u"LUMORA.7Z", u"SETUP:EX_", nullptr), 1,
       "exit with 115 (EXIT_SETUP_UNPACK_FAILED) (error 123)"},
      {"archive name of 244 units", crafted(u"LUMORA" + std::u16string(238, u'X'), u"SETUP.EX_", nullptr),
       1, "exit with 108 (EXIT_PATH_TOO_LONG) (error 0)"},
      {"archive name of 243 units", crafted(u"LUMORA" + std::u16string(237, u'X'), u"SETUP.EX_", nullptr),
       1, "depends on the installer's folder: the stub works only from an installer folder of at "
          "most 3 characters"},
      {"certificate table 0xFFFFFFFF", with_signature(0xFFFFFFFF, 0xFFFFFFFF), 1,
       "does not lie within the file"},
      {"certificate table inside the sections", with_signature(0x400, 0x100), 1,
       "does not lie within the file"},
      // A member beyond its section's memory is data outside the section: the directory is refused.
      {"memory ends where the cabinet starts, and so does the image",
       with_virtual_size(cabinet_rva - payload.virtual_address, true), 1,
       "exit with 112 (EXIT_ARCHIVE_UNPACK_FAILED) (error 13)"},
      {"memory ends within the cabinet, the image goes on (zeros)",
       with_virtual_size(cabinet_rva - payload.virtual_address + 0x1000, false), 1,
       "exit with 112 (EXIT_ARCHIVE_UNPACK_FAILED) (error 13)"},
      {"memory ends one byte before the cabinet does (the page holds it)",
       with_virtual_size(cabinet_rva - payload.virtual_address + cabinet_size - 1, true), 0,
       "verdict: accepted"},
      // The first page holds the directory; the manifest after it is gone, and the loader reads
      // it before any code runs (under Wine the process dies as it starts).
      {"memory ends after the directory's page, and so does the image",
       with_virtual_size(16, true), 1, "its manifest reaches beyond the image"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult r = CheckBounded(Write("crafted.exe", c.image));
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE(r.out.find(c.verdict), std::string::npos) << r.out;
  }
  const RunResult signature = CheckBounded(Write("crafted.exe", with_signature(0xFFFFFFFF, 0xFFFFFFFF)));
  EXPECT_NE(signature.out.find("signature: malformed"), std::string::npos) << signature.out;
  // Another fault of the image is reported as what it is, not as a malformed signature.
  const RunResult manifest = CheckBounded(Write("crafted.exe", with_virtual_size(16, true)));
  EXPECT_NE(manifest.out.find("signature: none"), std::string::npos) << manifest.out;
}

// Names and versions that would drive a terminal: the text report shows them escaped and writes
// no control character but its line ends; the JSON report carries them as they are, escaped as
// JSON escapes them.
TEST_F(HostileInput, ReportsShowTextFromTheFileEscaped) {
  const std::vector<uint8_t> stub = Stub();
  const std::u16string name = u"LUMORA\x1B[2J\x1B[H\u202E";
  const std::u16string version = u"1.0\x1B[2J\rverdict: accepted\x9B";
  Write("escapes.exe", WithResourceDirectory(stub, PayloadDirectory(NextSectionRva(stub), name,
                                                                    u"SETUP.EX_", &version,
                                                                    CabinetOf("setup.exe"))));
  const RunResult text = CheckBounded(Path("escapes.exe"));
  EXPECT_EQ(text.status, 1) << text.err;
  for (const char c : text.out) {
    ASSERT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n')
        << "control character " << static_cast<int>(c) << " in\n" << text.out;
  }
  EXPECT_NE(text.out.find("  B7  LUMORA\\e[2J\\e[H\\u202E  100 bytes"), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("previous version: \"1.0\\e[2J\\rverdict: accepted\\x9B\"\n"),
            std::string::npos)
      << text.out;
  // The stub stops at the name before it reads the version.
  EXPECT_NE(text.out.find("verdict: rejected: the stub would exit with 112"), std::string::npos)
      << text.out;

  const RunResult json_report =
      RunProgram(PackerCommand() + " check --json '" + Path("escapes.exe") + "'");
  json::Value report;
  ASSERT_TRUE(json::Parse(json_report.out, report)) << json_report.out;
  bool found = false;
  for (const json::Value& member : report["members"].items) {
    if (member["type"].text == "B7") {
      found = true;
      EXPECT_EQ(member["name"].text, "LUMORA\x1B[2J\x1B[H\xE2\x80\xAE");
    }
  }
  EXPECT_TRUE(found) << json_report.out;
  EXPECT_EQ(report["previous_version"]["text"].text, "1.0\x1B[2J\rverdict: accepted\xC2\x9B");
  EXPECT_EQ(report["verdict"]["stub_exit_code"].text, "112");
  for (const char c : json_report.out) {
    ASSERT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n') << json_report.out;
  }
}

TEST_F(HostileInput, InputsThatAreNoRegularFilesAreRefusedWithoutWaiting) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  // Nobody ever writes to the FIFO: an open that waited for a writer would hang here, and the
  // time limit turns that into a failure.
  const RunResult check = RunProgram("timeout 60 " + PackerCommand() + " check " + Path("fifo"));
  EXPECT_EQ(check.status, 2);
  EXPECT_NE(check.err.find("not a regular file"), std::string::npos) << check.err;
  for (const char* option : {"--archive fifo", "--setup fifo", "--stub fifo"}) {
    SCOPED_TRACE(option);
    const RunResult pack =
        RunProgram("cd '" + dir_ + "' && timeout 60 " + PackerCommand() + " " + Args(option));
    EXPECT_EQ(pack.status, 1);
    EXPECT_NE(pack.err.find("not a regular file"), std::string::npos) << pack.err;
  }
}

}  // namespace
