#include "launch/setup_patch.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <memory>
#include <string>

#include "base/client_state_key.h"
#include "files/extracted_files.h"
#include "launch/sample_setup_record.h"
#include "launch/setup_command_line.h"
#include "support/client_state_scratch.h"
#include "support/scratch_directory.h"

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

// A value that is no full local path, recorded as an unreadable key.
constexpr ExitResult kNotAFullPath = {EXIT_SETUP_KEY_UNREADABLE, ERROR_BAD_PATHNAME};

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
      {"lower-case drive", false, true, REG_SZ, L"c:\\App\\setup.exe", nullptr, {0, 0},
       L"c:\\App\\setup.exe"},
      // Only a value quoted as a whole is unwrapped; what is left must still be a full path.
      {"quote at one end only", false, true, REG_SZ, L"C:\\setup.exe\"", nullptr, {0, 0},
       L"C:\\setup.exe\""},
      {"two quotes", false, true, REG_SZ, L"\"\"", nullptr, kNotAFullPath, L""},
      {"one quote", false, true, REG_SZ, L"\"", nullptr, kNotAFullPath, L""},
      {"quoted then more", false, true, REG_SZ, L"\"C:\\a b\\setup.exe\" --uninstall", nullptr,
       kNotAFullPath, L""},
      // What CreateProcessW would resolve against something the installer does not choose.
      {"relative, in the current directory", false, true, REG_SZ, L"12.0.3.4\\setup.exe",
       L"12.0.3.4", kNotAFullPath, L""},
      {"quoted relative", false, true, REG_SZ, L"\"setup.exe\"", nullptr, kNotAFullPath, L""},
      {"UNC", false, true, REG_SZ, L"\\\\server\\share\\12.0.3.4\\setup.exe", L"12.0.3.4",
       kNotAFullPath, L""},
      {"device namespace", false, true, REG_SZ, L"\\\\?\\C:\\App\\setup.exe", nullptr,
       kNotAFullPath, L""},
      {"root of the current drive", false, true, REG_SZ, L"\\App\\setup.exe", nullptr,
       kNotAFullPath, L""},
      {"relative to a drive's current directory", false, true, REG_SZ, L"C:App\\setup.exe",
       nullptr, kNotAFullPath, L""},
      {"digit for a drive letter", false, true, REG_SZ, L"1:\\App\\setup.exe", nullptr,
       kNotAFullPath, L""},
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
      {"empty value, no version", false, true, REG_SZ, L"", nullptr, kNotAFullPath, L""},
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
// versioned directory) and a work directory holding the patch file, held and listed as unpacking
// leaves it.
class PatchSetupTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateDirectoryW((scratch_.Path() + L"App").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(installed_dir_.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(launch_test::SampleSetupPath().c_str(), installed_.c_str(), TRUE));
    ASSERT_TRUE(CreateDirectoryW(work_dir_.c_str(), nullptr));
    // The running installer's own file, for the patch run to tell from the installed program.
    ASSERT_TRUE(CreateDirectoryW((scratch_.Path() + L"Downloads").c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(launch_test::SampleSetupPath().c_str(), installer_.c_str(), TRUE));
    ASSERT_NO_FATAL_FAILURE(ListThePatch());
  }
  void TearDown() override { RemoveWhatDoesNotStay(); }

  // Lists a new patch, held as unpacking leaves it, after the clean-up of what was listed before.
  void ListThePatch() {
    RemoveWhatDoesNotStay();
    files_ = std::make_unique<ExtractedFiles>();
    patch_entry_ = files_->Add(work_dir_.c_str(), L"SETUP.PATCH");
    ASSERT_NE(patch_entry_, nullptr);
    ASSERT_EQ(patch_entry_->file.Create(patch_entry_->path.text), 0u);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(patch_entry_->file.Writer(), "a patch", 7, &written, nullptr));
    ASSERT_EQ(patch_entry_->file.Seal(reinterpret_cast<const uint8_t*>("a patch"), 7), 0u);
    max_attempts_ = 0;
    rebuilt_ = files_->Add(work_dir_.c_str(), L"setup.exe");
    ASSERT_NE(rebuilt_, nullptr);
  }
  // The run's clean-up, as with removal switched off.
  void RemoveWhatDoesNotStay() {
    HeldDirectory not_held;
    int32_t max_attempts = 0;
    if (files_) RemoveExtracted(*files_, false, work_dir_.c_str(), not_held, max_attempts);
  }

  ExitResult Patch(const wchar_t* own_command_line, const wchar_t* previous_version = L"12.0.3.4") {
    return PatchSetup(false, kAppId, previous_version, own_command_line, installer_.c_str(),
                      *patch_entry_, *rebuilt_, max_attempts_);
  }

  ClientState state_;
  ScratchDirectory scratch_;
  SetupRecord record_{scratch_};
  const std::wstring installed_dir_ = scratch_.Path() + L"App\\12.0.3.4\\";
  const std::wstring installed_ = installed_dir_ + L"setup.exe";
  const std::wstring work_dir_ = scratch_.Path() + L"LM_1A2B3.tmp\\";
  const std::wstring patch_ = work_dir_ + L"SETUP.PATCH";
  const std::wstring new_setup_ = work_dir_ + L"setup.exe";
  const std::wstring installer_ = scratch_.Path() + L"Downloads\contoso-viewer-setup.exe";
  int32_t max_attempts_ = 0;
  std::unique_ptr<ExtractedFiles> files_;
  ExtractedFile* patch_entry_ = nullptr;
  ExtractedFile* rebuilt_ = nullptr;
};

TEST_F(PatchSetupTest, RebuildsTheSetupProgramHoldsItAndInstallsWithIt) {
  ASSERT_TRUE(state_.user.SetText(kUninstallStringValue, L"\"" + installed_ + L"\""));
  const wchar_t* own = L"\"C:\\dl\\installer.exe\" --system-level  --lumora-dev";
  const ExitResult patched = Patch(own);
  EXPECT_EQ(patched.code, 0u);
  EXPECT_EQ(patched.extra, 0u);
  EXPECT_EQ(std::wstring(rebuilt_->path.text), new_setup_);
  EXPECT_TRUE(rebuilt_->file.IsHeld());
  EXPECT_TRUE(rebuilt_->stays);
  // Held from the patch program's exit on: nobody may replace or change it any more.
  EXPECT_FALSE(MoveFileExW(new_setup_.c_str(), (new_setup_ + L".aside").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(CreateFileW(new_setup_.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  // The patch went as soon as the patch program was done with it, in one attempt.
  EXPECT_FALSE(ScratchDirectory::Exists(patch_));
  EXPECT_FALSE(patch_entry_->listed);
  EXPECT_FALSE(patch_entry_->file.IsHeld());
  EXPECT_EQ(max_attempts_, 1);

  PathBuffer archive;
  SetPath(archive, work_dir_ + L"LUMORA.PACKED.7Z");
  const ExitResult installed = InstallWithSetup(L"12.0.3.4", own, archive, rebuilt_->path, true);
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

  RemoveWhatDoesNotStay();
  EXPECT_EQ(ListTree(work_dir_), std::vector<std::wstring>{L"setup.exe"});
}

// A new setup program that cannot be held is never started; the result is what starting it
// would have met.
TEST_F(PatchSetupTest, ANewSetupProgramThatCannotBeHeldIsNotRun) {
  ASSERT_TRUE(state_.user.SetText(kUninstallStringValue, installed_));
  {
    SCOPED_TRACE("the patch program wrote none");
    const ExitResult patched = Patch(L"installer.exe --test-no-new-setup");
    EXPECT_EQ(patched.code, EXIT_SETUP_NOT_FOUND);
    EXPECT_EQ(patched.extra, INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(rebuilt_->file.IsHeld());
    EXPECT_FALSE(rebuilt_->stays);
  }
  {
    SCOPED_TRACE("someone still has it open for writing");
    ASSERT_NO_FATAL_FAILURE(ListThePatch());
    record_.Clear();
    HANDLE writer = CreateFileW(new_setup_.c_str(), GENERIC_WRITE, 7, nullptr, CREATE_NEW, 0,
                                nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    const ExitResult patched = Patch(L"installer.exe --test-no-new-setup");
    CloseHandle(writer);
    EXPECT_EQ(patched.code, EXIT_SETUP_LAUNCH_FAILED);
    EXPECT_EQ(patched.extra, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(rebuilt_->file.IsHeld());
    EXPECT_EQ(record_.Runs().size(), 1u) << "only the patch program ran";
  }
}

// Whatever ends the patch step, anything the patch program wrote stays listed, not staying, and
// the clean-up leaves the work directory empty (a failed lookup used to leave the patch there, and
// the directory with it). The patch itself goes as soon as a launch was tried, whatever came of
// it; before that it stays listed for the clean-up.
TEST_F(PatchSetupTest, EveryFailureLeavesThePatchAndTheRebuiltFileToTheCleanUp) {
  const std::wstring not_a_program = installed_dir_ + L"text.exe";
  ASSERT_TRUE(ScratchDirectory::WriteFile(not_a_program, "not a program"));
  struct Case {
    const char* what;
    std::wstring uninstall_string;  // empty: no value at all
    const wchar_t* previous_version;
    const wchar_t* own_command_line;
    ExitResult expected;
    bool child_ran;
    bool launch_tried;
  };
  const Case cases[] = {
      {"patch program fails", installed_, L"12.0.3.4", L"i.exe --test-exit-code=0x8000006C",
       {0x8000006Cu, 0}, true, true},
      {"patch program exits with 108", installed_, L"12.0.3.4", L"i.exe --test-exit-code=108",
       {EXIT_PATH_TOO_LONG, 0}, true, true},
      {"installed file missing", installed_dir_ + L"old-setup.exe", L"12.0.3.4", L"i.exe",
       {EXIT_PATCH_SETUP_NOT_FOUND, INVALID_FILE_ATTRIBUTES}, false, true},
      {"installed directory missing", scratch_.Path() + L"App\\11.0\\setup.exe", nullptr, L"i.exe",
       {EXIT_PATCH_SETUP_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES}, false, true},
      {"installed file not a program", not_a_program, L"12.0.3.4", L"i.exe",
       {EXIT_PATCH_SETUP_LAUNCH_FAILED, ERROR_BAD_EXE_FORMAT}, false, true},
      {"version mismatch", installed_, L"13.0.0.0", L"i.exe", {EXIT_SETUP_VERSION_MISMATCH, 0},
       false, false},
      {"no UninstallString", L"", L"12.0.3.4", L"i.exe",
       {EXIT_SETUP_KEY_UNREADABLE, ERROR_FILE_NOT_FOUND}, false, false},
      {"relative UninstallString", L"App\\12.0.3.4\\setup.exe", L"12.0.3.4", L"i.exe",
       {EXIT_SETUP_KEY_UNREADABLE, ERROR_BAD_PATHNAME}, false, false},
      {"the installer itself", installer_, nullptr, L"i.exe",
       {EXIT_SETUP_KEY_UNREADABLE, kErrorSetupIsTheInstaller}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    state_.Remove();
    if (c.uninstall_string.empty()) {
      ASSERT_TRUE(state_.user.Create());
    } else {
      ASSERT_TRUE(state_.user.SetText(kUninstallStringValue, c.uninstall_string));
    }
    ASSERT_NO_FATAL_FAILURE(ListThePatch());
    record_.Clear();

    const ExitResult result = Patch(c.own_command_line, c.previous_version);
    EXPECT_EQ(result.code, c.expected.code);
    EXPECT_EQ(result.extra, c.expected.extra);
    EXPECT_EQ(record_.Runs().size(), c.child_ran ? 1u : 0u);
    EXPECT_EQ(patch_entry_->listed, !c.launch_tried);
    EXPECT_EQ(patch_entry_->file.IsHeld(), !c.launch_tried);
    EXPECT_EQ(ScratchDirectory::Exists(patch_), !c.launch_tried);
    EXPECT_EQ(max_attempts_, c.launch_tried ? 1 : 0);
    EXPECT_FALSE(patch_entry_->stays);
    EXPECT_FALSE(rebuilt_->file.IsHeld());
    EXPECT_FALSE(rebuilt_->stays);
    if (c.child_ran) EXPECT_TRUE(ScratchDirectory::Exists(new_setup_)) << "written, then failed";
    RemoveWhatDoesNotStay();
    EXPECT_TRUE(ListTree(work_dir_).empty());
  }
}

// "UninstallString" leading to the running installer's own file, by any path, would have the
// patch run start the installer again, which would find the same value and start itself again,
// without end. Nothing is started: 110 with its own extra. The file decides, not the path: a
// copy of the installer is another program and runs.
TEST_F(PatchSetupTest, TheInstallerItselfIsNeverStartedAsThePatchProgram) {
  const std::wstring hard_link = installed_dir_ + L"linked-setup.exe";
  ASSERT_TRUE(CreateHardLinkW(hard_link.c_str(), installer_.c_str(), nullptr)) << GetLastError();
  std::wstring upper = installer_;
  for (wchar_t& unit : upper) unit = static_cast<wchar_t>(towupper(unit));
  wchar_t short_name[MAX_PATH] = {};
  ASSERT_NE(GetShortPathNameW(installer_.c_str(), short_name, MAX_PATH), 0u);
  ASSERT_NE(std::wstring(short_name), installer_) << "no short name to try";
  const std::wstring copy = installed_dir_ + L"copied-setup.exe";
  ASSERT_TRUE(CopyFileW(installer_.c_str(), copy.c_str(), TRUE));
  const struct {
    const char* what;
    std::wstring uninstall_string;
    const wchar_t* installer;  // null: the fixture's
    ExitResult expected;
    size_t runs;
  } cases[] = {
      {"the same path", installer_, nullptr, {EXIT_SETUP_KEY_UNREADABLE, kErrorSetupIsTheInstaller}, 0},
      {"the same path, quoted", L"\"" + installer_ + L"\"", nullptr, {EXIT_SETUP_KEY_UNREADABLE, kErrorSetupIsTheInstaller}, 0},
      {"in other letter case", upper, nullptr, {EXIT_SETUP_KEY_UNREADABLE, kErrorSetupIsTheInstaller}, 0},
      {"by its short name", short_name, nullptr, {EXIT_SETUP_KEY_UNREADABLE, kErrorSetupIsTheInstaller}, 0},
      {"a hard link to it", hard_link, nullptr, {EXIT_SETUP_KEY_UNREADABLE, kErrorSetupIsTheInstaller}, 0},
      {"the installer run from the hard link", installer_, hard_link.c_str(), {EXIT_SETUP_KEY_UNREADABLE, kErrorSetupIsTheInstaller}, 0},
      {"a copy of it", copy, nullptr, {EXIT_OK, 0}, 1},
      {"the installer's own file unreadable", installed_, L"C:\\nowhere\\installer.exe", {EXIT_SETUP_KEY_UNREADABLE, ERROR_PATH_NOT_FOUND}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(state_.user.SetText(kUninstallStringValue, c.uninstall_string));
    ASSERT_NO_FATAL_FAILURE(ListThePatch());
    record_.Clear();
    const ExitResult result =
        PatchSetup(false, kAppId, nullptr, L"i.exe", c.installer != nullptr ? c.installer : installer_.c_str(),
                   *patch_entry_, *rebuilt_, max_attempts_);
    EXPECT_EQ(result.code, c.expected.code);
    EXPECT_EQ(result.extra, c.expected.extra);
    EXPECT_EQ(record_.Runs().size(), c.runs);
    EXPECT_EQ(patch_entry_->listed, c.runs == 0) << "refused before anything was started";
  }
}

}  // namespace
