#include "files/remove_with_retry.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files/extracted_files.h"
#include "files/removal_calls.h"
#include "support/case_name.h"
#include "support/child_process.h"
#include "support/handles.h"
#include "support/scratch_directory.h"

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
  Holder(const std::wstring& path, bool share_delete)
      : tag_(std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++count_)),
        ready_(CreateEventW(nullptr, TRUE, FALSE, (L"lumora-holder-ready-" + tag_).c_str())),
        release_(CreateEventW(nullptr, TRUE, FALSE, (L"lumora-holder-release-" + tag_).c_str())),
        child_(HolderProgram(), L"\"" + path + L"\" lumora-holder-ready-" + tag_ +
                                    L" lumora-holder-release-" + tag_ +
                                    (share_delete ? L" share-delete" : L"")) {
    if (!child_.Started()) return;
    HANDLE waits[2] = {ready_, child_.Handle()};
    held_ = WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
  }
  ~Holder() {
    Release();
    CloseHandle(ready_);
    CloseHandle(release_);
  }
  bool Held() const { return held_; }
  // Returns the holder's exit code once it has closed the file and ended.
  uint32_t Release() {
    SetEvent(release_);
    return child_.Wait();
  }

 private:
  static int count_;
  std::wstring tag_;
  HANDLE ready_;
  HANDLE release_;
  ChildProcess child_;
  bool held_ = false;
};
int Holder::count_ = 0;

// What a case puts under the scratch directory before the removal; it returns the path to remove.
using Make = std::wstring (*)(const ScratchDirectory&);

std::wstring Missing(const ScratchDirectory& scratch) { return scratch / L"absent.bin"; }
std::wstring MissingDirectory(const ScratchDirectory& scratch) {
  return scratch / L"absent\\deeper.bin";
}
std::wstring PlainFile(const ScratchDirectory& scratch) {
  ScratchDirectory::WriteFile(scratch / L"plain.bin");
  return scratch / L"plain.bin";
}
std::wstring ReadOnlyFile(const ScratchDirectory& scratch) {
  const std::wstring path = scratch / L"read-only.bin";
  ScratchDirectory::WriteFile(path);
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  return path;
}
std::wstring EmptyDirectory(const ScratchDirectory& scratch) {
  CreateDirectoryW((scratch / L"empty").c_str(), nullptr);
  return scratch / L"empty\\";
}
std::wstring DirectoryWithAFile(const ScratchDirectory& scratch) {
  CreateDirectoryW((scratch / L"full").c_str(), nullptr);
  ScratchDirectory::WriteFile(scratch / L"full\\inside.bin");
  return scratch / L"full\\";
}

struct RealCase {
  const char* name;
  Make make;
  bool there;  // the path exists before the removal
  bool held;   // another process holds the path, without delete sharing, throughout
  bool removed;
  int32_t attempts;
  int sleeps;
  const wchar_t* stays;  // what must still be there afterwards, below the scratch directory
};

const RealCase kRealCases[] = {
    {"missing path", Missing, false, false, true, 1, 0, nullptr},
    {"path of a missing directory", MissingDirectory, false, false, true, 1, 0, nullptr},
    {"plain file", PlainFile, true, false, true, 1, 0, nullptr},
    // The mark is denied, the bit cleared, the mark repeated: no wait.
    {"read-only file", ReadOnlyFile, true, false, true, 1, 0, nullptr},
    {"empty directory named with a trailing backslash", EmptyDirectory, true, false, true, 1, 0,
     nullptr},
    {"directory that still holds a file", DirectoryWithAFile, true, false, false, 100, 99,
     L"full\\inside.bin"},
    {"file held through every attempt", PlainFile, true, true, false, 100, 99, L"plain.bin"},
};

class RealRemovalCases : public RealRemoval, public ::testing::WithParamInterface<RealCase> {};

TEST_P(RealRemovalCases, RemovesOrGivesUpAsCounted) {
  const RealCase& c = GetParam();
  const std::wstring path = c.make(scratch_);
  ASSERT_EQ(ScratchDirectory::Exists(path), c.there);
  std::unique_ptr<Holder> holder;
  if (c.held) {
    holder = std::make_unique<Holder>(path, false);
    ASSERT_TRUE(holder->Held());
  }
  int32_t attempts = 77;
  EXPECT_EQ(RemoveWithRetry(path.c_str(), attempts), c.removed);
  EXPECT_EQ(attempts, c.attempts);
  EXPECT_EQ(sleeps_.sleeps, c.sleeps);
  if (holder != nullptr) EXPECT_EQ(holder->Release(), 0u);
  EXPECT_EQ(ScratchDirectory::Exists(path), !c.removed);
  if (c.stays != nullptr) EXPECT_TRUE(ScratchDirectory::Exists(scratch_ / c.stays));
}

INSTANTIATE_TEST_SUITE_P(Paths, RealRemovalCases, ::testing::ValuesIn(kRealCases), NameOfRow());

// The holder lets go during the k-th wait; the removal then succeeds on attempt k + 1. Without
// delete sharing the deletion handle cannot be opened; with it the mark is accepted but stays
// pending, and the reopen is denied, until the holder's handle closes.
TEST_F(RealRemoval, FileHeldByAnotherProcess) {
  for (bool share_delete : {false, true}) {
    for (int release_at : {1, 3}) {
      SCOPED_TRACE(std::string(share_delete ? "share-delete " : "") + std::to_string(release_at));
      std::wstring path = scratch_ / (L"held-" + std::to_wstring(share_delete) + L"-" +
                                      std::to_wstring(release_at) + L".bin");
      ASSERT_TRUE(ScratchDirectory::WriteFile(path));
      Holder holder(path, share_delete);
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
}

// The link goes, the object it points at stays as it was.
TEST_F(RealRemoval, SymbolicLinkIsRemovedItself) {
  std::wstring target_file = scratch_ / L"target.bin";
  std::wstring target_directory = scratch_ / L"target-directory";
  ASSERT_TRUE(ScratchDirectory::WriteFile(target_file, "kept"));
  ASSERT_TRUE(CreateDirectoryW(target_directory.c_str(), nullptr));
  ASSERT_TRUE(ScratchDirectory::WriteFile(target_directory + L"\\inside.bin"));
  std::wstring file_link = scratch_ / L"file-link";
  std::wstring directory_link = scratch_ / L"directory-link";
  if (!CreateSymbolicLinkW(file_link.c_str(), target_file.c_str(),
                           SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    GTEST_SKIP() << "this Wine cannot create symbolic links (CreateSymbolicLinkW error "
                 << GetLastError() << ")";
  }
  ASSERT_TRUE(CreateSymbolicLinkW(directory_link.c_str(), target_directory.c_str(),
                                  SYMBOLIC_LINK_FLAG_DIRECTORY |
                                      SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE));
  for (const std::wstring& link : {file_link, directory_link}) {
    int32_t attempts = 0;
    EXPECT_TRUE(RemoveWithRetry(link.c_str(), attempts));
    EXPECT_EQ(attempts, 1);
    EXPECT_FALSE(ScratchDirectory::Exists(link));
  }
  EXPECT_EQ(sleeps_.sleeps, 0);
  char content[8] = {};
  DWORD read = 0;
  HANDLE file = CreateFileW(target_file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ReadFile(file, content, sizeof(content), &read, nullptr);
  CloseHandle(file);
  EXPECT_EQ(std::string(content, read), "kept");
  EXPECT_TRUE(ScratchDirectory::Exists(target_directory + L"\\inside.bin"));
}

// What a run leaves: the archive and the setup program, held, inside the work directory, which
// the run holds open too. Each hold is released just before its removal, the directory last, so
// nothing waits.
TEST_F(RealRemoval, ExtractedFilesThenTheWorkDirectory) {
  std::wstring work = scratch_ / L"LM_00000.tmp\\";
  ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
  HeldDirectory held;
  ASSERT_EQ(held.Hold(work.c_str()), 0u);
  ExtractedFiles files;
  for (const wchar_t* name : {L"LUMORA.PACKED.7Z", L"setup.exe"}) {
    ExtractedFile* entry = files.Add(work.c_str(), name);
    ASSERT_NE(entry, nullptr);
    ASSERT_EQ(entry->file.Create(entry->path.text), 0u);
    ASSERT_EQ(entry->file.Seal(nullptr, 0), 0u);
    entry->stays = true;
  }
  int32_t max_attempts = 0;
  RemoveExtracted(files, true, work.c_str(), held, max_attempts);
  EXPECT_EQ(max_attempts, 1);
  EXPECT_EQ(sleeps_.sleeps, 0);
  EXPECT_FALSE(held.IsHeld());
  EXPECT_FALSE(files[0].file.IsHeld());
  EXPECT_FALSE(files[1].file.IsHeld());
  EXPECT_FALSE(ScratchDirectory::Exists(work));
}

// Removal switched off: what stays keeps its hold and its place, and the directory stays with it;
// what does not stay (a patch, a file whose writing failed) goes all the same.
TEST_F(RealRemoval, WithRemovalSwitchedOffOnlyWhatDoesNotStayGoes) {
  std::wstring work = scratch_ / L"LM_00002.tmp\\";
  ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
  HeldDirectory held;
  ASSERT_EQ(held.Hold(work.c_str()), 0u);
  ExtractedFiles files;
  const struct {
    const wchar_t* name;
    bool stays;
  } entries[] = {{L"LUMORA.PACKED.7Z", true}, {L"SETUP.PATCH", false}, {L"setup.exe", true}};
  for (const auto& e : entries) {
    ExtractedFile* entry = files.Add(work.c_str(), e.name);
    ASSERT_NE(entry, nullptr);
    ASSERT_EQ(entry->file.Create(entry->path.text), 0u);
    ASSERT_EQ(entry->file.Seal(nullptr, 0), 0u);
    entry->stays = e.stays;
  }
  int32_t max_attempts = 0;
  RemoveExtracted(files, false, work.c_str(), held, max_attempts);
  EXPECT_EQ(max_attempts, 1);
  EXPECT_EQ(ListTree(scratch_.Path()),
            std::vector<std::wstring>({L"LM_00002.tmp", L"LM_00002.tmp\\LUMORA.PACKED.7Z",
                                       L"LM_00002.tmp\\setup.exe"}));
  EXPECT_TRUE(files[0].file.IsHeld());
  EXPECT_FALSE(files[1].file.IsHeld());
  EXPECT_TRUE(files[2].file.IsHeld());
  EXPECT_TRUE(held.IsHeld());
}

TEST_F(RealRemoval, AnEmptyListRemovesTheWorkDirectoryAlone) {
  std::wstring work = scratch_ / L"LM_00001.tmp\\";
  ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
  int32_t max_attempts = 0;
  HeldDirectory none;
  ExtractedFiles files;
  RemoveExtracted(files, true, work.c_str(), none, max_attempts);
  EXPECT_EQ(max_attempts, 1);
  EXPECT_FALSE(ScratchDirectory::Exists(work));
}

// ---- Exact error sequences, replayed through the seam ----

enum class Call { kOpenDelete, kOpenAttributes, kMark, kReadBasic, kWriteBasic, kSleep };
const char* Name(Call call) {
  switch (call) {
    case Call::kOpenDelete: return "open for deletion";
    case Call::kOpenAttributes: return "open for attributes";
    case Call::kMark: return "mark";
    case Call::kReadBasic: return "read attributes";
    case Call::kWriteBasic: return "write attributes";
    case Call::kSleep: return "sleep";
  }
  return "?";
}

// One expected platform call and how it ends: error 0 is success.
struct Step {
  Call call;
  DWORD error = 0;
  DWORD attributes = 0;  // what a read of the attributes reports
  std::wstring path = L"";  // empty: the path of the case
};

constexpr LARGE_INTEGER Time(LONGLONG value) {
  LARGE_INTEGER time{};
  time.QuadPart = value;
  return time;
}

struct Replay {
  std::wstring path;
  std::vector<Step> steps;
  size_t next = 0;
  std::vector<std::string> faults;
  std::vector<HANDLE> handles;  // every handle an open handed out, in order
  std::vector<DWORD> written;
  std::vector<std::wstring> deletion_paths;

  // The step this call must be, or an unknown error that ends any removal.
  Step Take(Call call, const wchar_t* at = nullptr) {
    if (next >= steps.size()) {
      faults.push_back(std::string("unexpected ") + Name(call) + " after the script");
      return {call, ERROR_INVALID_FUNCTION};
    }
    Step step = steps[next++];
    if (step.call != call) {
      faults.push_back("step " + std::to_string(next - 1) + ": " + Name(call) + " instead of " +
                       Name(step.call));
      return {call, ERROR_INVALID_FUNCTION};
    }
    if (at != nullptr) {
      std::wstring expected = step.path.empty() ? path : step.path;
      if (expected != at) faults.push_back("step " + std::to_string(next - 1) + ": other path");
    }
    return step;
  }
};
Replay* g_replay = nullptr;

HANDLE WINAPI ReplayCreateFile(LPCWSTR path, DWORD access, DWORD share,
                               LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                               HANDLE model) {
  Replay& replay = *g_replay;
  if (share != 7 || security != nullptr || disposition != OPEN_EXISTING || flags != 0x2200000 ||
      model != nullptr) {
    replay.faults.push_back("open with other sharing, disposition or flags");
  }
  Call call = Call::kOpenDelete;
  if (access == 0x180) {
    call = Call::kOpenAttributes;
  } else if (access != 0x10000) {
    replay.faults.push_back("open with access " + std::to_string(access));
  }
  if (call == Call::kOpenDelete) replay.deletion_paths.push_back(path);
  Step step = replay.Take(call, path);
  if (step.error != 0) {
    SetLastError(step.error);
    return INVALID_HANDLE_VALUE;
  }
  // A real handle, so that the loop's own closing of it can be seen for real.
  const HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  replay.handles.push_back(handle);
  return handle;
}

// The handle must be the one the last open handed out, and still open.
void ExpectOpen(HANDLE handle) {
  const auto& handles = g_replay->handles;
  if (handles.empty() || handles.back() != handle || !HandleIsOpen(handle)) {
    g_replay->faults.push_back("call on a handle that is not the open one");
  }
}

const LARGE_INTEGER kTimes[4] = {Time(1111), Time(2222), Time(3333), Time(4444)};

BOOL WINAPI ReplaySet(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID data, DWORD size) {
  Replay& replay = *g_replay;
  ExpectOpen(handle);
  Call call = Call::kMark;
  if (kind == FileDispositionInfo) {
    if (size != 1 || static_cast<FILE_DISPOSITION_INFO*>(data)->DeleteFile != TRUE) {
      replay.faults.push_back("mark without a one-byte TRUE");
    }
  } else if (kind == FileBasicInfo && size == 40) {
    call = Call::kWriteBasic;
    auto* basic = static_cast<FILE_BASIC_INFO*>(data);
    replay.written.push_back(basic->FileAttributes);
    if (basic->CreationTime.QuadPart != kTimes[0].QuadPart ||
        basic->LastAccessTime.QuadPart != kTimes[1].QuadPart ||
        basic->LastWriteTime.QuadPart != kTimes[2].QuadPart ||
        basic->ChangeTime.QuadPart != kTimes[3].QuadPart) {
      replay.faults.push_back("times not written back as read");
    }
  } else {
    replay.faults.push_back("set of another class or size");
  }
  Step step = replay.Take(call);
  SetLastError(step.error);
  return step.error == 0;
}

BOOL WINAPI ReplayGet(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID data, DWORD size) {
  Replay& replay = *g_replay;
  ExpectOpen(handle);
  if (kind != FileBasicInfo || size != 40) replay.faults.push_back("read of another class");
  for (DWORD i = 0; i < size; ++i) {
    if (static_cast<BYTE*>(data)[i] != 0) {
      replay.faults.push_back("attribute record not cleared before the read");
      break;
    }
  }
  Step step = replay.Take(Call::kReadBasic);
  if (step.error != 0) {
    SetLastError(step.error);
    return FALSE;
  }
  auto* basic = static_cast<FILE_BASIC_INFO*>(data);
  basic->CreationTime = kTimes[0];
  basic->LastAccessTime = kTimes[1];
  basic->LastWriteTime = kTimes[2];
  basic->ChangeTime = kTimes[3];
  basic->FileAttributes = step.attributes;
  return TRUE;
}

void WINAPI ReplaySleep(DWORD milliseconds) {
  if (milliseconds != 100) g_replay->faults.push_back("sleep of another length");
  g_replay->Take(Call::kSleep);
}

class ReplayedRemoval : public ::testing::Test {
 protected:
  void SetUp() override {
    g_replay = &replay_;
    g_removal_calls = {&ReplayCreateFile, &ReplaySet, &ReplayGet, &ReplaySleep};
  }
  void TearDown() override {
    g_removal_calls = {};
    g_replay = nullptr;
  }
  void Start(std::vector<Step> steps) {
    replay_ = {};
    replay_.path = L"C:\\work\\LM_12345.tmp\\setup.exe";
    replay_.steps = std::move(steps);
  }
  // Everything scripted happened, nothing else did, and every handle was closed.
  void ExpectScriptPlayed() {
    EXPECT_EQ(replay_.next, replay_.steps.size());
    for (const std::string& fault : replay_.faults) ADD_FAILURE() << fault;
    for (HANDLE handle : replay_.handles) EXPECT_FALSE(HandleIsOpen(handle)) << "left open";
  }
  Replay replay_;
};

constexpr DWORD kSharing = ERROR_SHARING_VIOLATION;
constexpr DWORD kDenied = ERROR_ACCESS_DENIED;
constexpr DWORD kReadOnly = FILE_ATTRIBUTE_READONLY;
const Step kOpenD{Call::kOpenDelete};
const Step kOpenA{Call::kOpenAttributes};
const Step kMark{Call::kMark};
const Step kWrite{Call::kWriteBasic};
const Step kWait{Call::kSleep};
const Step kGone{Call::kOpenDelete, ERROR_FILE_NOT_FOUND};
Step OpenD(DWORD error) { return {Call::kOpenDelete, error}; }
Step OpenA(DWORD error) { return {Call::kOpenAttributes, error}; }
Step Mark(DWORD error) { return {Call::kMark, error}; }
Step Read(DWORD attributes, DWORD error = 0) { return {Call::kReadBasic, error, attributes}; }
Step Write(DWORD error) { return {Call::kWriteBasic, error}; }

struct SequenceCase {
  const char* name;
  std::vector<Step> steps;
  bool removed;
  int32_t attempts;
  std::vector<DWORD> written;  // the attributes written back, in order
};

const SequenceCase kSequences[] = {
    {"gone from the start", {kGone}, true, 1},
    {"path of a missing directory", {OpenD(ERROR_PATH_NOT_FOUND)}, true, 1},
    {"plain file", {kOpenD, kMark, kGone}, true, 1},
    {"sharing violations, then gone",
     {OpenD(kSharing), kWait, OpenD(kSharing), kWait, kGone}, true, 3},
    {"directory not empty, then emptied", {kOpenD, Mark(ERROR_DIR_NOT_EMPTY), kWait, kGone},
     true, 2},
    {"denial without a read-only bit is waited out",
     {OpenD(kDenied), kOpenA, Read(FILE_ATTRIBUTE_ARCHIVE), kWait, kGone}, true, 2},
    {"denial, attributes cannot be opened", {OpenD(kDenied), OpenA(kDenied), kWait, kGone}, true,
     2},
    {"denial, attributes cannot be read",
     {OpenD(kDenied), kOpenA, Read(0, ERROR_INVALID_PARAMETER), kWait, kGone}, true, 2},
    {"read-only file beside other attributes",
     {kOpenD, Mark(kDenied), kOpenA, Read(kReadOnly | FILE_ATTRIBUTE_ARCHIVE), kWrite, kOpenD,
      kMark, kGone},
     true, 1, {FILE_ATTRIBUTE_ARCHIVE}},
    // Zero would mean "leave the attributes unchanged" and keep the bit.
    {"read-only is the only attribute",
     {kOpenD, Mark(kDenied), kOpenA, Read(kReadOnly), kWrite, kOpenD, kMark, kGone}, true, 1,
     {FILE_ATTRIBUTE_NORMAL}},
    {"read-only bit cannot be cleared",
     {kOpenD, Mark(kDenied), kOpenA, Read(kReadOnly), Write(kDenied), kWait, kGone}, true, 2,
     {FILE_ATTRIBUTE_NORMAL}},
    {"read-only cleared, mark still denied: one free retry, then a wait",
     {kOpenD, Mark(kDenied), kOpenA, Read(kReadOnly), kWrite, kOpenD, Mark(kDenied), kWait,
      kGone},
     true, 2, {FILE_ATTRIBUTE_NORMAL}},
    {"deletion pending behind another handle",
     {kOpenD, kMark, OpenD(kDenied), OpenA(kDenied), kWait, kGone}, true, 2},
    {"mark accepted, yet the path opens again",
     {kOpenD, kMark, kOpenD, kMark, kWait, kGone}, true, 2},
    {"unknown error from the open", {OpenD(ERROR_INVALID_NAME)}, false, 1},
    {"unknown error from the mark", {kOpenD, Mark(ERROR_NOT_SUPPORTED)}, false, 1},
    {"unknown error after waits",
     {OpenD(kSharing), kWait, OpenD(kSharing), kWait, OpenD(ERROR_INVALID_PARAMETER)}, false, 3},
};

class ReplayedSequences : public ReplayedRemoval,
                          public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(ReplayedSequences, EndAsTheErrorsSay) {
  const SequenceCase& c = GetParam();
  Start(c.steps);
  int32_t attempts = -5;
  EXPECT_EQ(RemoveWithRetry(replay_.path.c_str(), attempts), c.removed);
  EXPECT_EQ(attempts, c.attempts);
  EXPECT_EQ(replay_.written, c.written);
  ExpectScriptPlayed();
}

INSTANTIATE_TEST_SUITE_P(Errors, ReplayedSequences, ::testing::ValuesIn(kSequences), NameOfRow());

// What the platform keeps answering on every attempt.
struct EndlessCase {
  const char* name;
  std::vector<Step> attempt;
};

const EndlessCase kEndless[] = {
    {"sharing violation", {OpenD(kSharing)}},
    {"directory not empty", {kOpenD, Mark(ERROR_DIR_NOT_EMPTY)}},
    {"unexplained denial", {OpenD(kDenied), kOpenA, Read(FILE_ATTRIBUTE_ARCHIVE)}},
    {"mark accepted, path stays openable", {kOpenD, kMark, kOpenD, kMark}},
    {"read-only bit that keeps coming back",
     {kOpenD, Mark(kDenied), kOpenA, Read(kReadOnly), kWrite, kOpenD, Mark(kDenied)}},
};

class EndlessAnswers : public ReplayedRemoval, public ::testing::WithParamInterface<EndlessCase> {};

// Whatever the platform keeps answering, the loop ends after 100 attempts and 99 waits.
TEST_P(EndlessAnswers, EndAfterOneHundredAttempts) {
  std::vector<Step> steps;
  for (int attempt = 1; attempt <= 100; ++attempt) {
    steps.insert(steps.end(), GetParam().attempt.begin(), GetParam().attempt.end());
    if (attempt < 100) steps.push_back(kWait);
  }
  Start(steps);
  int32_t attempts = 0;
  EXPECT_FALSE(RemoveWithRetry(replay_.path.c_str(), attempts));
  EXPECT_EQ(attempts, 100);
  ExpectScriptPlayed();
}

INSTANTIATE_TEST_SUITE_P(Answers, EndlessAnswers, ::testing::ValuesIn(kEndless), NameOfRow());

TEST_F(ReplayedRemoval, RemoveExtractedFoldsEveryCountAndNeverLowersTheMaximum) {
  const std::wstring work = L"C:\\w\\LM_1.tmp\\";
  const std::wstring archive = work + L"LUMORA.PACKED.7Z";
  const std::wstring setup = work + L"setup.exe";
  auto at = [](Step step, const std::wstring& path) {
    step.path = path;
    return step;
  };
  auto listed = [&work](ExtractedFiles& files, std::initializer_list<const wchar_t*> names) {
    for (const wchar_t* name : names) ASSERT_NE(files.Add(work.c_str(), name), nullptr);
  };
  // Archive: 2 attempts, setup program: 3, work directory: 1.
  const std::vector<Step> steps = {
      at(OpenD(kSharing), archive), kWait, at(kGone, archive),
      at(OpenD(kSharing), setup),   kWait, at(OpenD(kSharing), setup), kWait, at(kGone, setup),
      at(kGone, work)};
  struct Case {
    int32_t before;
    int32_t after;
  } cases[] = {{0, 3}, {-1, 3}, {2, 3}, {3, 3}, {50, 50}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    Start(steps);
    int32_t max_attempts = c.before;
    HeldDirectory none;
    ExtractedFiles files;
    listed(files, {L"LUMORA.PACKED.7Z", L"setup.exe"});
    RemoveExtracted(files, true, work.c_str(), none, max_attempts);
    EXPECT_EQ(max_attempts, c.after);
    EXPECT_EQ(replay_.deletion_paths,
              std::vector<std::wstring>({archive, archive, setup, setup, setup, work}));
    ExpectScriptPlayed();
  }
  // Nothing listed: only the work directory, which still counts.
  Start({at(OpenD(kSharing), work), kWait, at(kGone, work)});
  int32_t max_attempts = 0;
  HeldDirectory none;
  ExtractedFiles files;
  RemoveExtracted(files, true, work.c_str(), none, max_attempts);
  EXPECT_EQ(max_attempts, 2);
  EXPECT_EQ(replay_.deletion_paths, std::vector<std::wstring>({work, work}));
  ExpectScriptPlayed();
}

// A file removed early (the cabinet once expanded, the patch once applied) counts its attempts
// into the run's maximum at once, is released, and leaves the list: the clean-up does not look for
// it again, whether its removal succeeded or not.
TEST_F(ReplayedRemoval, RemoveEarlyFoldsItsCountAndTheEntryLeavesTheList) {
  const std::wstring work = L"C:\\w\\LM_2.tmp\\";
  auto at = [](Step step, const std::wstring& path) {
    step.path = path;
    return step;
  };
  const struct {
    const char* what;
    std::vector<Step> early;
    int32_t after_early;
  } cases[] = {
      {"gone after two waits", {OpenD(kSharing), kWait, OpenD(kSharing), kWait, kGone}, 3},
      {"not removed at all", {OpenD(ERROR_INVALID_NAME)}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ExtractedFiles files;
    ExtractedFile* archive = files.Add(work.c_str(), L"LUMORA.PACKED.7Z");
    ExtractedFile* cabinet = files.Add(work.c_str(), L"SETUP.EX_");
    ExtractedFile* setup = files.Add(work.c_str(), L"setup.exe");
    ASSERT_NE(setup, nullptr);
    std::vector<Step> early;
    for (const Step& step : c.early) early.push_back(at(step, cabinet->path.text));
    Start(early);
    int32_t max_attempts = 0;
    RemoveEarly(*cabinet, max_attempts);
    EXPECT_EQ(max_attempts, c.after_early);
    EXPECT_FALSE(cabinet->listed);
    EXPECT_TRUE(archive->listed);
    EXPECT_TRUE(setup->listed);
    ExpectScriptPlayed();

    // The clean-up: the archive, setup.exe and the directory, each at once.
    Start({at(kGone, archive->path.text), at(kGone, setup->path.text), at(kGone, work)});
    HeldDirectory none;
    RemoveExtracted(files, true, work.c_str(), none, max_attempts);
    EXPECT_EQ(max_attempts, c.after_early) << "the early count stays in the run's maximum";
    EXPECT_EQ(replay_.deletion_paths,
              std::vector<std::wstring>({archive->path.text, setup->path.text, work}));
    ExpectScriptPlayed();
  }
}

}  // namespace
