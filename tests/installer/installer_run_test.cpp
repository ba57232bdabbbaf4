// Whole runs of installer images under Wine: each scenario copies an image into a fresh directory,
// prepares the updater's client-state key, runs the image as a user or the updater would, and
// reads back the full 32-bit exit code, the client state, the work directory and what the sample
// setup program was given.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "installer/run/installer_runs.h"
#include "payload/cabinet_writer.h"
#include "support/case_name.h"
#include "support/file_bytes.h"
#include "support/hostile_names.h"
#include "support/resource_image.h"

namespace {

using namespace installer_runs;

// --- the table of scenarios ----------------------------------------------------------------------

struct Scenario {
  const char* name;
  const char* image;
  const wchar_t* arguments;
  // Before the run.
  bool key_exists;
  const wchar_t* uninstall;  // "UninstallString" template: {dir} is replaced; null: not set
  // Expected.
  uint32_t code;
  bool recorded;   // a failure record, or after success the retry word, is in the key
  uint32_t extra;  // the recorded InstallerExtraCode1
  bool tagged;     // "ap" became "-full"
  int setup_runs;
};

const Scenario kScenarios[] = {
    // Success: the run's retry word is recorded and everything extracted is gone.
    {"shipped layout, MSZIP setup cabinet", "shipped_mszip", L"", true, nullptr, 0, true, 0x30000, true, 1},
    {"BN members", "members_bn", L"--lumora-frame-not", true, nullptr, 0, true, 0x30000, true, 1},
    {"patch through the installed setup program", "patch", L"", true, L"\"{dir}installed\\1.2.3.4\\setup.exe\"", 0, true, 0x30000, true, 2},
    // The setup program's own codes pass through unchanged, after clean-up and recording.
    {"setup exits 7", "shipped_mszip", L"--test-exit-code=7", true, nullptr, 7, true, 0, true, 1},
    {"setup exits with the high bit set", "members_bn", L"--test-exit-code=0xC0000005", true, nullptr, 0xC0000005, true, 0, true, 1},
    {"setup exits 108 like an installer code", "members_bn", L"--test-exit-code=108", true, nullptr, 108, true, 0, true, 1},
    // Unpacking failures: trimmed, cleaned, recorded.
    {"no archive", "no_archive", L"", true, nullptr, 112, true, 2, true, 0},
    {"no setup program", "no_setup", L"", true, nullptr, 115, true, 2, true, 0},
    {"unknown name beside the archive", "unknown_name_with_archive", L"", true, nullptr, 112, true, 13, true, 0},
    {"unknown name after the archive's type", "unknown_name_after_archive", L"", true, nullptr, 115, true, 13, true, 0},
    {"two archives in one type", "two_archives_one_type", L"", true, nullptr, 112, true, 68, true, 0},
    {"two archives in two types", "two_archives_two_types", L"", true, nullptr, 115, true, 68, true, 0},
    {"setup cabinet that is none", "corrupt_cabinet", L"", true, nullptr, 115, true, 0, true, 0},
    {"truncated setup cabinet", "truncated_cabinet", L"", true, nullptr, 115, true, 0, true, 0},
    {"archive path too long", "long_archive_name", L"", true, nullptr, 108, true, 0, true, 0},
    {"archive name with a directory in it", "archive_name_invalid", L"", true, nullptr, 112, true, ERROR_INVALID_NAME, true, 0},
    {"setup name with a directory in it", "setup_name_invalid", L"", true, nullptr, 115, true, ERROR_INVALID_NAME, true, 0},
    // Install failures.
    {"setup program that is no program", "setup_not_a_program", L"", true, nullptr, 124, true, ERROR_BAD_EXE_FORMAT, true, 0},
    {"setup command line too long", "version_too_long", L"", true, nullptr, 105, true, 0, true, 0},
    {"previous version holding a tab", "version_with_tab", L"", true, nullptr, 105, true, 0, true, 0},
    // The installed program's path holds "1.2.3.4\", so the lookup would accept it: the version
    // is refused before the patch program could start.
    {"patch whose previous version ends in a backslash", "patch_version_backslash", L"", true, L"\"{dir}installed\\1.2.3.4\\setup.exe\"", 105, true, 0, true, 0},
    {"patch program exits 0 without writing setup.exe", "patch", L"--test-no-new-setup", true, L"{dir}installed\\1.2.3.4\\setup.exe", 122, true, 0xFFFFFFFF, true, 1},
    // Patch failures: the patch goes with the clean-up however the patch step ended.
    {"no UninstallString", "patch", L"", true, nullptr, 110, true, ERROR_FILE_NOT_FOUND, true, 0},
    {"installed version differs", "patch", L"", true, L"{dir}installed\\1.2.3.5\\setup.exe", 111, true, 0, true, 0},
    // Only a full local path is run: a relative one would be found in the current directory (the
    // downloads folder, typically), a UNC path on another machine.
    {"relative UninstallString", "patch", L"", true, L"installed\\1.2.3.4\\setup.exe", 110, true, ERROR_BAD_PATHNAME, true, 0},
    {"UNC UninstallString", "patch", L"", true, L"\\\\localhost\\share\\1.2.3.4\\setup.exe", 110, true, ERROR_BAD_PATHNAME, true, 0},
    {"installed program missing", "patch", L"", true, L"{dir}installed\\1.2.3.4\\gone.exe", 119, true, 0xFFFFFFFF, true, 0},
    {"installed program's directory missing", "patch", L"", true, L"{dir}1.2.3.4\\nowhere\\setup.exe", 120, true, 0xFFFFFFFF, true, 0},
    {"installed program is no program", "patch", L"", true, L"{dir}installed\\1.2.3.4\\readme.txt", 121, true, ERROR_BAD_EXE_FORMAT, true, 0},
    // The failing patch program has written setup.exe before it failed: that goes too.
    {"patch program fails", "patch", L"--test-exit-code=9", true, L"{dir}installed\\1.2.3.4\\setup.exe", 9, true, 0, true, 1},
    // Ends before anything is created or recorded.
    {"unsupported switch", "shipped_mszip", L"--cleanup", true, nullptr, 118, false, 0, false, 0},
    {"unsupported frame switch", "shipped_mszip", L"--LUMORA-FRAME", true, nullptr, 118, false, 0, false, 0},
    // A missing client-state key gets nothing, and the run still installs.
    {"no client-state key", "shipped_mszip", L"", false, nullptr, 0, false, 0, false, 1},
    {"no client-state key, failure", "no_setup", L"", false, nullptr, 115, false, 0, false, 0},
};

void PrintTo(const Scenario& s, std::ostream* out) { *out << s.name; }

class InstallerRun : public testing::TestWithParam<Scenario> {
 protected:
  void SetUp() override {
    state_.Remove();
    SetCleanupSwitch(nullptr);
  }
  void TearDown() override { state_.Remove(); }
  ClientState state_;
};

TEST_P(InstallerRun, Scenario) {
  const Scenario& s = GetParam();
  std::wstring dir;
  RunOutcome run;
  for (int tries = 0; tries < 2; ++tries) {
    state_.Remove();
    dir = FreshDirectory(s.image + std::string("_") + std::to_string(&s - kScenarios));
    if (s.key_exists) {
      ASSERT_TRUE(state_.SetText(kApValue, L""));
    }
    InstallSetupProgram(dir);
    if (s.uninstall != nullptr) {
      ASSERT_TRUE(state_.SetText(kUninstallStringValue, Replace(s.uninstall, L"{dir}", dir)));
    }
    run = RunImage(s.image, dir, s.arguments);
    if (!WineFailedToStartAFreshProgram(run, state_)) break;
    std::printf("Wine failed to start a freshly written program; running the scenario again\n");
  }

  EXPECT_EQ(run.exit_code, s.code) << std::hex << "0x" << run.exit_code;
  EXPECT_EQ(static_cast<int>(run.setup_commands.size()), s.setup_runs);
  EXPECT_EQ(state_.Exists(scratch::kView32), s.key_exists) << "the installer never creates the key";
  if (s.key_exists) {
    EXPECT_EQ(state_.Text(kApValue), s.tagged ? L"-full" : L"");
    if (!s.recorded) {
      EXPECT_EQ(state_.Dword(kInstallerResultValue), kNone);
      EXPECT_EQ(state_.Dword(kInstallerExtraCode1Value), kNone);
    } else if (s.code == 0) {
      EXPECT_EQ(state_.Dword(kInstallerResultValue), kNone);
      EXPECT_EQ(state_.Dword(kInstallerErrorValue), kNone);
      EXPECT_EQ(state_.Dword(kInstallerExtraCode1Value), s.extra);
    } else {
      EXPECT_EQ(state_.Dword(kInstallerResultValue), 1u);
      EXPECT_EQ(state_.Dword(kInstallerErrorValue), s.code);
      EXPECT_EQ(state_.Dword(kInstallerExtraCode1Value), s.extra);
    }
  }

  // Nothing stays beside the installer (the installed program's directory aside).
  std::vector<std::wstring> left;
  for (const std::wstring& name : run.left_over) {
    if (name.rfind(L"installed", 0) != 0) left.push_back(name);
  }
  EXPECT_TRUE(left.empty()) << Join(left);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, InstallerRun, testing::ValuesIn(kScenarios), NameOfRow());

// --- what the setup program is given ------------------------------------------------------------

class InstallerRunDetail : public testing::Test {
 protected:
  void SetUp() override {
    state_.Remove();
    SetCleanupSwitch(nullptr);
  }
  void TearDown() override {
    state_.Remove();
    SetCleanupSwitch(nullptr);
  }
  ClientState state_;
};

TEST_F(InstallerRunDetail, InstallCommandLinesAndTail) {
  struct Case {
    const char* image;
    const wchar_t* arguments;
    const wchar_t* archive_switch;
    const wchar_t* archive_name;
  };
  const Case cases[] = {
      {"shipped_mszip", L"--verbose  \"quoted arg\"\t--system-level-not", L"install-archive", L"LUMORA.PACKED.7Z"},
      {"members_bn", L"", L"uncompressed-archive", L"LUMORA.ARCHIVE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image);
    ASSERT_TRUE(state_.SetText(kApValue, L""));
    const std::wstring dir = FreshDirectory(std::string("command_") + c.image);
    const RunOutcome run = RunImage(c.image, dir, c.arguments);
    ASSERT_EQ(run.exit_code, 0u);
    ASSERT_EQ(run.setup_commands.size(), 1u);
    const std::wstring work = WorkDirIn(run.setup_commands[0], dir);
    ASSERT_FALSE(work.empty()) << Narrow(run.setup_commands[0]);
    std::wstring expected = L"\"" + work + L"setup.exe\" --" + c.archive_switch + L"=\"" + work +
                            c.archive_name + L"\"";
    if (*c.arguments != 0) expected += std::wstring(L" ") + c.arguments;
    EXPECT_EQ(Narrow(run.setup_commands[0]), Narrow(expected));
    EXPECT_TRUE(run.left_over.empty()) << Join(run.left_over);
  }
}

TEST_F(InstallerRunDetail, PatchCommandLinesAndSystemLevel) {
  ClientState machine(true);
  std::wstring dir;
  std::wstring installed;
  RunOutcome run;
  for (int tries = 0; tries < 2; ++tries) {
    machine.Remove();
    dir = FreshDirectory("patch_commands");
    InstallSetupProgram(dir);
    installed = dir + L"installed\\1.2.3.4\\setup.exe";
    ASSERT_TRUE(machine.SetText(kUninstallStringValue, L"\"" + installed + L"\""));
    ASSERT_TRUE(machine.SetText(kApValue, L"beta"));
    run = RunImage("patch", dir, L"--system-level --keep");
    if (!WineFailedToStartAFreshProgram(run, machine)) break;
  }
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.setup_commands.size(), 2u);
  const std::wstring work = WorkDirIn(run.setup_commands[1], dir);
  ASSERT_FALSE(work.empty());
  EXPECT_EQ(Narrow(run.setup_commands[0]),
            Narrow(L"\"" + installed + L"\" --update-setup-exe=\"" + work +
                   L"SETUP.PATCH\" --new-setup-exe=\"" + work +
                   L"setup.exe\" --system-level --keep"));
  EXPECT_EQ(Narrow(run.setup_commands[1]),
            Narrow(L"\"" + work + L"setup.exe\" --install-archive=\"" + work +
                   L"LUMORA.PACKED.7Z\" --previous-version=\"1.2.3.4\" --system-level --keep"));
  // The machine-wide key, where the 32-bit updater reads it.
  EXPECT_EQ(machine.Text(kApValue), L"beta-full");
  EXPECT_EQ(machine.Dword(kInstallerExtraCode1Value), 0x30000u);
  EXPECT_FALSE(machine.Exists(scratch::kView64)) << "nothing in the 64-bit view";
  EXPECT_FALSE(state_.Exists(scratch::kView32)) << "nothing under the current user";
  machine.Remove();
}

// --- client state across runs --------------------------------------------------------------------

TEST_F(InstallerRunDetail, TagSurvivesFailureAndSuccessKeepsEarlierFailure) {
  ASSERT_TRUE(state_.SetText(kApValue, L"stable-arch_x64"));
  const RunOutcome failed = RunImage("no_setup", FreshDirectory("tag_failure"), L"");
  EXPECT_EQ(failed.exit_code, 115u);
  EXPECT_EQ(state_.Text(kApValue), L"stable-arch_x64-full");
  EXPECT_EQ(state_.Dword(kInstallerResultValue), 1u);
  EXPECT_EQ(state_.Dword(kInstallerErrorValue), 115u);
  EXPECT_EQ(state_.Dword(kInstallerExtraCode1Value), 2u);

  // A second failure keeps the first record.
  const RunOutcome again = RunImage("no_archive", FreshDirectory("tag_failure_again"), L"");
  EXPECT_EQ(again.exit_code, 112u);
  EXPECT_EQ(state_.Dword(kInstallerErrorValue), 115u);
  EXPECT_EQ(state_.Text(kApValue), L"stable-arch_x64-full") << "tagged once";

  const RunOutcome succeeded = RunImage("shipped_mszip", FreshDirectory("tag_success"), L"");
  EXPECT_EQ(succeeded.exit_code, 0u);
  EXPECT_EQ(state_.Dword(kInstallerResultValue), 1u);
  EXPECT_EQ(state_.Dword(kInstallerErrorValue), 115u);
  EXPECT_EQ(state_.Dword(kInstallerExtraCode1Value), 0x30000u);
}

TEST_F(InstallerRunDetail, RemovalSwitchedOffLeavesEverything) {
  SetCleanupSwitch(L"0");
  ASSERT_TRUE(state_.SetText(kApValue, L""));
  const std::wstring dir = FreshDirectory("no_removal");
  const RunOutcome run = RunImage("shipped_mszip", dir, L"");
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.left_over.size(), 3u) << Join(run.left_over);
  EXPECT_EQ(run.left_over[1].substr(13), L"LUMORA.PACKED.7Z");
  EXPECT_EQ(run.left_over[2].substr(13), L"setup.exe") << "the cabinet itself is gone";
  // Only the cabinet's removal was counted: one attempt, no retry.
  EXPECT_EQ(state_.Dword(kInstallerExtraCode1Value), 0x30000u);
}

// --- paths at their limits ------------------------------------------------------------------------

TEST_F(InstallerRunDetail, WorkDirectoryBaseAtItsLimit) {
  // 246 units of directory leave exactly room for "LM_", five digits, ".tmp", "\" and the
  // terminator: the work directory is made and tagging happens; only the archive's path no longer
  // fits, which is a recorded unpacking failure.
  ASSERT_TRUE(state_.SetText(kApValue, L""));
  const std::wstring fits = FreshDirectory("base_246", 246);
  ASSERT_EQ(fits.size(), 246u);
  const RunOutcome made = RunImage("members_bn", fits, L"");
  EXPECT_EQ(made.exit_code, 108u);
  EXPECT_EQ(state_.Text(kApValue), L"-full");
  EXPECT_EQ(state_.Dword(kInstallerErrorValue), 108u) << "recorded: the payload's path";
  EXPECT_TRUE(made.left_over.empty()) << Join(made.left_over);

  // One unit more and the work directory's name cannot fit: nothing is created, tagged or recorded.
  state_.Remove();
  ASSERT_TRUE(state_.SetText(kApValue, L""));
  const std::wstring too_long = FreshDirectory("base_247", 247);
  ASSERT_EQ(too_long.size(), 247u);
  const RunOutcome refused = RunImage("members_bn", too_long, L"");
  EXPECT_EQ(refused.exit_code, 108u);
  EXPECT_TRUE(refused.left_over.empty()) << Join(refused.left_over);
  EXPECT_EQ(state_.Text(kApValue), L"") << "not tagged";
  EXPECT_EQ(state_.Dword(kInstallerResultValue), kNone) << "not recorded";
}

TEST_F(InstallerRunDetail, RebuiltSetupPathTooLongEndsAtOnce) {
  // 239 units of directory: the work directory holds "LUMORA" and "SETUP", but not "setup.exe".
  ASSERT_TRUE(state_.SetText(kApValue, L""));
  const std::wstring dir = FreshDirectory("rebuilt_too_long", 239);
  ASSERT_TRUE(state_.SetText(kUninstallStringValue, L"C:\\nowhere\\1.2.3.4\\setup.exe"));
  const RunOutcome run = RunImage("patch_short_names", dir, L"");
  EXPECT_EQ(run.exit_code, 108u);
  EXPECT_TRUE(run.setup_commands.empty());
  EXPECT_EQ(state_.Text(kApValue), L"-full");
  EXPECT_EQ(state_.Dword(kInstallerResultValue), kNone) << "not recorded";
  ASSERT_EQ(run.left_over.size(), 3u) << "work directory and both members stay: " << Join(run.left_over);
}

// A program planted where a relative value leads: a downloads folder, the current directory of the
// installer started from it, holds "1.2.3.4\setup.exe", and "UninstallString" names that relative
// path. Before, the planted program ran as the patch program. A UNC path is refused the same way,
// before any attempt to reach the machine it names.
TEST_F(InstallerRunDetail, PlantedRelativeOrUncUninstallStringIsNeverRun) {
  const struct {
    const char* name;
    const wchar_t* uninstall;
  } cases[] = {
      {"relative", L"1.2.3.4\\setup.exe"},
      {"quoted relative", L"\"1.2.3.4\\setup.exe\""},
      {"UNC", L"\\\\127.0.0.1\\downloads\\1.2.3.4\\setup.exe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    state_.Remove();
    ASSERT_TRUE(state_.SetText(kApValue, L""));
    const std::wstring dir = FreshDirectory(std::string("planted_") + c.name);
    fs::create_directories(fs::path(dir + L"1.2.3.4"));
    ASSERT_TRUE(CopyFileW(LUMORA_SAMPLE_SETUP, (dir + L"1.2.3.4\\setup.exe").c_str(), FALSE));
    ASSERT_TRUE(state_.SetText(kUninstallStringValue, c.uninstall));
    const ULONGLONG start = GetTickCount64();
    const RunOutcome run = RunImage("patch", dir, L"", dir);
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_EQ(run.exit_code, 110u);
    EXPECT_TRUE(run.setup_commands.empty()) << "the planted program ran";
    EXPECT_EQ(state_.Dword(kInstallerErrorValue), 110u);
    EXPECT_EQ(state_.Dword(kInstallerExtraCode1Value), static_cast<uint32_t>(ERROR_BAD_PATHNAME));
    EXPECT_EQ(run.left_over, std::vector<std::wstring>({L"1.2.3.4", L"1.2.3.4\\setup.exe"}))
        << "the patch went with the clean-up";
    // Nothing waits for a directory that the patch kept full (it took 10 s before).
    EXPECT_LT(took, 5000u);
  }
}

// --- other processes -------------------------------------------------------------------------------

TEST_F(InstallerRunDetail, ArchiveHeldAfterSetupExitsIsRemovedWithRetries) {
  ASSERT_TRUE(state_.SetText(kApValue, L""));
  const std::wstring dir = FreshDirectory("held_archive");
  // The setup program leaves a process behind that holds the archive, without delete sharing,
  // for 450 ms after the setup program itself has exited.
  const RunOutcome run = RunImage("shipped_mszip", dir, L"--test-hold-archive-ms=450");
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_TRUE(run.left_over.empty()) << Join(run.left_over);
  const uint32_t word = state_.Dword(kInstallerExtraCode1Value);
  EXPECT_GE(word, 0x30000u + 2) << std::hex << word;
  // A loaded machine stretches the hold; the bound only says it ended well before 100 attempts.
  EXPECT_LE(word, 0x30000u + 40) << std::hex << word;
}

TEST_F(InstallerRunDetail, TwoInstallersAtOnceUseTwoWorkDirectories) {
  ASSERT_TRUE(state_.SetText(kApValue, L""));
  const std::wstring dir = FreshDirectory("two_at_once");
  const std::wstring copy = dir + kInstallerName;
  ASSERT_TRUE(CopyFileW((std::wstring(LUMORA_RUN_IMAGES) + L"\\shipped_mszip.exe").c_str(), copy.c_str(), FALSE));
  const std::wstring record = RunRoot() + L"\\record.txt";
  DeleteFileW(record.c_str());
  SetEnvironmentVariableW(L"LUMORA_SETUP_TEST_RECORD", record.c_str());
  ChildProcess first(copy, L"--test-sleep-ms=300");
  ChildProcess second(copy, L"--test-sleep-ms=300");
  EXPECT_EQ(first.Wait(), 0u);
  EXPECT_EQ(second.Wait(), 0u);
  SetEnvironmentVariableW(L"LUMORA_SETUP_TEST_RECORD", nullptr);
  const std::vector<std::wstring> commands = ReadRecord(record);
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_NE(WorkDirIn(commands[0], dir), WorkDirIn(commands[1], dir));
  EXPECT_FALSE(WorkDirIn(commands[0], dir).empty());
  std::vector<std::wstring> left = ListTree(dir);
  EXPECT_EQ(left.size(), 1u) << Join(left);
}

// --- payloads attached without the project's tools --------------------------------------------

// The bare stub with resources written by the platform's own resource updater, and the setup
// program in an LZX cabinet (window 2^18) as the shipped image carries it.
TEST_F(InstallerRunDetail, BareStubWithResourcesFromUpdateResourceAndAnLzxCabinet) {
  ASSERT_TRUE(state_.SetText(kApValue, L""));
  const std::wstring dir = FreshDirectory("update_resource_lzx");
  const std::wstring image = dir + L"stub-copy.exe";
  ASSERT_TRUE(CopyFileW(LUMORA_BARE_STUB, image.c_str(), FALSE));
  const std::vector<uint8_t> archive = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0, 4, 'd', 'a', 't', 'a'};
  cab::File setup;
  setup.name = "setup.exe";
  const std::vector<uint8_t> program = FileBytes(LUMORA_SAMPLE_SETUP);
  setup.data = program;
  const std::vector<uint8_t> cabinet = cab::Build({setup}, cab::kLzx18);
  ASSERT_TRUE(UpdateResources(
      image, {{L"B7", L"LUMORA.PACKED.7Z", archive}, {L"BL", L"SETUP.EX_", cabinet}}));
  // Run it as the installer: the copy under the installer's name.
  ASSERT_TRUE(MoveFileW(image.c_str(), (dir + kInstallerName).c_str()));
  const RunOutcome run = RunInstaller(dir, L"--from-update-resource");
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.setup_commands.size(), 1u) << "the setup program expanded from LZX ran";
  const std::wstring work = WorkDirIn(run.setup_commands[0], dir);
  EXPECT_EQ(Narrow(run.setup_commands[0]),
            Narrow(L"\"" + work + L"setup.exe\" --install-archive=\"" + work +
                   L"LUMORA.PACKED.7Z\" --from-update-resource"));
  EXPECT_EQ(state_.Dword(kInstallerExtraCode1Value), 0x30000u);
  EXPECT_EQ(ListTree(dir).size(), 1u) << Join(ListTree(dir));
}

// Member names that no packer writes but anyone can attach to the bare stub. The installer's
// folder holds a victim file that a name leaving the work directory would reach; each such run
// ends with its code, records it, and leaves the folder as it found it.
TEST_F(InstallerRunDetail, HostileMemberNamesEndTheRunAndTouchNothingOutside) {
  struct Case {
    const char* name;
    const wchar_t* archive_name;
    const wchar_t* setup_type;
    const wchar_t* setup_name;
    uint32_t code;
    uint32_t extra;
  };
  // The names of the shared table that would reach beyond the work directory if used.
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "the stub's UTF-16 units");
  std::vector<Case> cases;
  for (const HostileName& h : kHostileNames) {
    if (!h.escapes) continue;
    const wchar_t* name = reinterpret_cast<const wchar_t*>(h.name);
    const bool archive = h.member == PayloadMember::kArchive;
    cases.push_back({h.what, archive ? name : L"LUMORA.PACKED.7Z",
                     PayloadTypeName(h.setup_type).wide, archive ? L"SETUP.EX_" : name, h.code,
                     h.extra});
  }
  ASSERT_GE(cases.size(), 7u);
  const std::vector<uint8_t> archive = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0, 4, 'd', 'a', 't', 'a'};
  cab::File setup_file;
  setup_file.name = "setup.exe";
  const std::vector<uint8_t> program = FileBytes(LUMORA_SAMPLE_SETUP);
  setup_file.data = program;
  const std::vector<uint8_t> cabinet = cab::Build({setup_file}, cab::kNone);
  const std::string victim_text = "the victim's own bytes\n";
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    state_.Remove();
    ASSERT_TRUE(state_.SetText(kApValue, L""));
    ASSERT_TRUE(state_.SetText(kUninstallStringValue, L"C:\\nowhere\\setup.exe"));
    const std::wstring dir = FreshDirectory("hostile_" + std::to_string(index++));
    std::ofstream(fs::path(dir + L"VICTIM.TXT"), std::ios::binary) << victim_text;
    const std::wstring image = dir + L"stub-copy.exe";
    ASSERT_TRUE(CopyFileW(LUMORA_BARE_STUB, image.c_str(), FALSE));
    const std::vector<uint8_t>& setup = std::wstring(c.setup_type) == L"BL" ? cabinet : program;
    ASSERT_TRUE(UpdateResources(
        image, {{L"B7", c.archive_name, archive}, {c.setup_type, c.setup_name, setup}}));
    ASSERT_TRUE(MoveFileW(image.c_str(), (dir + kInstallerName).c_str()));

    const RunOutcome run = RunInstaller(dir, L"");
    EXPECT_EQ(run.exit_code, c.code);
    EXPECT_TRUE(run.setup_commands.empty()) << "no setup program ran";
    EXPECT_EQ(state_.Dword(kInstallerResultValue), 1u);
    EXPECT_EQ(state_.Dword(kInstallerErrorValue), c.code);
    EXPECT_EQ(state_.Dword(kInstallerExtraCode1Value), c.extra);
    std::ifstream victim{fs::path(dir + L"VICTIM.TXT"), std::ios::binary};
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), {}), victim_text);
    // The work directory came and went; nothing else appeared.
    EXPECT_EQ(ListTree(dir), std::vector<std::wstring>({L"VICTIM.TXT", kInstallerName}))
        << Join(ListTree(dir));
  }
}

// While the setup program runs, another process (this test) tries to rename the work directory
// away and put a link to a folder of its own in its place, which the clean-up would then follow
// and empty. The run holds the directory open without delete sharing, so the rename is refused,
// the folder keeps its files and the work directory is still removed at the end.
TEST_F(InstallerRunDetail, WorkDirectoryCannotBeSwappedWhileTheSetupProgramRuns) {
  ASSERT_TRUE(state_.SetText(kApValue, L""));
  const std::wstring dir = FreshDirectory("held_work_dir");
  const std::wstring target = dir + L"target\\";
  fs::create_directories(fs::path(target));
  for (const wchar_t* name : {L"LUMORA.PACKED.7Z", L"setup.exe"}) {
    std::ofstream(fs::path(target + name)) << "someone else's file\n";
  }
  const std::wstring copy = dir + kInstallerName;
  ASSERT_TRUE(CopyFileW((std::wstring(LUMORA_RUN_IMAGES) + L"\\shipped_mszip.exe").c_str(),
                        copy.c_str(), FALSE));
  ChildProcess installer(copy, L"--test-sleep-ms=3000");
  ASSERT_TRUE(installer.Started());
  // The work directory, once the setup program is in it.
  std::wstring work;
  for (int waited = 0; waited < 2000 && work.empty(); ++waited) {
    for (const auto& entry : fs::directory_iterator(fs::path(dir))) {
      const std::wstring name = entry.path().filename().wstring();
      if (name.rfind(L"LM_", 0) == 0 && fs::exists(entry.path() / L"setup.exe")) {
        work = entry.path().wstring();
      }
    }
    if (work.empty()) Sleep(10);
  }
  ASSERT_FALSE(work.empty()) << "the setup program never appeared";
  const BOOL moved = MoveFileExW(work.c_str(), (dir + L"moved").c_str(), 0);
  const DWORD rename_error = GetLastError();
  if (moved) {
    // What the hold is there to prevent: the clean-up would delete the target's files.
    CreateSymbolicLinkW(work.c_str(), target.substr(0, target.size() - 1).c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY);
  }
  EXPECT_FALSE(moved) << "the work directory was renamed while the run held it";
  EXPECT_TRUE(rename_error == ERROR_SHARING_VIOLATION || rename_error == ERROR_ACCESS_DENIED)
      << rename_error;
  EXPECT_FALSE(RemoveDirectoryW(work.c_str()));
  EXPECT_EQ(installer.Wait(), 0u);
  EXPECT_TRUE(fs::exists(fs::path(target + L"LUMORA.PACKED.7Z")));
  EXPECT_TRUE(fs::exists(fs::path(target + L"setup.exe")));
  EXPECT_FALSE(fs::exists(fs::path(work))) << "the work directory is removed at the end";
  EXPECT_EQ(state_.Dword(kInstallerExtraCode1Value), 0x30000u);
}

// On a volume where nothing can be created, ten names are tried and the run ends with nothing
// created, tagged or recorded.
TEST_F(InstallerRunDetail, WorkDirectoryCannotBeCreated) {
  const std::wstring installer = std::wstring(LUMORA_READ_ONLY_VOLUME) + L"\\inst.exe";
  if (GetFileAttributesW(installer.c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "no read-only volume was mounted (mounting needs root)";
  }
  ASSERT_TRUE(state_.SetText(kApValue, L""));
  const uint32_t code = RunChild(installer, L"");
  EXPECT_EQ(code, 109u);
  EXPECT_EQ(ListTree(LUMORA_READ_ONLY_VOLUME).size(), 1u);
  EXPECT_EQ(state_.Text(kApValue), L"") << "not tagged";
  EXPECT_EQ(state_.Dword(kInstallerResultValue), kNone) << "not recorded";
}

}  // namespace
