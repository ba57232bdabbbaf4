// Every layout the stub would reject, and every input the packer cannot use, is refused with a
// message and a non-zero status, and leaves the directory exactly as it was: no installer, no
// temporary file, an existing file at the output path untouched.
#include <string>
#include <vector>

#include "pack_fixture.h"
#include "pe_image.h"

namespace {

struct Refusal {
  const char* what;
  std::string extra;  // arguments after the usual ones
  const char* message;
  int status;
};

const std::string k244(238, 'X');  // "LUMORA" + 238 = 244 units: too long for any path

class PackRefusal : public PackFixture {
 protected:
  void ExpectRefused(const std::string& args, const char* message, int status) {
    WriteFileBytes(Path("out.exe"), {'o', 'l', 'd'});
    const std::vector<std::string> before = DirectoryEntries();
    const RunResult r = Pack(args);
    EXPECT_EQ(r.status, status) << args << "\n" << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << args << "\nstderr: " << r.err;
    EXPECT_EQ(DirectoryEntries(), before) << args;
    EXPECT_EQ(ReadFileBytes(Path("out.exe")), (std::vector<uint8_t>{'o', 'l', 'd'})) << args;
  }
};

TEST_F(PackRefusal, NamesAndLayoutsTheStubRejects) {
  WriteFileBytes(Path("empty"), {});
  const Refusal cases[] = {
      {"archive without prefix", "--archive-name APP.7Z", "must begin with \"lumora\"", 1},
      {"archive prefix not at start", "--archive-name XLUMORA.7Z", "must begin with \"lumora\"", 1},
      {"only part of the prefix", "--archive-name LUMOR.7Z", "must begin with \"lumora\"", 1},
      {"archive named as setup", "--archive-name SETUP.7Z", "must begin with \"lumora\"", 1},
      {"setup without prefix", "--setup-name INSTALL.EX_", "must begin with \"setup\"", 1},
      {"setup prefix not at start", "--setup-name MYSETUP.EX_", "must begin with \"setup\"", 1},
      {"setup named as archive", "--setup-name LUMORA.EXE", "must begin with \"setup\"", 1},
      {"archive name of 244 units", "--archive-name LUMORA" + k244, "at most 243", 1},
      {"setup name of 244 units", "--setup-name SETUP" + k244 + "X", "at most 243", 1},
      {"patch named setup.exe", "--setup-type B7 --setup-name Setup.Exe",
       "patch setup program (B7) cannot be named", 1},
      {"cabinet named setup.exe", "--setup-name setup.exe", "cannot be named \"setup.exe\"", 1},
      {"cabinet named SETUP.EXE", "--setup-type BL --setup-name SETUP.EXE",
       "cannot be named \"setup.exe\"", 1},
      {"empty archive", "--archive empty", "is empty", 1},
      {"empty setup program", "--setup empty", "is empty", 1},
      {"empty setup program as cabinet", "--setup empty --setup-type BL", "is empty", 1},
      {"unknown archive type", "--archive-type B8", "must be B7, BL or BN", 1},
      {"unknown setup type", "--setup-type bl", "must be B7, BL or BN", 1},
      {"path separator in a name", "--archive-name LUMORA/X.7Z", "may hold only ASCII", 1},
      {"colon in a name", "--setup-name SETUP:1", "may hold only ASCII", 1},
      {"non-ASCII name", "--archive-name LUMORA\xC3\xA9.7Z", "may hold only ASCII", 1},
      {"two dots in a name", "--archive-name LUMORA..7Z", "may hold only ASCII", 1},
      {"final dot", "--setup-type BN --setup-name SETUP.EXE.", "may hold only ASCII", 1},
      {"space in a name", "--archive-name 'LUMORA 7Z'", "may hold only ASCII", 1},
      {"version ending in a backslash", "--previous-version '1.2\\'", "backslash", 1},
      {"version too long for the command line", "--previous-version " + std::string(938, '1'),
       "at most 937", 1},
      {"quote in previous version", "--previous-version '1.0\"x'", "double quotes", 1},
      {"malformed UTF-8 version", "--previous-version \"$(printf '1.\\303')\"", "not valid UTF-8", 1},
      {"missing archive file", "--archive nothing.7z", "cannot open", 1},
      {"stub that is no PE image", "--stub app.7z", "not a PE image", 1},
      {"unknown option", "--archive-kind B7", "unknown option", 2},
      {"bad cabinet time", "--cabinet-time noon", "--cabinet-time takes seconds", 2},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectRefused(Args(c.extra), c.message, c.status);
  }
  ExpectRefused("pack --archive app.7z --setup setup.exe --output out.exe", "no stub given", 1);
}

TEST_F(PackRefusal, StubThatIsAlreadyPacked) {
  ASSERT_EQ(Pack(Args("", "packed.exe")).status, 0);
  ExpectRefused(Args("--stub packed.exe"), "already carries payload resources", 1);
}

TEST_F(PackRefusal, StubWithoutRoomForASectionHeader) {
  std::vector<uint8_t> stub = ReadFileBytes(LUMORA_STUB);
  const uint32_t nt = Load32(&stub[60]);
  const uint32_t table = nt + 24 + Load16(&stub[nt + 20]);
  const uint32_t end = table + Load16(&stub[nt + 6]) * 40;
  // Headers that end right after the section table, as a linker with no slack would make them.
  Store32(&stub[nt + 24 + 60], end);
  WriteFileBytes(Path("tight.exe"), stub);
  ExpectRefused(Args("--stub tight.exe"), "no room for one more section header", 1);
}

}  // namespace
