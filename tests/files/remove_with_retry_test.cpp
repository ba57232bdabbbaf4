#include "files/remove_with_retry.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "files/removal_calls.h"
#include "files/scratch_directory.h"

namespace {

// Waits are counted instead of slept; a test may act during the k-th wait (release a holder).
struct SleepCounter {
  int sleeps = 0;
  std::vector<DWORD> durations;
  std::function<void(int)> on_sleep;
};
SleepCounter* g_sleeps = nullptr;

void WINAPI CountSleep(DWORD milliseconds) {
  ++g_sleeps->sleeps;
  g_sleeps->durations.push_back(milliseconds);
  if (g_sleeps->on_sleep) g_sleeps->on_sleep(g_sleeps->sleeps);
}

// Real file operations, counted waits.
class RealRemoval : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.Ok());
    g_sleeps = &sleeps_;
    g_removal_calls = {};
    g_removal_calls.sleep = &CountSleep;
  }
  void TearDown() override {
    g_removal_calls = {};
    g_sleeps = nullptr;
  }
  ScratchDirectory scratch_;
  SleepCounter sleeps_;
};

std::wstring HolderProgram() {
  wchar_t own[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring path(own, length);
  return path.substr(0, path.rfind(L'\\') + 1) + L"file_holder.exe";
}

// Another process holding a file open until Release.
class Holder {
 public:
  Holder(const std::wstring& path, bool share_delete) {
    std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++count_);
    std::wstring ready_name = L"lumora-holder-ready-" + tag;
    std::wstring release_name = L"lumora-holder-release-" + tag;
    ready_ = CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str());
    release_ = CreateEventW(nullptr, TRUE, FALSE, release_name.c_str());
    std::wstring command = L"\"" + HolderProgram() + L"\" \"" + path + L"\" " + ready_name + L" " +
                           release_name + (share_delete ? L" share-delete" : L"");
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
      CloseHandle(process.hThread);
      process_ = process.hProcess;
      HANDLE waits[2] = {ready_, process_};
      held_ = WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
    }
  }
  ~Holder() {
    Release();
    CloseHandle(ready_);
    CloseHandle(release_);
  }
  bool Held() const { return held_; }
  // Returns the holder's exit code once it has closed the file and ended.
  DWORD Release() {
    if (process_ == nullptr) return exit_code_;
    SetEvent(release_);
    WaitForSingleObject(process_, 30000);
    GetExitCodeProcess(process_, &exit_code_);
    CloseHandle(process_);
    process_ = nullptr;
    return exit_code_;
  }

 private:
  static int count_;
  HANDLE ready_ = nullptr;
  HANDLE release_ = nullptr;
  HANDLE process_ = nullptr;
  bool held_ = false;
  DWORD exit_code_ = 1;
};
int Holder::count_ = 0;

TEST_F(RealRemoval, MissingPathIsGoneAtOnce) {
  int32_t attempts = 77;
  EXPECT_TRUE(RemoveWithRetry((scratch_ / L"absent.bin").c_str(), attempts));
  EXPECT_EQ(attempts, 1);
  EXPECT_TRUE(RemoveWithRetry((scratch_ / L"absent\\deeper.bin").c_str(), attempts));
  EXPECT_EQ(attempts, 1);
  EXPECT_EQ(sleeps_.sleeps, 0);
}

TEST_F(RealRemoval, PlainFile) {
  std::wstring path = scratch_ / L"plain.bin";
  ASSERT_TRUE(ScratchDirectory::WriteFile(path));
  int32_t attempts = 0;
  EXPECT_TRUE(RemoveWithRetry(path.c_str(), attempts));
  EXPECT_EQ(attempts, 1);
  EXPECT_EQ(sleeps_.sleeps, 0);
  EXPECT_FALSE(ScratchDirectory::Exists(path));
}

TEST_F(RealRemoval, ReadOnlyFileLosesTheBitWithoutWaiting) {
  std::wstring path = scratch_ / L"read-only.bin";
  ASSERT_TRUE(ScratchDirectory::WriteFile(path));
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  int32_t attempts = 0;
  EXPECT_TRUE(RemoveWithRetry(path.c_str(), attempts));
  EXPECT_EQ(attempts, 1);
  EXPECT_EQ(sleeps_.sleeps, 0);
  EXPECT_FALSE(ScratchDirectory::Exists(path));
}

// The holder lets go during the k-th wait; the removal then succeeds on attempt k + 1.
TEST_F(RealRemoval, FileHeldByAnotherProcessWithoutDeleteSharing) {
  for (int release_at : {1, 3}) {
    SCOPED_TRACE(release_at);
    std::wstring path = scratch_ / (L"held-" + std::to_wstring(release_at) + L".bin");
    ASSERT_TRUE(ScratchDirectory::WriteFile(path));
    Holder holder(path, false);
    ASSERT_TRUE(holder.Held());
    sleeps_ = {};
    sleeps_.on_sleep = [&](int sleep) {
      if (sleep == release_at) EXPECT_EQ(holder.Release(), 0u);
    };
    int32_t attempts = 0;
    EXPECT_TRUE(RemoveWithRetry(path.c_str(), attempts));
    EXPECT_EQ(attempts, release_at + 1);
    EXPECT_EQ(sleeps_.sleeps, release_at);
    EXPECT_EQ(sleeps_.durations, std::vector<DWORD>(release_at, 100));
    EXPECT_FALSE(ScratchDirectory::Exists(path));
  }
}

TEST_F(RealRemoval, FileHeldThroughEveryAttempt) {
  std::wstring path = scratch_ / L"held-long.bin";
  ASSERT_TRUE(ScratchDirectory::WriteFile(path));
  Holder holder(path, false);
  ASSERT_TRUE(holder.Held());
  int32_t attempts = 0;
  EXPECT_FALSE(RemoveWithRetry(path.c_str(), attempts));
  EXPECT_EQ(attempts, 100);
  EXPECT_EQ(sleeps_.sleeps, 99);
  EXPECT_EQ(holder.Release(), 0u);
  EXPECT_TRUE(ScratchDirectory::Exists(path));
}

TEST_F(RealRemoval, EmptyDirectoryNamedWithTrailingBackslash) {
  std::wstring path = scratch_ / L"empty\\";
  ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
  int32_t attempts = 0;
  EXPECT_TRUE(RemoveWithRetry(path.c_str(), attempts));
  EXPECT_EQ(attempts, 1);
  EXPECT_EQ(sleeps_.sleeps, 0);
  EXPECT_FALSE(ScratchDirectory::Exists(path));
}

TEST_F(RealRemoval, DirectoryThatStillHoldsAFileStays) {
  std::wstring directory = scratch_ / L"full\\";
  ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
  ASSERT_TRUE(ScratchDirectory::WriteFile(directory + L"inside.bin"));
  int32_t attempts = 0;
  EXPECT_FALSE(RemoveWithRetry(directory.c_str(), attempts));
  EXPECT_EQ(attempts, 100);
  EXPECT_EQ(sleeps_.sleeps, 99);
  EXPECT_TRUE(ScratchDirectory::Exists(directory + L"inside.bin"));
}

}  // namespace
