// pack interrupted midway by SIGINT, SIGTERM or SIGHUP, while it compresses the setup program
// into its cabinet (OUT.cab-* and the cabinet staged over it) and while it writes the installer
// (OUT.partial-*): the packer removes its temporary files and ends killed by the same signal, as
// a caller (make, a CI runner, a shell) expects, and nothing appears under the output name.
// The Linux build only: Wine does not turn these signals into the console events the Windows
// build removes its temporaries on (Ctrl+C, Ctrl+Break, the console closed), so that a test here
// could not tell the Windows behaviour.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "pack_fixture.h"

namespace {

class PackInterrupted : public PackFixture {
 protected:
  // Starts the packer in the fixture's directory with default signal handling (a test runner
  // may ignore some signals, and a child would inherit that), its output discarded.
  pid_t Start(const std::string& args) {
    const std::string command = "exec " + PackerCommand() + " " + args + " >/dev/null 2>&1";
    const pid_t pid = fork();
    if (pid == 0) {
      for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
      if (chdir(dir_.c_str()) == 0) execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
      _exit(127);
    }
    return pid;
  }
  // Whether a file whose name holds marker appears in the directory within a minute.
  bool Appears(const std::string& marker) {
    for (int i = 0; i < 6000; ++i) {
      for (const std::string& name : DirectoryEntries()) {
        if (name.find(marker) != std::string::npos) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
};

TEST_F(PackInterrupted, RemovesItsTemporariesAndEndsByTheSignal) {
  if (PackerIsWindowsBuild()) GTEST_SKIP() << "Wine does not deliver these signals as console events";
  // A setup program that takes seconds to compress, and an archive that takes seconds to copy
  // (a sparse file: it takes no room where it is read from).
  std::vector<uint8_t> large_setup = setup_;
  const std::vector<uint8_t> tail = PatternBytes(24 << 20, 3);
  large_setup.insert(large_setup.end(), tail.begin(), tail.end());
  WriteFileBytes(Path("large-setup.exe"), large_setup);
  ASSERT_EQ(truncate(Path("app.7z").c_str(), 1536 << 20), 0);
  struct Phase {
    const char* what;
    const char* args;
    const char* temporary;  // a part of the temporary file's name that shows the phase began
  } const phases[] = {
      {"compressing the setup cabinet", "--setup large-setup.exe", ".cab-"},
      {"writing the installer", "--setup-type BN", "out.exe.partial-"},
  };
  for (const Phase& phase : phases) {
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
      SCOPED_TRACE(std::string(phase.what) + ", signal " + std::to_string(signal_number));
      const pid_t pid = Start(Args(phase.args));
      ASSERT_GT(pid, 0);
      const bool began = Appears(phase.temporary);
      // Well into the phase: the temporary file has grown.
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      kill(pid, signal_number);
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(began);
      ASSERT_TRUE(WIFSIGNALED(status)) << "the packer finished first, or ended with status "
                                       << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
      EXPECT_EQ(WTERMSIG(status), signal_number);
      for (const std::string& name : DirectoryEntries()) {
        EXPECT_EQ(name.find("out.exe"), std::string::npos) << name << " was left";
      }
    }
  }
}

}  // namespace
