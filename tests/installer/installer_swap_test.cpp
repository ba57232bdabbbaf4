// Three swaps of an installer's extracted files, raced for real: while an installer runs, another
// process of ours (run/swap_racer.cpp) watches its folder and, as fast as it can, tries to rename
// setup.exe aside and put its own program in its place, to write its own program over setup.exe, or
// to rename the archive aside and put another 7z archive in its place. Wine keeps no access lists,
// as on a FAT32 or exFAT volume on Windows, so only the run's holds stand in the way. The race
// lasts from before the work directory exists until the setup program has read what it was given.
// No rename ever succeeds. A write can land in the moment between a file's writer closing and its
// seal (held_file.h); the seal then sees it and the run ends with the write's failure instead.
// Either way the attacker's program never runs and its archive is never installed: a run that goes
// on runs the genuine setup program with the genuine archive. (Once the setup program has exited,
// the clean-up lets go of each file just before deleting it; a rename then changes nothing the run
// does.)
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "base/exit_result.h"
#include "installer/run/installer_runs.h"
#include "support/case_name.h"

namespace {

using namespace installer_runs;

struct Race {
  const char* name;
  const char* image;
  const char* mode;  // the racer's
  bool installs;     // the sample setup program installs from the archive
};

const Race kRaces[] = {
    {"rename setup.exe aside, uncompressed", "members_bn", "rename-setup", false},
    {"rename setup.exe aside, from a cabinet", "shipped_mszip", "rename-setup", false},
    {"overwrite setup.exe, uncompressed", "members_bn", "overwrite-setup", false},
    {"overwrite setup.exe, from a cabinet", "shipped_mszip", "overwrite-setup", false},
    {"swap the archive", "sample_archive", "swap-archive", true},
};

void PrintTo(const Race& race, std::ostream* out) { *out << race.name; }

class SwapRace : public testing::TestWithParam<Race> {
 protected:
  void SetUp() override {
    state_.Remove();
    SetCleanupSwitch(nullptr);
  }
  void TearDown() override {
    state_.Remove();
    SetEnvironmentVariableW(L"LUMORA_ATTACKER_MARKER", nullptr);
    SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", nullptr);
  }
  ClientState state_;
  int refused_ = 0;
};

TEST_P(SwapRace, FailsAndTheGenuineSetupProgramRuns) {
  const Race& race = GetParam();
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    state_.Remove();
    ASSERT_TRUE(state_.SetText(kApValue, L""));
    const std::wstring dir = FreshDirectory("race_" + std::string(race.mode) + "_" +
                                            race.image + "_" + std::to_string(round));
    const std::wstring scratch = FreshDirectory("race_scratch_" + std::to_string(round));
    const std::wstring marker = scratch + L"attacker-ran";
    // The setup program's record: the race ends shortly after it appears.
    const std::wstring record = RunRoot() + L"\\record.txt";
    DeleteFileW(record.c_str());
    const std::wstring stop = scratch + L"stop";
    const std::wstring report = scratch + L"report.txt";
    const std::wstring root = scratch + L"installed";
    SetEnvironmentVariableW(L"LUMORA_ATTACKER_MARKER", marker.c_str());
    SetEnvironmentVariableW(L"LUMORA_SAMPLE_INSTALL_ROOT", race.installs ? root.c_str() : nullptr);
    const std::wstring payload = race.installs
                                     ? std::wstring(LUMORA_RUN_PAYLOAD) + L"\\attacker.7z"
                                     : std::wstring(LUMORA_RACER);

    // The folder without its final backslash, which would escape the closing quote.
    const std::wstring folder = dir.substr(0, dir.size() - 1);
    ChildProcess racer(LUMORA_RACER, Widen(race.mode) + L" \"" + folder + L"\" \"" + payload +
                                         L"\" \"" + record + L"\" \"" + stop + L"\" \"" +
                                         report + L"\"");
    ASSERT_TRUE(racer.Started());
    // The setup program lingers, so that the race is over before the clean-up.
    const RunOutcome run = RunImage(race.image, dir, L"--test-sleep-ms=600");
    ScratchDirectory::WriteFile(stop);
    EXPECT_EQ(racer.Wait(), 0u);

    std::ifstream in{fs::path(report)};
    unsigned long attempts = 0, swapped = 0, last_error = 0;
    std::string line;
    std::getline(in, line);
    ASSERT_EQ(std::sscanf(line.c_str(), "attempts=%lu swapped=%lu last_error=%lu", &attempts,
                          &swapped, &last_error),
              3)
        << line;
    std::printf("[ race ] %s, round %d: %lu attempts, %lu swapped, last error %lu; exit %u, %u\n",
                race.name, round, attempts, swapped, last_error, run.exit_code,
                state_.Dword(kInstallerExtraCode1Value));
    EXPECT_GT(attempts, 0u) << "the racer never met the file: the race shows nothing";
    EXPECT_FALSE(ScratchDirectory::Exists(marker)) << "the attacker's program ran";
    const bool overwrite = std::string(race.mode) == "overwrite-setup";
    if (!overwrite) EXPECT_EQ(swapped, 0u) << "a rename went through";
    if (run.exit_code != 0) {
      // Refused, with the error of the write that the seal caught.
      EXPECT_TRUE(overwrite) << run.exit_code;
      EXPECT_TRUE(run.exit_code == EXIT_SETUP_WRITE_FAILED ||
                  run.exit_code == EXIT_SETUP_UNPACK_FAILED)
          << run.exit_code;
      const uint32_t extra = state_.Dword(kInstallerExtraCode1Value);
      EXPECT_TRUE(extra == ERROR_FILE_INVALID || extra == ERROR_SHARING_VIOLATION ||
                  run.exit_code == EXIT_SETUP_UNPACK_FAILED)
          << extra;
      EXPECT_TRUE(run.setup_commands.empty());
      ++refused_;
    } else {
      EXPECT_EQ(run.setup_commands.size(), 1u) << "the genuine setup program ran once";
    }
    if (race.installs) {
      EXPECT_TRUE(ScratchDirectory::Exists(root + L"\\1.0.0.0\\VERSION"));
      EXPECT_FALSE(ScratchDirectory::Exists(root + L"\\6.6.6.6")) << "the attacker's archive";
    }
    EXPECT_TRUE(run.left_over.empty()) << Join(run.left_over);
  }
  std::printf("[ race ] %s: %d of 3 runs refused, the rest ran the genuine setup program\n",
              race.name, refused_);
}

INSTANTIATE_TEST_SUITE_P(Races, SwapRace, testing::ValuesIn(kRaces), NameOfRow());

}  // namespace
