// The sample setup program applies updates made of patch archives. On the install invocation with
// a patch archive and --previous-version it builds the new release beside the installed one from
// the installed files and the archive, byte for byte, or refuses with nothing of the new release
// left and the installed one untouched. On the patch run the installed setup program rebuilds the
// new one from its own file. The releases and patch archives are the fixtures of CMakeLists.txt:
// version 1.0.0.0 (v1, also as v1.7z), 2.0.0.0 (v2), update.patch between them.
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
#include "support/child_process.h"
#include "support/client_state_scratch.h"
#include "support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;
std::string ReadAll(const std::wstring& path) {
  std::ifstream in(fs::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
  std::ofstream(fs::path(path), std::ios::binary).write(bytes.data(), bytes.size());
}

std::wstring Fixture(const std::wstring& name) {
  return std::wstring(LUMORA_UPDATE_FIXTURES) + L"\\" + name;
}

// Every file below folder with its bytes, by its path relative to folder.
std::map<std::wstring, std::string> FilesIn(const std::wstring& folder) {
  std::map<std::wstring, std::string> files;
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(folder), ignored)) {
    if (!entry.is_regular_file()) continue;
    files[fs::relative(entry.path(), fs::path(folder)).wstring()] = ReadAll(entry.path().wstring());
  }
  return files;
}

// The names directly in folder, sorted.
std::vector<std::wstring> NamesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(fs::path(folder), ignored)) {
    names.push_back(entry.path().filename().wstring());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// What the second release's folder must hold: its tree and the setup program's copy of itself.
std::map<std::wstring, std::string> SecondRelease(const std::string& setup_program) {
  std::map<std::wstring, std::string> files = FilesIn(Fixture(L"v2"));
  files[L"setup.exe"] = setup_program;
  return files;
}

class SampleUpdate : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.Ok());
    root_ = scratch_ / L"root";
    SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", root_.c_str());
    ASSERT_EQ(FilesIn(Fixture(L"v2")).count(L"bin\\app.exe"), 1u) << "fixtures missing";
  }
  void TearDown() override { SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", nullptr); }

  // A fresh root with the first release installed by the full installation.
  void InstallFirstRelease() {
    fs::remove_all(fs::path(root_));
    key_.Remove();
    ASSERT_EQ(RunChild(LUMORA_SAMPLE_SETUP, L"--install-archive=\"" + Fixture(L"v1.7z") + L"\""),
              0u);
    ASSERT_EQ(FilesIn(root_ + L"\\1.0.0.0").size(), FilesIn(Fixture(L"v1")).size() + 1);
  }
  std::wstring Uninstall() const { return key_.Text(kUninstallStringValue); }
  std::wstring Installed(const wchar_t* version) const {
    return L"\"" + root_ + L"\\" + version + L"\\setup.exe\"";
  }

  ScratchDirectory scratch_;
  std::wstring root_;
  scratch::ClientStateKey key_{false, kDefaultAppId};
};

TEST_F(SampleUpdate, BuildsTheSecondReleaseBesideTheFirst) {
  ASSERT_NO_FATAL_FAILURE(InstallFirstRelease());
  const std::map<std::wstring, std::string> first = FilesIn(root_ + L"\\1.0.0.0");
  EXPECT_EQ(RunChild(LUMORA_SAMPLE_SETUP, L"--install-archive=\"" + Fixture(L"update.patch") +
                                              L"\" --previous-version=\"1.0.0.0\""),
            0u);
  EXPECT_EQ(FilesIn(root_ + L"\\2.0.0.0"), SecondRelease(ReadAll(LUMORA_SAMPLE_SETUP)));
  EXPECT_EQ(FilesIn(root_ + L"\\1.0.0.0"), first) << "the first release is only read";
  EXPECT_EQ(NamesIn(root_), (std::vector<std::wstring>{L"1.0.0.0", L"2.0.0.0"}))
      << "no staging folder left";
  EXPECT_EQ(Uninstall(), Installed(L"2.0.0.0"));
}

// Whatever refuses the update leaves the first release as it was, and nothing of the second.
TEST_F(SampleUpdate, RefusalsLeaveNothingOfTheSecondRelease) {
  enum Change { kNothing, kByteOfPatchedBase, kUnchangedFileGrown, kBaseMissing, kFileInTheWay };
  const std::wstring patch = L"--install-archive=\"" + Fixture(L"update.patch") + L"\"";
  const std::wstring previous = L" --previous-version=\"1.0.0.0\"";
  // The patch archive cut in half, and with one byte of its compressed stream changed.
  const std::string whole = ReadAll(Fixture(L"update.patch"));
  ASSERT_GT(whole.size(), 200u);
  WriteAll(scratch_ / L"cut.patch", whole.substr(0, whole.size() / 2));
  std::string flipped = whole;
  flipped[flipped.size() - 100] ^= 0x20;
  WriteAll(scratch_ / L"flipped.patch", flipped);
  const struct {
    const char* name;
    Change change;
    std::wstring arguments;
    uint32_t code;
  } cases[] = {
      {"one byte of a patched base changed", kByteOfPatchedBase, patch + previous, 26},
      {"an unchanged file grown", kUnchangedFileGrown, patch + previous, 26},
      {"a patched base missing", kBaseMissing, patch + previous, 26},
      {"no --previous-version", kNothing, patch, 26},
      {"a previous version not installed", kNothing, patch + L" --previous-version=\"0.9\"", 26},
      {"a previous version that is no folder name", kNothing,
       patch + L" --previous-version=\"..\\root\\1.0.0.0\"", 26},
      {"the patch archive cut short", kNothing,
       L"--install-archive=\"" + scratch_ / L"cut.patch\"" + previous, 21},
      {"a byte of the stream changed", kNothing,
       L"--install-archive=\"" + scratch_ / L"flipped.patch\"" + previous, 21},
      {"a name Windows takes for a device", kNothing,
       L"--install-archive=\"" + Fixture(L"device.patch") + L"\"" + previous, 21},
      {"the new version's folder cannot be made", kFileInTheWay, patch + previous, 23},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(InstallFirstRelease());
    const std::wstring first_dir = root_ + L"\\1.0.0.0";
    std::vector<std::wstring> expected_names = {L"1.0.0.0"};
    switch (c.change) {
      case kNothing:
        break;
      case kByteOfPatchedBase: {
        std::string app = ReadAll(first_dir + L"\\bin\\app.exe");
        app[app.size() / 2] ^= 1;
        WriteAll(first_dir + L"\\bin\\app.exe", app);
        break;
      }
      case kUnchangedFileGrown:
        WriteAll(first_dir + L"\\README.txt", ReadAll(first_dir + L"\\README.txt") + "\n");
        break;
      case kBaseMissing:
        ASSERT_TRUE(DeleteFileW((first_dir + L"\\docs\\guide.txt").c_str()));
        break;
      case kFileInTheWay:
        ASSERT_TRUE(ScratchDirectory::WriteFile(root_ + L"\\2.0.0.0", "not a folder"));
        expected_names.push_back(L"2.0.0.0");
        break;
    }
    const std::map<std::wstring, std::string> first = FilesIn(first_dir);
    EXPECT_EQ(RunChild(LUMORA_SAMPLE_SETUP, c.arguments), c.code);
    EXPECT_EQ(NamesIn(root_), expected_names) << "no staging folder, no second release";
    EXPECT_EQ(FilesIn(first_dir), first);
    EXPECT_EQ(Uninstall(), Installed(L"1.0.0.0"));
  }
}

// The patch run: the installed setup program checks its own file against the patch's base and
// writes the new setup program only when the result is the one the patch names.
TEST_F(SampleUpdate, PatchRunRebuildsTheSetupProgramFromItsOwnFile) {
  const std::wstring installed = scratch_ / L"installed";
  ASSERT_TRUE(CreateDirectoryW(installed.c_str(), nullptr));
  const std::wstring setup = installed + L"\\setup.exe";
  ASSERT_TRUE(CopyFileW(LUMORA_SAMPLE_SETUP, setup.c_str(), FALSE));
  WriteAll(scratch_ / L"text.patch", "not a patch archive\n");
  const std::string launcher = ReadAll(Fixture(L"setup-launcher\\setup.exe"));
  const std::string setup_program = ReadAll(LUMORA_SAMPLE_SETUP);
  ASSERT_NE(launcher, setup_program);
  const std::wstring work = scratch_ / L"work";
  const struct {
    const char* name;
    std::wstring patch;
    std::wstring new_setup;
    uint32_t code;
    const std::string* result;  // what the new setup program must hold; null: none written
  } cases[] = {
      {"patched from this program", Fixture(L"setup-to-launcher.patch"), work + L"\\setup.exe", 0,
       &launcher},
      {"unchanged", Fixture(L"setup-unchanged.patch"), work + L"\\setup.exe", 0, &setup_program},
      {"made from another program", Fixture(L"stub-to-launcher.patch"), work + L"\\setup.exe", 26,
       nullptr},
      {"a whole release's patch archive", Fixture(L"update.patch"), work + L"\\setup.exe", 3,
       nullptr},
      {"no patch archive", scratch_ / L"text.patch", work + L"\\setup.exe", 3, nullptr},
      {"no patch at all", scratch_ / L"missing.patch", work + L"\\setup.exe", 3, nullptr},
      {"a folder that is not there", Fixture(L"setup-to-launcher.patch"),
       work + L"\\missing\\setup.exe", 4, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(fs::path(work));
    ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
    EXPECT_EQ(RunChild(setup, L"--update-setup-exe=\"" + c.patch + L"\" --new-setup-exe=\"" +
                                  c.new_setup + L"\""),
              c.code);
    if (c.result != nullptr) {
      EXPECT_EQ(NamesIn(work), std::vector<std::wstring>{L"setup.exe"});
      EXPECT_EQ(ReadAll(c.new_setup), *c.result);
    } else {
      EXPECT_TRUE(NamesIn(work).empty()) << "neither the new program nor a temporary file";
    }
    EXPECT_EQ(ReadAll(setup), setup_program);
  }
}

#ifdef LUMORA_PACKED_INSTALLERS
// The whole path: the first release's installer, then the update installer, whose setup program
// is a patch for the installed one and whose archive is the patch archive.
TEST_F(SampleUpdate, PackedUpdateInstallsTheSecondRelease) {
  fs::remove_all(fs::path(root_));
  key_.Remove();
  const std::wstring run = scratch_ / L"run";
  fs::create_directories(fs::path(run));
  for (const wchar_t* image : {L"install-v1.exe", L"update-to-v2.exe"}) {
    ASSERT_TRUE(CopyFileW(Fixture(image).c_str(), (run + L"\\" + image).c_str(), FALSE));
  }
  ASSERT_EQ(RunChild(run + L"\\install-v1.exe", L"", nullptr, run), 0u);
  EXPECT_EQ(Uninstall(), Installed(L"1.0.0.0"));
  const std::map<std::wstring, std::string> first = FilesIn(root_ + L"\\1.0.0.0");

  EXPECT_EQ(RunChild(run + L"\\update-to-v2.exe", L"", nullptr, run), 0u);
  EXPECT_EQ(FilesIn(root_ + L"\\2.0.0.0"), SecondRelease(ReadAll(LUMORA_SAMPLE_SETUP)));
  EXPECT_EQ(FilesIn(root_ + L"\\1.0.0.0"), first);
  EXPECT_EQ(Uninstall(), Installed(L"2.0.0.0"));
  EXPECT_EQ(NamesIn(run), (std::vector<std::wstring>{L"install-v1.exe", L"update-to-v2.exe"}))
      << "both work directories are gone";
}
#endif

}  // namespace
