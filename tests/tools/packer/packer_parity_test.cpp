// The Windows build of the packer against the Linux build: for the same inputs and time, the same
// installer, byte for byte, and the same report from check. Runs where these tests are given the
// Windows build (windows_packer_test in the Windows tree, under Wine); the Linux build alone has
// nothing to compare with.
#include <cstdlib>
#include <string>
#include <vector>

#include "icon_fixture.h"
#include "pack_fixture.h"

namespace {

class PackerParity : public PackFixture {
 protected:
  void SetUp() override {
    if (!PackerIsWindowsBuild()) GTEST_SKIP() << "needs the Windows build (windows_packer_test)";
    PackFixture::SetUp();
  }
  // check's report without its first line, which names the file.
  std::string Report(const std::string& command, const std::string& file) {
    const std::string out = RunProgram(command + " check '" + Path(file) + "'").out;
    return out.substr(out.find('\n') + 1);
  }
};

TEST_F(PackerParity, WindowsBuildWritesTheLinuxBuildsBytes) {
  // The setup program's own time, for the layout that takes the cabinet's time from it.
  ASSERT_EQ(std::system(("touch -d '2021-06-01 12:34:56 UTC' '" + Path("setup.exe") + "'").c_str()), 0);
  WriteFileBytes(Path("app.ico"), IconFileBytes(ApplicationIcon()));
  const std::string common = "--stub " LUMORA_STUB " --archive app.7z --setup setup.exe ";
  struct Case {
    const char* what;
    std::string args;  // the output follows
  };
  std::vector<Case> cases = {
      {"shipped layout", common + "--cabinet-time 1700000000 --previous-version 1.2.3.4"},
      {"both in BN, lower-case names", common + "--cabinet-time 1700000000 --archive-type BN "
                                                "--setup-type BN --archive-name lumora-app.7z"},
      {"patch, non-ASCII version", common + "--cabinet-time 1700000000 --archive-type BL "
                                            "--setup-type B7 --previous-version '2.0 \xCE\xB2'"},
      {"application icon and version", common + "--cabinet-time 1700000000 --icon app.ico "
                                               "--product-name 'Contoso \xCE\xB2' --file-version "
                                               "2.5.0.17 --copyright '\xC2\xA9 Contoso'"},
      {"time from SOURCE_DATE_EPOCH", "env SOURCE_DATE_EPOCH=1600000000 " + common},
      {"time from the setup program's file", common},
      {"MSZIP cabinet", common + "--cabinet-time 1700000000 --cabinet-compression mszip"},
      {"stored cabinet", common + "--cabinet-time 1700000000 --cabinet-compression none"},
  };
  // The LZX encoder at every window, the default (21) above.
  for (int window = 15; window <= 20; ++window) {
    cases.push_back({"LZX window", common + "--cabinet-time 1700000000 --cabinet-compression lzx:" +
                                       std::to_string(window)});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + ": " + c.args);
    // "env X=1 packer ..." runs either build with the variable.
    const bool env = c.args.rfind("env ", 0) == 0;
    const std::string prefix = env ? c.args.substr(0, c.args.find(' ', 4) + 1) : "";
    const std::string args = "pack " + (env ? c.args.substr(prefix.size()) : c.args) + " --output ";
    const RunResult linux_build = RunProgram("cd '" + dir_ + "' && " + prefix + LUMORA_PACK + " " +
                                             args + "linux.exe");
    const RunResult windows_build = RunProgram("cd '" + dir_ + "' && " + prefix +
                                               PackerCommand() + " " + args + "windows.exe");
    ASSERT_EQ(linux_build.status, 0) << linux_build.err;
    ASSERT_EQ(windows_build.status, 0) << windows_build.err;
    const std::vector<uint8_t> expected = ReadFileBytes(Path("linux.exe"));
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(ReadFileBytes(Path("windows.exe")) == expected) << "the installers differ";
    EXPECT_EQ(Report(PackerCommand(), "windows.exe"), Report(LUMORA_PACK, "linux.exe"));
    // What pack prints after writing is the same report.
    EXPECT_EQ(windows_build.out.substr(windows_build.out.find('\n')),
              linux_build.out.substr(linux_build.out.find('\n')));
  }
}

// An update (pack --update-from): the previous installer decoded, the deltas and the LZMA stream
// made by each build alike.
TEST_F(PackerParity, WindowsBuildWritesTheLinuxBuildsUpdate) {
  const std::string tree =
      "mkdir -p v1/bin v2/bin v2/docs && printf '1.0.0.0' >v1/VERSION && printf '2.0.0.0' "
      ">v2/VERSION && cp setup.exe v1/bin/app.exe && cp setup.exe v2/bin/app.exe && "
      "printf 'changed' | dd of=v2/bin/app.exe bs=1 seek=700 conv=notrunc 2>/dev/null && "
      "printf 'added' >v2/docs/added.txt && printf 'removed' >v1/gone.txt";
  ASSERT_EQ(std::system(("cd '" + dir_ + "' && " + tree).c_str()), 0);
  const std::string common = "pack --stub " LUMORA_STUB " --setup setup.exe --cabinet-time "
                             "1700000000 --output ";
  ASSERT_EQ(RunProgram("cd '" + dir_ + "' && " LUMORA_PACK " " + common + "v1.exe --archive v1")
                .status,
            0);
  const std::string update = " --update-from v1.exe --archive v2";
  const RunResult linux_build =
      RunProgram("cd '" + dir_ + "' && " LUMORA_PACK " " + common + "linux.exe" + update);
  const RunResult windows_build =
      RunProgram("cd '" + dir_ + "' && " + PackerCommand() + " " + common + "windows.exe" + update);
  ASSERT_EQ(linux_build.status, 0) << linux_build.err;
  ASSERT_EQ(windows_build.status, 0) << windows_build.err;
  const std::vector<uint8_t> expected = ReadFileBytes(Path("linux.exe"));
  ASSERT_FALSE(expected.empty());
  EXPECT_TRUE(ReadFileBytes(Path("windows.exe")) == expected) << "the updates differ";
  EXPECT_EQ(Report(PackerCommand(), "windows.exe"), Report(LUMORA_PACK, "linux.exe"));
}

TEST_F(PackerParity, WindowsBuildArchivesTheLinuxBuildsBytes) {
  // A real program (the stub) for the branch filter, text, an empty file and folder, a name
  // beyond ASCII: what could differ between the builds' folder walks and their sort.
  ASSERT_EQ(std::system(("mkdir -p '" + Path("app/bin") + "' '" + Path("app/empty") + "' '" +
                         Path("app/\xC3\xA9t\xC3\xA9") + "'").c_str()), 0);
  WriteFileBytes(Path("app/bin/app.exe"), ReadFileBytes(LUMORA_STUB));
  WriteFileBytes(Path("app/Readme.TXT"), PatternBytes(5000, 3));
  WriteFileBytes(Path("app/\xC3\xA9t\xC3\xA9/b.txt"), PatternBytes(100, 4));
  WriteFileBytes(Path("app/zero"), {});
  for (const char* env : {"", "env SOURCE_DATE_EPOCH=1600000000 "}) {
    SCOPED_TRACE(env);
    const RunResult linux_build =
        RunProgram("cd '" + dir_ + "' && " + env + LUMORA_PACK + " archive -o linux.7z app");
    const RunResult windows_build = RunProgram("cd '" + dir_ + "' && " + env + PackerCommand() +
                                               " archive -o windows.7z app");
    ASSERT_EQ(linux_build.status, 0) << linux_build.err;
    ASSERT_EQ(windows_build.status, 0) << windows_build.err;
    const std::vector<uint8_t> expected = ReadFileBytes(Path("linux.7z"));
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(ReadFileBytes(Path("windows.7z")) == expected) << "the archives differ";
  }
}

}  // namespace
