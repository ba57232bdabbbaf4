#include "launch/setup_patch.h"

#include <gtest/gtest.h>

#include <string>

#include "base/client_state_key.h"
#include "files/removal_calls.h"
#include "launch/sample_setup_record.h"
#include "launch/setup_command_line.h"
#include "support/client_state_scratch.h"

namespace {

using launch_test::SetPath;
using launch_test::SetupRecord;
using launch_test::SetupRun;

// An application id of these tests alone, so that no other test's client state is touched.
constexpr wchar_t kAppId[] = L"{lumora-launch-steps-test}";

// The key of this application id in both hives, in the updater's 32-bit view.
struct ClientState {
  scratch::ClientStateKey user{false, kAppId};
  scratch::ClientStateKey machine{true, kAppId};
  const scratch::ClientStateKey& In(bool system_level) const {
    return system_level ? machine : user;
  }
  void Remove() const {
    user.Remove();
    machine.Remove();
  }
};

TEST(FindInstalledSetup, ReadsAndChecksUninstallString) {
  ClientState state;
  const std::wstring too_long(260, L'x');
  struct Case {
    const char* what;
    bool system_level;
    bool key;              // whether the key exists
    DWORD type;            // REG_NONE: the value is missing
    std::wstring value;
    const wchar_t* previous_version;
    ExitResult expected;
    std::wstring installed_path;
  };
  const Case cases[] = {
      {"quoted", false, true, REG_SZ, L"\"C:\\Program Files\\App\\12.0.3.4\\setup.exe\"", nullptr,
       {0, 0}, L"C:\\Program Files\\App\\12.0.3.4\\setup.exe"},
      {"unquoted", false, true, REG_SZ, L"C:\\App\\12.0.3.4\\setup.exe", nullptr, {0, 0},
       L"C:\\App\\12.0.3.4\\setup.exe"},
      {"two quotes", false, true, REG_SZ, L"\"\"", nullptr, {0, 0}, L""},
      {"one quote", false, true, REG_SZ, L"\"", nullptr, {0, 0}, L"\""},
      {"quoted then more", false, true, REG_SZ, L"\"C:\\a b\\setup.exe\" --uninstall", nullptr,
       {0, 0}, L"\"C:\\a b\\setup.exe\" --uninstall"},
      {"quote at one end only", false, true, REG_SZ, L"C:\\setup.exe\"", nullptr, {0, 0},
       L"C:\\setup.exe\""},
      {"version found", false, true, REG_SZ, L"\"C:\\App\\12.0.3.4\\setup.exe\"", L"12.0.3.4",
       {0, 0}, L"C:\\App\\12.0.3.4\\setup.exe"},
      {"version in another ASCII case", false, true, REG_SZ, L"C:\\App\\V12-BETA\\setup.exe",
       L"v12-Beta", {0, 0}, L"C:\\App\\V12-BETA\\setup.exe"},
      {"version elsewhere in the value", false, true, REG_SZ, L"C:\\App-12.0.3.4.exe", L"12.0.3",
       {0, 0}, L"C:\\App-12.0.3.4.exe"},
      {"version missing", false, true, REG_SZ, L"C:\\App\\12.0.3.4\\setup.exe", L"12.0.3.5",
       {EXIT_SETUP_VERSION_MISMATCH, 0}, L""},
      {"non-ASCII letters are not folded", false, true, REG_SZ, L"C:\\\x00c4pp\\setup.exe",
       L"\x00e4pp", {EXIT_SETUP_VERSION_MISMATCH, 0}, L""},
      {"empty value, version given", false, true, REG_SZ, L"", L"1", {EXIT_SETUP_VERSION_MISMATCH, 0},
       L""},
      {"empty value, no version", false, true, REG_SZ, L"", nullptr, {0, 0}, L""},
      {"empty version accepts anything", false, true, REG_SZ, L"C:\\x.exe", L"", {0, 0},
       L"C:\\x.exe"},
      {"machine-wide key", true, true, REG_SZ, L"\"C:\\Machine\\setup.exe\"", nullptr, {0, 0},
       L"C:\\Machine\\setup.exe"},
      {"missing key", false, false, REG_NONE, L"", nullptr,
       {EXIT_SETUP_KEY_UNREADABLE, ERROR_FILE_NOT_FOUND}, L""},
      {"missing value", false, true, REG_NONE, L"", nullptr,
       {EXIT_SETUP_KEY_UNREADABLE, ERROR_FILE_NOT_FOUND}, L""},
      {"REG_EXPAND_SZ", false, true, REG_EXPAND_SZ, L"C:\\x.exe", nullptr,
       {EXIT_SETUP_KEY_UNREADABLE, ERROR_NOT_SUPPORTED}, L""},
      {"REG_DWORD", false, true, REG_DWORD, L"", nullptr,
       {EXIT_SETUP_KEY_UNREADABLE, ERROR_NOT_SUPPORTED}, L""},
      {"longer than a path", false, true, REG_SZ, too_long, nullptr,
       {EXIT_SETUP_KEY_UNREADABLE, ERROR_MORE_DATA}, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    state.Remove();
    const scratch::ClientStateKey& key = state.In(c.system_level);
    if (c.key) {
      if (c.type == REG_DWORD) {
        ASSERT_TRUE(key.SetDword(kUninstallStringValue, 1));
      } else if (c.type != REG_NONE) {
        ASSERT_TRUE(key.Set(kUninstallStringValue, c.type, scratch::TextBytes(c.value, true)));
      } else {
        ASSERT_TRUE(key.Create());
      }
    }
    PathBuffer installed_path;
    const ExitResult result =
        FindInstalledSetup(c.system_level, kAppId, c.previous_version, installed_path);
    EXPECT_EQ(result.code, c.expected.code);
    EXPECT_EQ(result.extra, c.expected.extra);
    if (result.code == 0) EXPECT_EQ(std::wstring(installed_path.text), c.installed_path);
  }
}

// One patch run against a real installed setup program (a copy of the sample setup program in a
// versioned directory) and a work directory holding the patch file.
class PatchSetupTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateDirectoryW((scratch_.Path() + L"App").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(installed_dir_.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(launch_test::SampleSetupPath().c_str(), installed_.c_str(), TRUE));
    ASSERT_TRUE(CreateDirectoryW(work_dir_.c_str(), nullptr));
    ASSERT_TRUE(ScratchDirectory::WriteFile(patch_, "a patch for the installed setup program"));
    SetPath(setup_path_, patch_);
    SetPath(new_setup_path_, new_setup_);
  }

  ExitResult Patch(const wchar_t* own_command_line, const wchar_t* previous_version = L"12.0.3.4") {
    return PatchSetup(false, kAppId, previous_version, own_command_line, setup_path_,
                      new_setup_path_, max_attempts_);
  }

  ClientState state_;
  ScratchDirectory scratch_;
  SetupRecord record_{scratch_};
  const std::wstring installed_dir_ = scratch_.Path() + L"App\\12.0.3.4\\";
  const std::wstring installed_ = installed_dir_ + L"setup.exe";
  const std::wstring work_dir_ = scratch_.Path() + L"LM_1A2B3.tmp\\";
  const std::wstring patch_ = work_dir_ + L"SETUP.PATCH";
  const std::wstring new_setup_ = work_dir_ + L"setup.exe";
  PathBuffer setup_path_;
  PathBuffer new_setup_path_;
  int32_t max_attempts_ = 0;
};

TEST_F(PatchSetupTest, RebuildsTheSetupProgramAndInstallsWithIt) {
  ASSERT_TRUE(state_.user.SetText(kUninstallStringValue, L"\"" + installed_ + L"\""));
  const wchar_t* own = L"\"C:\\dl\\installer.exe\" --system-level  --lumora-dev";
  const ExitResult patched = Patch(own);
  EXPECT_EQ(patched.code, 0u);
  EXPECT_EQ(patched.extra, 0u);
  EXPECT_EQ(std::wstring(setup_path_.text), new_setup_);
  EXPECT_FALSE(ScratchDirectory::Exists(patch_)) << "the patch file is deleted after the patch run";
  EXPECT_TRUE(ScratchDirectory::Exists(new_setup_));
  EXPECT_EQ(max_attempts_, 1);

  PathBuffer archive;
  SetPath(archive, work_dir_ + L"LUMORA.PACKED.7Z");
  const ExitResult installed = InstallWithSetup(L"12.0.3.4", own, archive, setup_path_, true);
  EXPECT_EQ(installed.code, 0u);
  EXPECT_EQ(installed.extra, 0u);

  const std::vector<SetupRun> runs = record_.Runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].command, L"command=\"" + installed_ + L"\" --update-setup-exe=\"" + patch_ +
                                 L"\" --new-setup-exe=\"" + new_setup_ +
                                 L"\" --system-level  --lumora-dev");
  EXPECT_EQ(runs[1].command, L"command=\"" + new_setup_ + L"\" --install-archive=\"" + work_dir_ +
                                 L"LUMORA.PACKED.7Z\" --previous-version=\"12.0.3.4\" "
                                 L"--system-level  --lumora-dev");
  for (const SetupRun& run : runs) launch_test::ExpectHiddenInheritingRun(run);
}

TEST_F(PatchSetupTest, APatchRunThatWritesNothingFailsTheInstallWith122) {
  ASSERT_TRUE(state_.user.SetText(kUninstallStringValue, installed_));
  const wchar_t* own = L"installer.exe --test-no-new-setup";
  const ExitResult patched = Patch(own);
  EXPECT_EQ(patched.code, 0u);
  EXPECT_EQ(std::wstring(setup_path_.text), new_setup_);
  EXPECT_FALSE(ScratchDirectory::Exists(patch_));
  EXPECT_FALSE(ScratchDirectory::Exists(new_setup_));

  PathBuffer archive;
  SetPath(archive, work_dir_ + L"LUMORA.PACKED.7Z");
  const ExitResult installed = InstallWithSetup(nullptr, own, archive, setup_path_, true);
  EXPECT_EQ(installed.code, EXIT_SETUP_NOT_FOUND);
  EXPECT_EQ(installed.extra, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(record_.Runs().size(), 1u);
}

TEST_F(PatchSetupTest, EveryFailureEmptiesSetupPathAndOnlyALaunchDeletesThePatch) {
  const std::wstring not_a_program = installed_dir_ + L"text.exe";
  ASSERT_TRUE(ScratchDirectory::WriteFile(not_a_program, "not a program"));
  struct Case {
    const char* what;
    std::wstring uninstall_string;  // empty: no value at all
    const wchar_t* previous_version;
    const wchar_t* own_command_line;
    ExitResult expected;
    bool launched;
  };
  const Case cases[] = {
      {"patch program fails", installed_, L"12.0.3.4", L"i.exe --test-exit-code=0x8000006C",
       {0x8000006Cu, 0}, true},
      {"patch program exits with 108", installed_, L"12.0.3.4", L"i.exe --test-exit-code=108",
       {EXIT_PATH_TOO_LONG, 0}, true},
      {"installed file missing", installed_dir_ + L"old-setup.exe", L"12.0.3.4", L"i.exe",
       {EXIT_PATCH_SETUP_NOT_FOUND, INVALID_FILE_ATTRIBUTES}, true},
      {"installed directory missing", scratch_.Path() + L"App\\11.0\\setup.exe", nullptr, L"i.exe",
       {EXIT_PATCH_SETUP_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES}, true},
      {"installed file not a program", not_a_program, L"12.0.3.4", L"i.exe",
       {EXIT_PATCH_SETUP_LAUNCH_FAILED, ERROR_BAD_EXE_FORMAT}, true},
      {"version mismatch", installed_, L"13.0.0.0", L"i.exe", {EXIT_SETUP_VERSION_MISMATCH, 0},
       false},
      {"no UninstallString", L"", L"12.0.3.4", L"i.exe",
       {EXIT_SETUP_KEY_UNREADABLE, ERROR_FILE_NOT_FOUND}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    state_.Remove();
    if (c.uninstall_string.empty()) {
      ASSERT_TRUE(state_.user.Create());
    } else {
      ASSERT_TRUE(state_.user.SetText(kUninstallStringValue, c.uninstall_string));
    }
    ASSERT_TRUE(ScratchDirectory::WriteFile(patch_, "a patch"));
    SetPath(setup_path_, patch_);
    max_attempts_ = 0;
    record_.Clear();

    const ExitResult result = Patch(c.own_command_line, c.previous_version);
    EXPECT_EQ(result.code, c.expected.code);
    EXPECT_EQ(result.extra, c.expected.extra);
    EXPECT_EQ(std::wstring(setup_path_.text), L"") << "emptied on every failure";
    EXPECT_EQ(ScratchDirectory::Exists(patch_), !c.launched) << "deleted exactly when a launch was tried";
    EXPECT_EQ(max_attempts_, c.launched ? 1 : 0);
    const bool child_ran = c.launched && result.code != EXIT_PATCH_SETUP_NOT_FOUND &&
                           result.code != EXIT_PATCH_SETUP_PATH_NOT_FOUND &&
                           result.code != EXIT_PATCH_SETUP_LAUNCH_FAILED;
    EXPECT_EQ(record_.Runs().size(), child_ran ? 1u : 0u);
  }
}

int g_waits = 0;
void WINAPI CountWait(DWORD) { ++g_waits; }

// A patch file that another process keeps open without delete sharing cannot be removed: the
// deletion's 100 attempts reach max_attempts, and the patch run still counts. The waits between
// the attempts are counted, not slept.
TEST_F(PatchSetupTest, APatchFileThatCannotBeDeletedChangesNothingButMaxAttempts) {
  ASSERT_TRUE(state_.user.SetText(kUninstallStringValue, installed_));
  HANDLE held = CreateFileW(patch_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  max_attempts_ = 3;
  g_waits = 0;
  g_removal_calls.sleep = CountWait;
  const ExitResult result = Patch(L"i.exe");
  g_removal_calls.sleep = nullptr;
  CloseHandle(held);
  EXPECT_EQ(result.code, 0u);
  EXPECT_EQ(result.extra, 0u);
  EXPECT_EQ(std::wstring(setup_path_.text), new_setup_);
  EXPECT_TRUE(ScratchDirectory::Exists(patch_));
  EXPECT_EQ(max_attempts_, 100);
  EXPECT_EQ(g_waits, 99);
}

TEST_F(PatchSetupTest, MaxAttemptsNeverDecreases) {
  ASSERT_TRUE(state_.user.SetText(kUninstallStringValue, installed_));
  max_attempts_ = 7;
  const ExitResult result = Patch(L"i.exe");
  EXPECT_EQ(result.code, 0u);
  EXPECT_FALSE(ScratchDirectory::Exists(patch_));
  EXPECT_EQ(max_attempts_, 7);
}

}  // namespace
