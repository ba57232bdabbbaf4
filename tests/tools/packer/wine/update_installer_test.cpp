// Update installers made by lumora-pack pack --update-from, run under Wine as a user would: the
// first release installed by its full installer, then the update, leaves the second release's
// folder byte for byte beside the first; an installation that is not the update's base (a byte of
// a patched file changed, an unchanged file grown, a patched file missing, another setup program)
// ends with the setup program's code 26, nothing of the second release left and the first
// untouched. On every case the host packer's check --against the same full installer (made at
// build time, CMakeLists.txt) must have said the same.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "base/client_state_key.h"
#include "lumora/setup_exit_codes.h"
#include "support/child_process.h"
#include "support/client_state_scratch.h"
#include "support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(fs::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::wstring Fixture(const std::wstring& name) {
  return std::wstring(LUMORA_UPDATE_DIR) + L"\\" + name;
}

// Files by name with their bytes, and folders (empty ones included) by name ending in '\\'.
std::map<std::wstring, std::string> FilesIn(const std::wstring& folder) {
  std::map<std::wstring, std::string> files;
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(folder), ignored)) {
    if (entry.is_directory()) {
      files[fs::relative(entry.path(), fs::path(folder)).wstring() + L"\\"] = "";
      continue;
    }
    if (!entry.is_regular_file()) continue;
    files[fs::relative(entry.path(), fs::path(folder)).wstring()] = ReadAll(entry.path().wstring());
  }
  return files;
}

std::vector<std::wstring> NamesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(fs::path(folder), ignored)) {
    names.push_back(entry.path().filename().wstring());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// What check --against said, from its JSON: 0 when the update gives the new release, else the
// setup program's code it named; -1 when the report holds neither.
int HostVerdict(const std::wstring& previous) {
  const std::string json = ReadAll(Fixture(previous + L".against.json"));
  if (json.find("\"gives_new_release\": true") != std::string::npos) return 0;
  // The code inside the "against" object: other objects of the report (the archive's) carry a
  // setup_exit_code of their own.
  const std::string key = "\"setup_exit_code\": ";
  const size_t against = json.find("\"against\": {");
  const size_t at = against == std::string::npos ? against : json.find(key, against);
  if (at == std::string::npos || json.find("\"gives_new_release\": false") == std::string::npos) {
    return -1;
  }
  return std::atoi(json.c_str() + at + key.size());
}

class UpdateInstaller : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.Ok());
    root_ = scratch_ / L"root";
    SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", root_.c_str());
    ASSERT_FALSE(ReadAll(Fixture(L"update.exe")).empty()) << "fixtures missing";
  }
  void TearDown() override { SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", nullptr); }

  // Runs an installer from a folder of its own, as a downloaded file; its exit code.
  uint32_t RunInstaller(const std::wstring& image) {
    // A folder for each run: the installer's copy stays behind it, as downloads do.
    const std::wstring run = scratch_ / (L"run" + std::to_wstring(runs_++));
    fs::create_directories(fs::path(run));
    const std::wstring copy = run + L"\\" + image;
    if (!CopyFileW(Fixture(image).c_str(), copy.c_str(), FALSE)) return kNoExitCode;
    const uint32_t code = RunChild(copy, L"", nullptr, run);
    EXPECT_EQ(NamesIn(run), std::vector<std::wstring>{image}) << "the work directory is gone";
    return code;
  }

  std::wstring Uninstall() const { return key_.Text(kUninstallStringValue); }
  std::wstring Installed(const wchar_t* version) const {
    return L"\"" + root_ + L"\\" + version + L"\\setup.exe\"";
  }

  ScratchDirectory scratch_;
  std::wstring root_;
  int runs_ = 0;
  scratch::ClientStateKey key_{false, kDefaultAppId};
};

TEST_F(UpdateInstaller, GivesTheSecondReleaseOrRefusesAsCheckSaid) {
  const struct {
    const char* name;
    const wchar_t* previous;  // the full installer of the installed first release
    uint32_t code;
  } cases[] = {
      {"the update's own base", L"install-v1", 0},
      {"one byte of a patched file changed", L"install-v1-byte", SETUP_EXIT_UPDATE_MISMATCH},
      {"an unchanged file grown", L"install-v1-grown", SETUP_EXIT_UPDATE_MISMATCH},
      {"a patched file missing", L"install-v1-missing", SETUP_EXIT_UPDATE_MISMATCH},
      {"another setup program", L"install-v1-other-setup", SETUP_EXIT_UPDATE_MISMATCH},
  };
  std::map<std::wstring, std::string> second = FilesIn(Fixture(L"v2"));
  second[L"setup.exe"] = ReadAll(LUMORA_SAMPLE_SETUP);
  ASSERT_GT(second.size(), 6u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(fs::path(root_));
    key_.Remove();
    ASSERT_EQ(RunInstaller(std::wstring(c.previous) + L".exe"), 0u);
    ASSERT_EQ(Uninstall(), Installed(L"1.0.0.0"));
    const std::map<std::wstring, std::string> first = FilesIn(root_ + L"\\1.0.0.0");

    const uint32_t code = RunInstaller(L"update.exe");
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(HostVerdict(c.previous), static_cast<int>(code)) << "check --against disagrees";
    EXPECT_EQ(FilesIn(root_ + L"\\1.0.0.0"), first) << "the first release is only read";
    if (c.code == 0) {
      EXPECT_EQ(FilesIn(root_ + L"\\2.0.0.0"), second);
      EXPECT_TRUE(fs::is_directory(fs::path(root_ + L"\\2.0.0.0\\logs\\old")))
          << "the second release's empty folder";
      EXPECT_EQ(NamesIn(root_), (std::vector<std::wstring>{L"1.0.0.0", L"2.0.0.0"}));
      EXPECT_EQ(Uninstall(), Installed(L"2.0.0.0"));
    } else {
      EXPECT_EQ(NamesIn(root_), std::vector<std::wstring>{L"1.0.0.0"})
          << "nothing of the second release";
      EXPECT_EQ(Uninstall(), Installed(L"1.0.0.0"));
    }
  }
}

}  // namespace
