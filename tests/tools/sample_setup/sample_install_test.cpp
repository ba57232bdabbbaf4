// The sample setup program installs for real when asked: it extracts the 7z archive it is given
// into ROOT\<version>\, copies itself there as setup.exe and records "UninstallString" in the
// client-state key of the channel and scope that its command line names. Asked for nothing, it
// leaves the archive unopened, as the launch tests that hand it text files rely on. Installers
// packed from the same archives install and update through it under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/client_state_key.h"
#include "seven_zip_craft.h"
#include "support/child_process.h"
#include "support/client_state_scratch.h"
#include "support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

constexpr const wchar_t* kStable = kDefaultAppId;
constexpr const wchar_t* kBeta = kBetaAppId;

std::wstring Fixture(const wchar_t* name) { return std::wstring(LUMORA_FIXTURES) + L"\\" + name; }

using craft::ReadAll;

class SampleInstall : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.Ok());
    root_ = scratch_ / L"root";
  }
  void TearDown() override { SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", nullptr); }
  void EraseAll() const {
    for (const scratch::ClientStateKey* key : {&user_stable_, &user_beta_, &machine_stable_,
                                               &machine_beta_}) {
      key->Remove();
    }
  }
  // The "UninstallString" that the channel's key holds in the hive; "(absent)" when none.
  std::wstring Uninstall(HKEY hive, const wchar_t* app_id) const {
    const bool machine = hive == HKEY_LOCAL_MACHINE;
    const bool beta = app_id == kBeta;
    const scratch::ClientStateKey& key =
        machine ? (beta ? machine_beta_ : machine_stable_) : (beta ? user_beta_ : user_stable_);
    return key.Text(kUninstallStringValue);
  }

  // damaged-data.7z: the stored archive with one byte of its last file, the launcher, flipped.
  void WriteDamagedArchive() const {
    std::string damaged = ReadAll(Fixture(L"stored.7z"));
    const std::string launcher =
        ReadAll(Fixture(L"app-3.1.4.1\\bin\\lumora-launch.exe"));
    ASSERT_TRUE(craft::DamageLastByteOf(damaged, launcher));
    craft::WriteAll(scratch_ / L"damaged-data.7z", damaged);
  }

  ScratchDirectory scratch_;
  std::wstring root_;
  scratch::ClientStateKey user_stable_{false, kStable};
  scratch::ClientStateKey user_beta_{false, kBeta};
  scratch::ClientStateKey machine_stable_{true, kStable};
  scratch::ClientStateKey machine_beta_{true, kBeta};
};

TEST_F(SampleInstall, InstallsIntoTheVersionDirectoryAndRegisters) {
  const struct {
    const char* name;
    const wchar_t* arguments;
    bool by_switch;  // --sample-install with the root from the variable, else the variable alone
    HKEY hive;
    const wchar_t* app_id;
  } cases[] = {
      {"variable", L"", false, HKEY_CURRENT_USER, kStable},
      {"switch", L"--SAMPLE-INSTALL", true, HKEY_CURRENT_USER, kStable},
      {"beta channel, last switch wins", L"--lumora-dev --lumora-beta", false, HKEY_CURRENT_USER, kBeta},
      {"system level", L"--system-level", false, HKEY_LOCAL_MACHINE, kStable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(fs::path(root_));
    EraseAll();
    SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", root_.c_str());
    const uint32_t code = RunChild(LUMORA_SAMPLE_SETUP, L"--install-archive=\"" +
                                                       Fixture(L"stored.7z") + L"\" " + c.arguments);
    EXPECT_EQ(code, 0u);
    const std::wstring installed = root_ + L"\\3.1.4.1";
    const std::vector<std::wstring> expected = {
        L"README.txt", L"VERSION", L"bin", L"bin\\lumora-launch.exe", L"docs", L"docs\\empty",
        L"empty.txt", L"setup.exe"};
    EXPECT_EQ(ListTree(installed), expected);
    EXPECT_EQ(ReadAll(installed + L"\\setup.exe"), ReadAll(LUMORA_SAMPLE_SETUP));
    EXPECT_EQ(ReadAll(installed + L"\\bin\\lumora-launch.exe"),
              ReadAll(Fixture(L"app-3.1.4.1\\bin\\lumora-launch.exe")));
    EXPECT_EQ(Uninstall(c.hive, c.app_id), L"\"" + installed + L"\\setup.exe\"");
    const HKEY other_hive = c.hive == HKEY_CURRENT_USER ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    EXPECT_EQ(Uninstall(other_hive, c.app_id), L"(absent)");
  }
}

// Every method and filter the setup program decodes, as 7-Zip writes them: the installed tree is
// the application's, byte for byte.
TEST_F(SampleInstall, InstallsWhat7ZipWrites) {
  const wchar_t* const archives[] = {
      L"compressed.7z",                      // -mx5: LZMA2 and the x86 filter, solid
      L"encoded-header.7z",                  // stored, with 7-Zip's compressed header
      L"methods\\default.7z",               // 7-Zip's defaults
      L"methods\\mx9.7z",                   // LZMA2 and BCJ2's four streams
      L"methods\\lzma.7z",                  // LZMA, header not compressed
      L"methods\\lzma-small-dictionary.7z", // a dictionary smaller than the files
      L"methods\\lzma2-small-dictionary.7z",
      L"methods\\bcj-not-solid.7z",         // a folder for each file
      L"methods\\bcj2.7z",
      L"methods\\arm64.7z",
  };
  const std::string launcher = ReadAll(Fixture(L"app-3.1.4.1\\bin\\lumora-launch.exe"));
  SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", root_.c_str());
  for (const wchar_t* archive : archives) {
    SCOPED_TRACE(fs::path(archive).string());
    fs::remove_all(fs::path(root_));
    EraseAll();
    EXPECT_EQ(RunChild(LUMORA_SAMPLE_SETUP, L"--install-archive=\"" + Fixture(archive) + L"\""), 0u);
    const std::wstring installed = root_ + L"\\3.1.4.1";
    std::vector<std::wstring> expected = {
        L"README.txt", L"VERSION", L"bin", L"bin\\lumora-launch.exe", L"docs", L"docs\\empty",
        L"empty.txt", L"setup.exe"};
    if (std::wstring(archive).find(L"methods") == 0) {
      expected.insert(expected.begin() + 2, L"arm64-code.bin");
      EXPECT_EQ(ReadAll(installed + L"\\arm64-code.bin"), ReadAll(LUMORA_ARM64_CODE));
    }
    EXPECT_EQ(ListTree(installed), expected);
    EXPECT_EQ(ReadAll(installed + L"\\bin\\lumora-launch.exe"), launcher);
    EXPECT_EQ(ReadAll(installed + L"\\README.txt"), "Sample application 3.1.4.1\n");
    EXPECT_EQ(ReadAll(installed + L"\\empty.txt"), "");
    EXPECT_EQ(Uninstall(HKEY_CURRENT_USER, kStable), L"\"" + installed + L"\\setup.exe\"");
  }
}

TEST_F(SampleInstall, RefusalsInstallNothing) {
  // A device name: "NUL.readme" would be written into the null device, and the installation
  // would have looked complete.
  std::string device = ReadAll(Fixture(L"stored.7z"));
  ASSERT_TRUE(craft::Rename(device, u"README.txt", u"NUL.readme"));
  craft::WriteAll(scratch_ / L"device-name.7z", device);
  // Damaged data in the last file: the files before it were written whole, and must go again.
  ASSERT_NO_FATAL_FAILURE(WriteDamagedArchive());
  const struct {
    std::wstring archive;
    uint32_t code;
  } cases[] = {
      {Fixture(L"not-an-archive.txt"), 20},
      {Fixture(L"methods\\ppmd.7z"), 25},
      {Fixture(L"methods\\bzip2.7z"), 25},
      {Fixture(L"methods\\deflate.7z"), 25},
      {Fixture(L"methods\\encrypted.7z"), 25},
      {Fixture(L"methods\\encrypted-header.7z"), 25},
      {Fixture(L"no-version.7z"), 22},
      {Fixture(L"missing.7z"), 21},
      {scratch_ / L"device-name.7z", 21},
      {scratch_ / L"damaged-data.7z", 21},
  };
  SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", root_.c_str());
  for (const auto& c : cases) {
    SCOPED_TRACE(fs::path(c.archive).string());
    EXPECT_EQ(RunChild(LUMORA_SAMPLE_SETUP, L"--install-archive=\"" + c.archive + L"\""), c.code);
    EXPECT_TRUE(ListTree(root_).empty()) << "not even the staging folder is left";
    EXPECT_EQ(Uninstall(HKEY_CURRENT_USER, kStable), L"(absent)");
  }
}

// Folders several levels deep, made as the files need them in whatever order the archive lists
// them, and the read-only attribute that 7-Zip records.
TEST_F(SampleInstall, MakesEveryFolderAndKeepsReadOnly) {
  SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", root_.c_str());
  for (const wchar_t* archive : {L"nested.7z", L"nested-solid.7z"}) {
    SCOPED_TRACE(fs::path(archive).string());
    fs::remove_all(fs::path(root_));
    EraseAll();
    ASSERT_EQ(RunChild(LUMORA_SAMPLE_SETUP, L"--install-archive=\"" + Fixture(archive) + L"\""),
              0u);
    const std::wstring installed = root_ + L"\\5.0.0.1";
    const std::vector<std::wstring> expected = {
        L"VERSION", L"deep", L"deep\\a", L"deep\\a\\b", L"deep\\a\\b2", L"deep\\a\\b2\\four.txt",
        L"deep\\a\\b\\c", L"deep\\a\\b\\c\\five.txt", L"deep\\a\\b\\c\\one.txt",
        L"deep\\a\\b\\three.txt", L"deep\\a\\two.txt", L"deep\\z", L"deep\\z\\six.txt",
        L"read-only.txt", L"setup.exe"};
    EXPECT_EQ(ListTree(installed), expected);
    for (const char* name : {"deep/a/b/c/one.txt", "deep/a/b2/four.txt", "deep/z/six.txt",
                             "read-only.txt"}) {
      std::wstring path = installed + L"\\" + std::wstring(name, name + std::strlen(name));
      std::replace(path.begin(), path.end(), L'/', L'\\');
      EXPECT_EQ(ReadAll(path), std::string(name) + "\n");
      const DWORD attributes = GetFileAttributesW(path.c_str());
      const bool read_only = std::strcmp(name, "read-only.txt") == 0;
      EXPECT_EQ((attributes & FILE_ATTRIBUTE_READONLY) != 0, read_only) << name;
    }
    SetFileAttributesW((installed + L"\\read-only.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

// A damaged archive of the version already installed must not cost the installation a file.
TEST_F(SampleInstall, DamagedReinstallKeepsTheInstalledFiles) {
  ASSERT_NO_FATAL_FAILURE(WriteDamagedArchive());
  const std::string launcher = ReadAll(Fixture(L"app-3.1.4.1\\bin\\lumora-launch.exe"));
  SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", root_.c_str());
  ASSERT_EQ(RunChild(LUMORA_SAMPLE_SETUP, L"--install-archive=\"" + Fixture(L"stored.7z") + L"\""), 0u);
  const std::vector<std::wstring> installed = ListTree(root_);

  EXPECT_EQ(RunChild(LUMORA_SAMPLE_SETUP,
                       L"--install-archive=\"" + scratch_ / L"damaged-data.7z\""),
            21u);
  EXPECT_EQ(ListTree(root_), installed);
  EXPECT_EQ(ReadAll(root_ + L"\\3.1.4.1\\bin\\lumora-launch.exe"), launcher);
}

// The install invocation installs without any switch; only the installer's tests skip it.
TEST_F(SampleInstall, InstallsUnlessTestsSkipIt) {
  const std::wstring text = L"--uncompressed-archive=\"" + Fixture(L"not-an-archive.txt") + L"\"";
  EXPECT_EQ(RunChild(LUMORA_SAMPLE_SETUP, text + L" --test-exit-code=5"), 20u)
      << "no switch: the text file is read as the archive, and refused";
  SetEnvironmentVariableW(L"LUMORA_SETUP_TEST_SKIP_INSTALL", L"1");
  EXPECT_EQ(RunChild(LUMORA_SAMPLE_SETUP, text + L" --test-exit-code=5"), 5u);
  EXPECT_EQ(RunChild(LUMORA_SAMPLE_SETUP, L"--install-archive=\"" + Fixture(L"stored.7z") + L"\""), 0u);
  SetEnvironmentVariableW(L"LUMORA_SETUP_TEST_SKIP_INSTALL", nullptr);
  EXPECT_EQ(Uninstall(HKEY_CURRENT_USER, kStable), L"(absent)");
}

#ifdef LUMORA_PACKED_INSTALLERS
// What the demo shows: an installer packed by lumora-pack with a real 7z archive installs through
// the sample setup program; a second one, whose setup program is a patch, updates through the
// installed setup program.
TEST_F(SampleInstall, PackedInstallersInstallAndUpdate) {
  SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", root_.c_str());
  const std::wstring run = scratch_ / L"run";
  fs::create_directories(fs::path(run));
  for (const wchar_t* image : {L"install.exe", L"update.exe"}) {
    ASSERT_TRUE(CopyFileW(Fixture(image).c_str(), (run + L"\\" + image).c_str(), FALSE));
  }

  EXPECT_EQ(RunChild(run + L"\\install.exe", L"", nullptr, run), 0u);
  EXPECT_EQ(Uninstall(HKEY_CURRENT_USER, kStable), L"\"" + root_ + L"\\3.1.4.1\\setup.exe\"");
  EXPECT_EQ(ReadAll(root_ + L"\\3.1.4.1\\VERSION"), "3.1.4.1\r\n");
  EXPECT_EQ(ReadAll(root_ + L"\\3.1.4.1\\setup.exe"), ReadAll(LUMORA_SAMPLE_SETUP))
      << "the setup program came out of its cabinet whole";

  EXPECT_EQ(RunChild(run + L"\\update.exe", L"", nullptr, run), 0u);
  EXPECT_EQ(Uninstall(HKEY_CURRENT_USER, kStable), L"\"" + root_ + L"\\3.1.4.2\\setup.exe\"");
  EXPECT_EQ(ReadAll(root_ + L"\\3.1.4.2\\VERSION"), "3.1.4.2\r\n");
  EXPECT_EQ(ReadAll(root_ + L"\\3.1.4.2\\setup.exe"), ReadAll(LUMORA_SAMPLE_SETUP))
      << "rebuilt by the installed setup program, then installed";
  const std::vector<std::wstring> left = {L"install.exe", L"update.exe"};
  EXPECT_EQ(ListTree(run), left) << "both work directories are gone";
}
#endif

}  // namespace
