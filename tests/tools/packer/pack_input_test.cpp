// What pack makes of its inputs before it writes anything: the setup program must be a program
// that every 64-bit Windows starts (for "BL", what the cabinet expands to), a setup file that is
// already a cabinet is taken as the cabinet itself once it expands whole, swapped inputs are named
// as such, and what does not refuse but is likely a mistake is warned about on stderr.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "payload/installer_report.h"
#include "pack_fixture.h"
#include "pe/pe_image.h"
#include "cabinet/setup_cabinet.h"

namespace {

class PackInput : public PackFixture {
 protected:
  // The bare stub is an x64 GUI program too; with one of its DLL names changed it stands for a
  // setup program that needs a DLL Windows does not carry.
  std::vector<uint8_t> ProgramImporting(const std::string& dll) {
    std::vector<uint8_t> program = ReadFileBytes(LUMORA_STUB);
    const std::string advapi32("ADVAPI32.dll");
    const auto at = std::search(program.begin(), program.end(), advapi32.begin(), advapi32.end());
    EXPECT_NE(at, program.end());
    EXPECT_EQ(dll.size(), advapi32.size());
    if (at != program.end()) std::copy(dll.begin(), dll.end(), at);
    return program;
  }
};

TEST_F(PackInput, SetupProgramsThatNoWindowsStartsAreRefusedSayingWhatTheyAre) {
  std::vector<uint8_t> seven_zip = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0, 4};
  seven_zip.resize(4000, 'z');
  WriteFileBytes(Path("app-real.7z"), seven_zip);
  WriteFileBytes(Path("readme.txt"), {'R', 'E', 'A', 'D', ' ', 'm', 'e', '\n'});
  WriteFileBytes(Path("x86.exe"), ReadFileBytes(LUMORA_FOREIGN_DIR "/x86.exe"));
  WriteFileBytes(Path("arm64.exe"), ReadFileBytes(LUMORA_FOREIGN_DIR "/arm64.exe"));
  std::vector<uint8_t> dll = setup_;
  const uint32_t characteristics = Load32(&dll[60]) + 4 + 18;
  Store16(&dll[characteristics], static_cast<uint16_t>(Load16(&dll[characteristics]) | 0x2000));
  WriteFileBytes(Path("library.dll"), dll);
  const std::vector<uint8_t> cabinet = CabinetOf("setup.exe");
  WriteFileBytes(Path("garbage.cab"), {'M', 'S', 'C', 'F', 1, 2, 3, 4, 5, 6, 7, 8});
  WriteFileBytes(Path("truncated.cab"),
                 std::vector<uint8_t>(cabinet.begin(), cabinet.begin() + cabinet.size() * 6 / 10));
  std::vector<uint8_t> no_folder = cabinet;
  Store16(&no_folder[26], 0);
  WriteFileBytes(Path("no-folder.cab"), no_folder);
  CabinetOf("readme.txt");
  struct Case {
    const char* what;
    std::string args;
    const char* message;
  };
  const Case cases[] = {
      {"inputs swapped", "--archive setup.exe --setup app-real.7z",
       "app-real.7z is a 7z archive, not a 64-bit Windows program: did you swap --archive and "
       "--setup?"},
      {"a text file", "--setup readme.txt --setup-type BN",
       "readme.txt is a text file, not a 64-bit Windows program"},
      {"a text file as BL", "--setup readme.txt", "readme.txt is a text file"},
      {"an x86 program", "--setup x86.exe", "x86.exe is an x86 GUI program (PE32), not a 64-bit"},
      {"an ARM64 program", "--setup arm64.exe", "is an ARM64 GUI program (PE32+), not a 64-bit"},
      {"a DLL", "--setup library.dll --setup-type BN", "is an x64 DLL, not a program"},
      {"a program as the archive and text as the setup program",
       "--archive setup.exe --setup readme.txt", "did you swap --archive and --setup?"},
      {"a cabinet as BN", "--setup setup.exe.cab --setup-type BN",
       "setup.exe.cab is a cabinet, not a 64-bit Windows program: a cabinet of the setup program "
       "is shipped as it is with --setup-type BL"},
      {"a cabinet that expands to text", "--setup readme.txt.cab",
       "the setup cabinet readme.txt.cab expands to a text file, not a 64-bit Windows program"},
      {"\"MSCF\" and garbage", "--setup garbage.cab",
       "the setup cabinet garbage.cab cannot be expanded"},
      {"a truncated cabinet", "--setup truncated.cab", "the stub would exit with 115"},
      {"a cabinet without a folder", "--setup no-folder.cab",
       "does not hold exactly one folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(Path("out.exe"), {'o', 'l', 'd'});
    const std::vector<std::string> before = DirectoryEntries();
    const RunResult r = Pack(Args(c.args));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(DirectoryEntries(), before);
    EXPECT_EQ(ReadFileBytes(Path("out.exe")), (std::vector<uint8_t>{'o', 'l', 'd'}));
  }
}

TEST_F(PackInput, ACabinetIsTakenAsItIsNotWrappedAgain) {
  const std::vector<uint8_t> cabinet = CabinetOf("setup.exe");
  ASSERT_FALSE(cabinet.empty());
  const RunResult r = Pack(Args("--setup setup.exe.cab"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  InstallerReport report;
  std::string error;
  ASSERT_TRUE(InspectInstaller(Path("out.exe"), report, error)) << error;
  EXPECT_TRUE(report.accepted()) << report.layout.verdict.reason;
  const std::vector<uint8_t> out = ReadFileBytes(Path("out.exe"));
  bool found = false;
  for (const Resource& m : report.layout.payload) {
    if (m.type.name() != u"BL") continue;
    found = true;
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + m.file_offset,
                                   out.begin() + m.file_offset + m.size),
              cabinet);
  }
  EXPECT_TRUE(found);
  // check reports the cabinet and what it expands to.
  const RunResult check = RunProgram(PackerCommand() + " check '" + Path("out.exe") + "'");
  EXPECT_NE(check.out.find("setup cabinet: 1 folder, 1 file; first file setup.exe, 70001 bytes, "
                           "compressed with LZX, window 2^21 (2 MiB); expands whole"),
            std::string::npos)
      << check.out;
  EXPECT_NE(check.out.find("setup program: an x64 GUI program (PE32+)"), std::string::npos)
      << check.out;
}

TEST_F(PackInput, LikelyMistakesAreWarnedAboutAndPacked) {
  WriteFileBytes(Path("needs-runtime.exe"), ProgramImporting("MSVCP140.dll"));
  struct Case {
    const char* what;
    std::string args;
    const char* warning;  // null: no warning at all
  };
  const Case cases[] = {
      {"an ordinary installer", "", nullptr},
      {"a setup program that needs a DLL Windows does not carry",
       "--setup needs-runtime.exe --setup-type BN",
       "warning: the setup program imports DLLs that Windows does not carry (msvcp140.dll)"},
      {"a Windows program as the archive", "--archive setup.exe",
       "warning: the archive setup.exe is an x64 GUI program (PE32+); is it the setup program?"},
      {"a patch without a previous version", "--setup-type B7",
       "warning: a patch setup program (B7) without --previous-version"},
      {"a patch with one", "--setup-type B7 --previous-version 1.2.3.4", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult r = Pack(Args(c.args));
    EXPECT_EQ(r.status, 0) << r.err;
    if (c.warning == nullptr) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_NE(r.out.find("verdict: accepted"), std::string::npos) << r.out;
  }
  // check notes what the setup program needs.
  ASSERT_EQ(Pack(Args("--setup needs-runtime.exe --setup-type BN")).status, 0);
  const RunResult check = RunProgram(PackerCommand() + " check '" + Path("out.exe") + "'");
  EXPECT_EQ(check.status, 0);
  EXPECT_NE(check.out.find("note: the setup program imports DLLs that Windows does not carry "
                           "(msvcp140.dll)"),
            std::string::npos)
      << check.out;
  // The DLL names come from the file: a name that would drive a terminal is shown escaped.
  WriteFileBytes(Path("needs-hostile.exe"), ProgramImporting("EVIL\x1B[2J\r.dl"));
  const RunResult hostile = Pack(Args("--setup needs-hostile.exe --setup-type BN"));
  ASSERT_EQ(hostile.status, 0) << hostile.err;
  const RunResult noted = RunProgram(PackerCommand() + " check '" + Path("out.exe") + "'");
  for (const RunResult* r : {&hostile, &noted}) {
    const std::string shown = r->err + r->out;
    EXPECT_NE(shown.find("(evil\\e[2j\\r.dl)"), std::string::npos) << shown;
    for (const char c : shown) {
      ASSERT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n')
          << "control character " << static_cast<int>(c) << " in\n" << shown;
    }
  }
}

}  // namespace
