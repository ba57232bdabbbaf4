// The sample setup program installs for real when asked: it extracts the 7z archive it is given
// into ROOT\<version>\, copies itself there as setup.exe and records "UninstallString" in the
// client-state key of the channel and scope that its command line names. Asked for nothing, it
// leaves the archive unopened, as the launch tests that hand it text files rely on. Installers
// packed from the same archives install and update through it under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/client_state_key.h"
#include "seven_zip_craft.h"

namespace {

namespace fs = std::filesystem;

constexpr const wchar_t* kStable = kDefaultAppId;
constexpr const wchar_t* kBeta = kBetaAppId;

std::wstring Fixture(const wchar_t* name) { return std::wstring(LUMORA_FIXTURES) + L"\\" + name; }

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(fs::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void EraseKey(HKEY root, const wchar_t* app_id) {
  RegDeleteKeyExW(root, (std::wstring(kClientStateKeyPrefix) + app_id).c_str(), KEY_WOW64_32KEY, 0);
}

// The value in the 32-bit view, "(absent)" when there is none.
std::wstring Uninstall(HKEY root, const wchar_t* app_id) {
  wchar_t buffer[600] = {};
  DWORD bytes = sizeof(buffer) - 2;
  DWORD type = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, (std::wstring(kClientStateKeyPrefix) + app_id).c_str(), 0,
                    KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
    return L"(absent)";
  }
  const LSTATUS status = RegQueryValueExW(key, kUninstallStringValue, nullptr, &type,
                                          reinterpret_cast<BYTE*>(buffer), &bytes);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return L"(absent)";
  return type == REG_SZ ? std::wstring(buffer) : L"(not a string)";
}

std::vector<std::wstring> ListTree(const std::wstring& dir) {
  std::vector<std::wstring> names;
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(dir), ignored)) {
    names.push_back(fs::relative(entry.path(), fs::path(dir)).wstring());
  }
  std::sort(names.begin(), names.end());
  return names;
}

uint32_t RunProgram(const std::wstring& program, const std::wstring& arguments,
             const std::wstring& current_directory = L"") {
  std::wstring command = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                      current_directory.empty() ? nullptr : current_directory.c_str(), &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start: " << GetLastError();
    return 0xFFFFFFFFu;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0xFFFFFFFFu;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  return code;
}

class SampleInstall : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    scratch_ = std::wstring(temp) + L"lumora-sample-install-" + std::to_wstring(GetCurrentProcessId());
    fs::remove_all(fs::path(scratch_));
    fs::create_directories(fs::path(scratch_));
    root_ = scratch_ + L"\\root";
    EraseAll();
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", nullptr);
    EraseAll();
    std::error_code ignored;
    fs::remove_all(fs::path(scratch_), ignored);
  }
  static void EraseAll() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      EraseKey(root, kStable);
      EraseKey(root, kBeta);
    }
  }
  std::wstring scratch_;
  std::wstring root_;
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
    const uint32_t code = RunProgram(LUMORA_SAMPLE_SETUP, L"--install-archive=\"" +
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

TEST_F(SampleInstall, RefusalsInstallNothing) {
  // A device name: "NUL.readme" would be written into the null device, and the installation
  // would have looked complete.
  std::string device = craft::ReadAll(Fixture(L"stored.7z"));
  ASSERT_TRUE(craft::Rename(device, u"README.txt", u"NUL.readme"));
  craft::WriteAll(scratch_ + L"\\device-name.7z", device);
  // Damaged data in the last file: the files before it were written whole, and must go again.
  std::string damaged = craft::ReadAll(Fixture(L"stored.7z"));
  const std::string launcher = craft::ReadAll(Fixture(L"app-3.1.4.1\\bin\\lumora-launch.exe"));
  const size_t at = damaged.find(launcher.substr(0, 4096));
  ASSERT_NE(at, std::string::npos);
  damaged[at + launcher.size() - 1] ^= 1;
  craft::WriteAll(scratch_ + L"\\damaged-data.7z", damaged);
  const struct {
    std::wstring archive;
    uint32_t code;
  } cases[] = {
      {Fixture(L"not-an-archive.txt"), 20},
      {Fixture(L"compressed.7z"), 20},
      {Fixture(L"encoded-header.7z"), 20},
      {Fixture(L"no-version.7z"), 22},
      {Fixture(L"missing.7z"), 21},
      {scratch_ + L"\\device-name.7z", 21},
      {scratch_ + L"\\damaged-data.7z", 21},
  };
  SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", root_.c_str());
  for (const auto& c : cases) {
    SCOPED_TRACE(fs::path(c.archive).string());
    EXPECT_EQ(RunProgram(LUMORA_SAMPLE_SETUP, L"--install-archive=\"" + c.archive + L"\""), c.code);
    EXPECT_TRUE(ListTree(root_).empty());
    EXPECT_EQ(Uninstall(HKEY_CURRENT_USER, kStable), L"(absent)");
  }
}

// A damaged archive of the version already installed must not cost the installation a file.
TEST_F(SampleInstall, DamagedReinstallKeepsTheInstalledFiles) {
  std::string damaged = craft::ReadAll(Fixture(L"stored.7z"));
  const std::string launcher = craft::ReadAll(Fixture(L"app-3.1.4.1\\bin\\lumora-launch.exe"));
  const size_t at = damaged.find(launcher.substr(0, 4096));
  ASSERT_NE(at, std::string::npos);
  damaged[at + launcher.size() - 1] ^= 1;
  craft::WriteAll(scratch_ + L"\\damaged-data.7z", damaged);
  SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", root_.c_str());
  ASSERT_EQ(RunProgram(LUMORA_SAMPLE_SETUP, L"--install-archive=\"" + Fixture(L"stored.7z") + L"\""), 0u);
  const std::vector<std::wstring> installed = ListTree(root_);

  EXPECT_EQ(RunProgram(LUMORA_SAMPLE_SETUP,
                       L"--install-archive=\"" + scratch_ + L"\\damaged-data.7z\""),
            21u);
  EXPECT_EQ(ListTree(root_), installed);
  EXPECT_EQ(ReadAll(root_ + L"\\3.1.4.1\\bin\\lumora-launch.exe"), launcher);
}

TEST_F(SampleInstall, UnaskedLeavesTheArchiveAlone) {
  // The variable is not set and --sample-install not given: a text file is fine, as before.
  EXPECT_EQ(RunProgram(LUMORA_SAMPLE_SETUP, L"--uncompressed-archive=\"" + Fixture(L"not-an-archive.txt") +
                                         L"\" --test-exit-code=5"),
            5u);
  EXPECT_EQ(RunProgram(LUMORA_SAMPLE_SETUP, L"--install-archive=\"" + Fixture(L"stored.7z") + L"\""), 0u);
  EXPECT_EQ(Uninstall(HKEY_CURRENT_USER, kStable), L"(absent)");
}

#ifdef LUMORA_PACKED_INSTALLERS
// What the demo shows: an installer packed by lumora-pack with a real 7z archive installs through
// the sample setup program; a second one, whose setup program is a patch, updates through the
// installed setup program.
TEST_F(SampleInstall, PackedInstallersInstallAndUpdate) {
  SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", root_.c_str());
  const std::wstring run = scratch_ + L"\\run";
  fs::create_directories(fs::path(run));
  for (const wchar_t* image : {L"install.exe", L"update.exe"}) {
    ASSERT_TRUE(CopyFileW(Fixture(image).c_str(), (run + L"\\" + image).c_str(), FALSE));
  }

  EXPECT_EQ(RunProgram(run + L"\\install.exe", L"", run), 0u);
  EXPECT_EQ(Uninstall(HKEY_CURRENT_USER, kStable), L"\"" + root_ + L"\\3.1.4.1\\setup.exe\"");
  EXPECT_EQ(ReadAll(root_ + L"\\3.1.4.1\\VERSION"), "3.1.4.1\r\n");
  EXPECT_EQ(ReadAll(root_ + L"\\3.1.4.1\\setup.exe"), ReadAll(LUMORA_SAMPLE_SETUP))
      << "the setup program came out of its cabinet whole";

  EXPECT_EQ(RunProgram(run + L"\\update.exe", L"", run), 0u);
  EXPECT_EQ(Uninstall(HKEY_CURRENT_USER, kStable), L"\"" + root_ + L"\\3.1.4.2\\setup.exe\"");
  EXPECT_EQ(ReadAll(root_ + L"\\3.1.4.2\\VERSION"), "3.1.4.2\r\n");
  EXPECT_EQ(ReadAll(root_ + L"\\3.1.4.2\\setup.exe"), ReadAll(LUMORA_SAMPLE_SETUP))
      << "rebuilt by the installed setup program, then installed";
  const std::vector<std::wstring> left = {L"install.exe", L"update.exe"};
  EXPECT_EQ(ListTree(run), left) << "both work directories are gone";
}
#endif

}  // namespace
