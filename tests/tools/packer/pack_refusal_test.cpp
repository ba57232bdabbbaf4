// Every layout the stub would reject, and every input the packer cannot use, is refused with a
// message and a non-zero status, and leaves the directory exactly as it was: no installer, no
// temporary file, an existing file at the output path untouched.
#include <algorithm>
#include <string>
#include <vector>

#include <unistd.h>

#include "crafted_image.h"
#include "icon_fixture.h"
#include "pack_fixture.h"
#include "pe/pe_image.h"

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
  void ExpectRefused(const std::string& args, const char* message, int status,
                     const std::string& limits = "") {
    WriteFileBytes(Path("out.exe"), {'o', 'l', 'd'});
    const std::vector<std::string> before = DirectoryEntries();
    const RunResult r = Pack(args, limits);
    EXPECT_EQ(r.status, status) << args << "\n" << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << args << "\nstderr: " << r.err;
    EXPECT_EQ(DirectoryEntries(), before) << args;
    EXPECT_EQ(ReadFileBytes(Path("out.exe")), (std::vector<uint8_t>{'o', 'l', 'd'})) << args;
  }
};

TEST_F(PackRefusal, NamesAndLayoutsTheStubRejects) {
  WriteFileBytes(Path("empty"), {});
  std::vector<uint8_t> icon = IconFileBytes({{16, 32, false}});
  std::vector<uint8_t> cut = icon;
  icon[6] = 20;  // the directory says 20x16 of a 16x16 bitmap
  WriteFileBytes(Path("bad.ico"), icon);
  cut.resize(1000);  // a copy that stopped early
  WriteFileBytes(Path("cut.ico"), cut);
  // An archive of 5 GiB that takes no room: refused before a byte of it is read.
  WriteFileBytes(Path("huge.7z"), {'7', 'z'});
  ASSERT_EQ(truncate(Path("huge.7z").c_str(), int64_t{5} << 30), 0);
  // A real program's headers (the setup program must be one), then room it takes on no disk.
  WriteFileBytes(Path("huge-setup.exe"), setup_);
  ASSERT_EQ(truncate(Path("huge-setup.exe").c_str(), 0x7FFF8001), 0);
  const Refusal cases[] = {
      {"archive without prefix", "--archive-name APP.7Z", "must begin with \"lumora\"", 2},
      {"archive prefix not at start", "--archive-name XLUMORA.7Z", "must begin with \"lumora\"", 2},
      {"only part of the prefix", "--archive-name LUMOR.7Z", "must begin with \"lumora\"", 2},
      {"archive named as setup", "--archive-name SETUP.7Z", "must begin with \"lumora\"", 2},
      {"setup without prefix", "--setup-name INSTALL.EX_", "must begin with \"setup\"", 2},
      {"setup prefix not at start", "--setup-name MYSETUP.EX_", "must begin with \"setup\"", 2},
      {"setup named as archive", "--setup-name LUMORA.EXE", "must begin with \"setup\"", 2},
      {"archive name of 244 units", "--archive-name LUMORA" + k244, "at most 243", 2},
      {"setup name of 244 units", "--setup-name SETUP" + k244 + "X", "at most 243", 2},
      {"patch named setup.exe", "--setup-type B7 --setup-name Setup.Exe",
       "patch setup program (B7) cannot be named", 2},
      {"cabinet named setup.exe", "--setup-name setup.exe", "cannot be named \"setup.exe\"", 2},
      {"cabinet named SETUP.EXE", "--setup-type BL --setup-name SETUP.EXE",
       "cannot be named \"setup.exe\"", 2},
      {"empty archive", "--archive empty", "is empty", 1},
      {"empty setup program", "--setup empty", "is empty", 1},
      {"empty setup program as cabinet", "--setup empty --setup-type BL", "is empty", 1},
      {"unknown archive type", "--archive-type B8", "--archive-type takes B7, BL or BN", 2},
      {"unknown setup type", "--setup-type bl", "--setup-type takes B7, BL or BN", 2},
      {"path separator in a name", "--archive-name LUMORA/X.7Z", "may hold only ASCII", 2},
      {"colon in a name", "--setup-name SETUP:1", "may hold only ASCII", 2},
      {"non-ASCII name", "--archive-name LUMORA\xC3\xA9.7Z", "may hold only ASCII", 2},
      {"two dots in a name", "--archive-name LUMORA..7Z", "may hold only ASCII", 2},
      {"final dot", "--setup-type BN --setup-name SETUP.EXE.", "may hold only ASCII", 2},
      {"space in a name", "--archive-name 'LUMORA 7Z'", "may hold only ASCII", 2},
      {"version ending in a backslash", "--previous-version '1.2\\'", "backslash", 2},
      {"version too long for the command line", "--previous-version " + std::string(938, '1'),
       "at most 937", 2},
      {"quote in previous version", "--previous-version '1.0\"x'", "double quotes", 2},
      {"missing archive file", "--archive nothing.7z",
       "cannot open the archive nothing.7z: ", 1},
      {"stub that is no PE image", "--stub app.7z", "not a PE image", 1},
      {"malformed icon", "--icon bad.ico", "the icon bad.ico has image 1 of 1 (20x16) that is a bitmap of 16x16", 1},
      {"icon that is no icon", "--icon app.7z", "is not an icon file", 1},
      {"missing icon", "--icon nothing.ico", "cannot open the icon nothing.ico", 1},
      {"icon cut short", "--icon cut.ico",
       "the icon cut.ico is cut short: its image 1 of 1 (16x16) needs 1150 bytes, but the file has "
       "1000; copy or export the icon again",
       1},
      {"archive too large for a Windows program", "--archive huge.7z",
       "the installer would be 5.0 GiB (the archive huge.7z 5.0 GiB, the setup program setup.exe "
       "68.4 KiB), but a Windows program cannot be larger than 4 GiB; make the archive smaller",
       1},
      {"setup program too large for a cabinet", "--setup huge-setup.exe",
       "the setup program huge-setup.exe is 2.0 GiB, more than a cabinet holds (2147450880 bytes); "
       "store it as it is with --setup-type BN",
       1},
      {"file version of three numbers", "--file-version 1.2.3", "--file-version takes four numbers", 2},
      {"product version beyond 16 bits", "--product-version 1.2.3.65536", "--product-version takes four numbers", 2},
      {"control character in a version text", "--company-name \"$(printf 'a\\tb')\"", "control characters", 2},
      {"empty version text", "--product-name ''", "needs a value that is not empty", 2},
      {"unknown option", "--archive-kind B7", "unknown option", 2},
      {"bad cabinet time", "--cabinet-time noon", "--cabinet-time takes seconds", 2},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectRefused(Args(c.extra), c.message, c.status);
  }
  ExpectRefused("pack --stub " LUMORA_STUB " --setup setup.exe --output out.exe",
                "pack is missing --archive", 2);
  // A Windows command line is UTF-16: it cannot carry malformed UTF-8.
  if (!PackerIsWindowsBuild()) {
    ExpectRefused(Args("--previous-version \"$(printf '1.\\303')\""), "not valid UTF-8", 2);
  }
}

TEST_F(PackRefusal, StubThatIsAlreadyPacked) {
  ASSERT_EQ(Pack(Args("", "packed.exe")).status, 0);
  ExpectRefused(Args("--stub packed.exe"), "already carries payload resources", 1);
}

TEST_F(PackRefusal, StubsThatCannotBeLaidOutOnPages) {
  const std::vector<uint8_t> bare = ReadFileBytes(LUMORA_STUB);
  std::vector<uint8_t> short_debug = WithDebugEntry(bare, false);
  const SectionFields rdata = FindSection(short_debug, ".rdata");
  SetDataDirectory(short_debug, 6, rdata.virtual_address + rdata.virtual_size - 64, 27);
  struct Case {
    const char* what;
    std::vector<uint8_t> stub;
    const char* message;
  };
  const Case cases[] = {
      // The headers grow to a page; a section table that already ends there has no room left.
      {"section table at the end of the first page", WithSectionTableAtThePageEnd(bare),
       "no room for one more section header"},
      // Left out with the overlay, the data would leave the entry pointing at payload bytes.
      {"debug data after the sections", WithDebugEntry(bare, true), "debug data lies outside"},
      {"debug directory of 27 bytes", short_debug, "not a table of entries"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(Path("odd-stub.exe"), c.stub);
    ExpectRefused(Args("--stub odd-stub.exe"), c.message, 1);
  }
}

TEST_F(PackRefusal, StubsThatAreNotTheBareStub) {
  const std::vector<uint8_t> bare = ReadFileBytes(LUMORA_STUB);
  std::vector<uint8_t> other_import = bare, no_flags = bare, dll = bare;
  const std::string kernel32("KERNEL32.dll\0", 13);
  const auto name = std::search(other_import.begin(), other_import.end(), kernel32.begin(), kernel32.end());
  ASSERT_NE(name, other_import.end());
  std::copy_n("MSVCRT.dll\0\0", 13, name);
  const uint32_t optional = Load32(&bare[60]) + 24;
  const uint32_t load_configuration = FileOffsetOf(bare, Load32(&bare[optional + 112 + 8 * 10]));
  ASSERT_NE(load_configuration, 0u);
  Store16(&no_flags[load_configuration + 0x4E], 0);
  Store16(&dll[optional - 2], Load16(&dll[optional - 2]) | 0x2000);
  struct Case {
    const char* what;
    std::vector<uint8_t> image;
    const char* message;
  };
  const Case cases[] = {
      {"the sample setup program", ReadFileBytes(LUMORA_SAMPLE_SETUP), "subsystem 3 (console)"},
      {"an x86 image", ReadFileBytes(LUMORA_FOREIGN_DIR "/x86.exe"), "built for x86 (PE32)"},
      {"an ARM64 image", ReadFileBytes(LUMORA_FOREIGN_DIR "/arm64.exe"), "built for ARM64"},
      {"an x64 GUI program of another build", ReadFileBytes(LUMORA_FOREIGN_DIR "/x64.exe"),
       "imports nothing from kernel32.dll"},
      {"the stub importing from the C runtime", other_import, "imports from msvcrt.dll"},
      {"the stub without its DLL search flags", no_flags, "DependentLoadFlags 0x800"},
      {"the stub marked as a DLL", dll, "is a DLL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_GT(c.image.size(), 512u);
    WriteFileBytes(Path("not-the-stub.exe"), c.image);
    ExpectRefused(Args("--stub not-the-stub.exe"), "not-the-stub.exe is not the bare stub", 1);
    ExpectRefused(Args("--stub not-the-stub.exe"), c.message, 1);
  }
}

TEST_F(PackRefusal, OutputThatIsAnInput) {
  // The same file by another spelling or through a hard link is the same file all the same.
  ASSERT_EQ(link(Path("app.7z").c_str(), Path("hard-link.7z").c_str()), 0);
  WriteFileBytes(Path("stub.exe"), ReadFileBytes(LUMORA_STUB));
  const std::vector<uint8_t> stub = ReadFileBytes(Path("stub.exe"));
  const std::vector<uint8_t> icon = IconFileBytes(ApplicationIcon());
  WriteFileBytes(Path("app.ico"), icon);
  struct Case {
    const char* what;
    std::string args;
    const char* word;
  };
  const std::string common = "--cabinet-time 1700000000 ";
  const Case cases[] = {
      {"archive", "--stub stub.exe --archive app.7z --setup setup.exe --output app.7z", "archive"},
      {"archive by another spelling", "--stub stub.exe --archive app.7z --setup setup.exe --output ./app.7z",
       "archive"},
      {"archive through a hard link", "--stub stub.exe --archive app.7z --setup setup.exe --output hard-link.7z",
       "archive"},
      {"setup program", "--stub stub.exe --archive app.7z --setup setup.exe --output setup.exe",
       "setup program"},
      {"stub", "--stub stub.exe --archive app.7z --setup setup.exe --output stub.exe", "stub"},
      {"icon", "--stub stub.exe --archive app.7z --setup setup.exe --icon app.ico --output app.ico",
       "icon"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::string> before = DirectoryEntries();
    const RunResult r = Pack("pack " + common + c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(std::string("is the ") + c.word), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("packing would replace it"), std::string::npos) << r.err;
    EXPECT_EQ(DirectoryEntries(), before);
    EXPECT_EQ(ReadFileBytes(Path("app.7z")), archive_);
    EXPECT_EQ(ReadFileBytes(Path("setup.exe")), setup_);
    EXPECT_EQ(ReadFileBytes(Path("stub.exe")), stub);
    EXPECT_EQ(ReadFileBytes(Path("app.ico")), icon);
  }
}

TEST_F(PackRefusal, SignedStub) {
  std::vector<uint8_t> stub = ReadFileBytes(LUMORA_STUB);
  const uint32_t end = static_cast<uint32_t>(stub.size());
  stub.resize(end + 1000, 0x5A);
  SetDataDirectory(stub, 4, end, 1000);
  WriteFileBytes(Path("signed-stub.exe"), stub);
  ExpectRefused(Args("--stub signed-stub.exe"), "sign the installer after packing", 1);
}

TEST_F(PackRefusal, StubResourcesThatClaimMoreThanTheFile) {
  // Packing copies the stub's own resources; within a memory limit far below 4 GiB, a copy
  // made before the size was checked against the file would fail.
  const std::vector<uint8_t> bare = ReadFileBytes(LUMORA_STUB);
  const uint32_t rva = NextSectionRva(bare);
  auto stub_with = [&](uint32_t copies, uint32_t size, uint32_t data_size) {
    DirectoryBytes d;
    const uint32_t root = d.Table(0, 1), names = d.Table(0, copies);
    d.Entry(root, 0, 10, kHigh | names);
    const uint32_t data = d.Data(std::vector<uint8_t>(data_size, 0x11));
    for (uint32_t i = 0; i < copies; ++i) {
      const uint32_t languages = d.Table(0, 1);
      d.Entry(languages, 0, 1033, d.DataEntry(rva + data, size));
      d.Entry(names, i, 100 + i, kHigh | languages);
    }
    return WithResourceDirectory(bare, d.bytes);
  };
  WriteFileBytes(Path("huge.exe"), stub_with(1, 0xFFFFFFFF, 16));
  WriteFileBytes(Path("shared.exe"), stub_with(1000, 64 * 1024, 64 * 1024));
  struct Case {
    const char* stub;
    const char* message;
  };
  for (const Case& c : {Case{"huge.exe", "lies outside the file"},
                        Case{"shared.exe", "claim more bytes than the file holds"}}) {
    SCOPED_TRACE(c.stub);
    ExpectRefused(Args(std::string("--stub ") + c.stub), c.message, 1, MemoryLimit(1024));
  }
}

TEST_F(PackRefusal, ReadBackFailureLeavesTheOutputAlone) {
  // A stub carrying its own previous version, too long for the setup command line: the planned
  // layout has no version and passes, the written installer reads back with it and fails. The
  // file that was at the output path before must still be there, unchanged.
  const std::vector<uint8_t> bare = ReadFileBytes(LUMORA_STUB);
  std::vector<uint8_t> text;
  for (int i = 0; i < 1100; ++i) text.insert(text.end(), {'1', 0});
  text.insert(text.end(), {0, 0});
  DirectoryBytes d;
  const uint32_t root = d.Table(0, 1), names = d.Table(0, 1), languages = d.Table(0, 1);
  d.Entry(root, 0, 10, kHigh | names);
  d.Entry(names, 0, 1, kHigh | languages);
  const uint32_t entry = d.DataEntry(0, static_cast<uint32_t>(text.size()));
  d.Entry(languages, 0, 1033, entry);
  Store32(&d.bytes[entry], NextSectionRva(bare) + d.Data(text));
  WriteFileBytes(Path("versioned.exe"), WithResourceDirectory(bare, d.bytes));
  ExpectRefused(Args("--stub versioned.exe"), "reads back wrong", 1);
}

}  // namespace
