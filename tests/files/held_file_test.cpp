// What another party may do to a file the run holds, at each stage: while it is written, once it
// is sealed, and for a file another program wrote and the run then held; what creating it over
// something already there gives; and the list that names every such file.
#include "files/held_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "files/content_match.h"
#include "files/extracted_files.h"
#include "support/file_bytes.h"
#include "support/handles.h"
#include "support/import_redirect.h"
#include "support/scratch_directory.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

const uint8_t* Bytes(const char* text) { return reinterpret_cast<const uint8_t*>(text); }

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

// Another party opening the file; 0 when it could, else its error.
DWORD TryOpen(const std::wstring& path, DWORD access, DWORD share) {
  HANDLE other = CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (other == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(other);
  return ERROR_SUCCESS;
}

DWORD TryRename(const std::wstring& path) {
  const std::wstring aside = path + L".aside";
  if (MoveFileExW(path.c_str(), aside.c_str(), 0)) {
    MoveFileExW(aside.c_str(), path.c_str(), 0);
    return ERROR_SUCCESS;
  }
  return GetLastError();
}

class HeldFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch_.Ok()); }
  ScratchDirectory scratch_;
};

enum class Stage { kWriting, kSealed, kHeldAfterAnotherProgram };

struct Attempt {
  const char* what;
  DWORD access;
  DWORD share;
  // Expected for each stage, in the order of Stage.
  DWORD writing, sealed, held;
};

// Reading is refused while the file is written only to a reader that does not share writing,
// as the writer is open then; writing, renaming and deleting are refused at every stage.
const Attempt kAttempts[] = {
    {"read, sharing everything", GENERIC_READ, kShareAll, 0, 0, 0},
    {"read, sharing reading", GENERIC_READ, FILE_SHARE_READ, ERROR_SHARING_VIOLATION, 0, 0},
    // How Windows opens a program to start it.
    {"read and execute, sharing reading and deletion", GENERIC_READ | GENERIC_EXECUTE,
     FILE_SHARE_READ | FILE_SHARE_DELETE, ERROR_SHARING_VIOLATION, 0, 0},
    {"write", GENERIC_WRITE, kShareAll, ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION,
     ERROR_SHARING_VIOLATION},
    {"append", FILE_APPEND_DATA, kShareAll, ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION,
     ERROR_SHARING_VIOLATION},
    {"delete", DELETE, kShareAll, ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION,
     ERROR_SHARING_VIOLATION},
};

TEST_F(HeldFileTest, OthersMayOnlyReadAtEveryStage) {
  const std::wstring path = scratch_ / L"setup.exe";
  HeldFile file;
  for (Stage stage : {Stage::kWriting, Stage::kSealed, Stage::kHeldAfterAnotherProgram}) {
    SCOPED_TRACE(static_cast<int>(stage));
    if (stage == Stage::kWriting) {
      ASSERT_EQ(file.Create(path.c_str()), 0u);
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(file.Writer(), "MZ", 2, &written, nullptr));
    } else if (stage == Stage::kSealed) {
      ASSERT_EQ(file.Seal(Bytes("MZ"), 2), 0u);
      EXPECT_EQ(file.Writer(), INVALID_HANDLE_VALUE);
    } else {
      file.Release();
      ASSERT_EQ(file.Hold(path.c_str()), 0u);
    }
    EXPECT_TRUE(file.IsHeld());
    for (const Attempt& a : kAttempts) {
      const DWORD expected =
          stage == Stage::kWriting ? a.writing : stage == Stage::kSealed ? a.sealed : a.held;
      EXPECT_EQ(TryOpen(path, a.access, a.share), expected) << a.what;
    }
    EXPECT_EQ(TryRename(path), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileW(path.c_str()));
  }
  file.Release();
  EXPECT_FALSE(file.IsHeld());
  EXPECT_EQ(TryRename(path), 0u) << "released: the file is anyone's again";
  EXPECT_TRUE(DeleteFileW(path.c_str()));
}

// The sealed file reads back what was written, through the hold itself.
TEST_F(HeldFileTest, SealedFileReadsBackWhatWasWritten) {
  const std::wstring path = scratch_ / L"LUMORA.PACKED.7Z";
  HeldFile file;
  ASSERT_EQ(file.Create(path.c_str()), 0u);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.Writer(), "7z archive", 10, &written, nullptr));
  ASSERT_EQ(file.Seal(Bytes("7z archive"), 10), 0u);
  char read_back[16] = {};
  DWORD read = 0;
  HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(ReadFile(reader, read_back, sizeof(read_back), &read, nullptr));
  CloseHandle(reader);
  EXPECT_EQ(std::string(read_back, read), "7z archive");
}

// Anything at the path before the creation means someone raced in: nothing is held, and what was
// there is left as it was.
TEST_F(HeldFileTest, CreationRefusesWhatIsAlreadyThere) {
  const std::wstring file_there = scratch_ / L"file";
  ASSERT_TRUE(ScratchDirectory::WriteFile(file_there, "someone else's"));
  const std::wstring directory_there = scratch_ / L"directory";
  ASSERT_TRUE(CreateDirectoryW(directory_there.c_str(), nullptr));
  const struct {
    const char* what;
    std::wstring path;
    DWORD error;
  } cases[] = {
      {"a file", file_there, ERROR_FILE_EXISTS},
      {"a directory", directory_there, ERROR_FILE_EXISTS},
      {"a missing directory on the way", scratch_ / L"missing\\file", ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HeldFile file;
    EXPECT_EQ(file.Create(c.path.c_str()), c.error);
    EXPECT_FALSE(file.IsHeld());
    EXPECT_EQ(file.Writer(), INVALID_HANDLE_VALUE);
  }
  const std::vector<uint8_t> kept = FileBytes(file_there);
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "someone else's");
}

// A handle that still writes the file when it is sealed (here a duplicate of the writer, as the
// cabinet library holds one) makes the seal fail: a file someone may still change is never used.
TEST_F(HeldFileTest, SealFailsWhileAnyoneStillWrites) {
  const std::wstring path = scratch_ / L"setup.exe";
  HeldFile file;
  ASSERT_EQ(file.Create(path.c_str()), 0u);
  HANDLE still_writing = INVALID_HANDLE_VALUE;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), file.Writer(), GetCurrentProcess(),
                              &still_writing, 0, FALSE, DUPLICATE_SAME_ACCESS));
  EXPECT_EQ(file.Seal(nullptr, 0), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(file.IsHeld());
  CloseHandle(still_writing);
}

// Another process that opens the file for writing in the moment between the writer's close and
// the seal, writes and closes it again: played here by the seal's own reopening, redirected to do
// that first. The seal sees the content changed and holds nothing.
std::wstring g_gap_path;
std::string g_gap_bytes;
void* g_real_reopen = nullptr;
HANDLE WINAPI ReopenAfterAWriteInTheGap(HANDLE original, DWORD access, DWORD share, DWORD flags) {
  if (access == GENERIC_READ && !g_gap_path.empty()) {
    HANDLE other = CreateFileW(g_gap_path.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (other != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(other, g_gap_bytes.data(), static_cast<DWORD>(g_gap_bytes.size()), &written,
                nullptr);
      SetEndOfFile(other);
      CloseHandle(other);
    }
  }
  return reinterpret_cast<decltype(&ReOpenFile)>(g_real_reopen)(original, access, share, flags);
}

// Both checks: the genuine bytes in memory (a resource), and the digest taken as the bytes were
// written (the expanded setup program).
enum class Check { kGenuineBytes, kWrittenDigest };

TEST_F(HeldFileTest, AWriteBetweenTheWritersCloseAndTheSealIsSeen) {
  const std::wstring path = scratch_ / L"setup.exe";
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"the same length", "EVIL"},
      {"longer", "EVIL EVIL"},
      {"shorter", "EV"},
      {"the same bytes and a zero", std::string("MZ!!\0", 5)},
      {"the same bytes", "MZ!!"},  // no change, no refusal
  };
  for (Check check : {Check::kGenuineBytes, Check::kWrittenDigest}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (check == Check::kGenuineBytes ? ", bytes" : ", digest"));
      HeldFile file;
      ASSERT_EQ(file.Create(path.c_str()), 0u);
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(file.Writer(), "MZ!!", 4, &written, nullptr));
      ContentDigest digest;
      ASSERT_EQ(digest.Start(), 0u);
      digest.Add(Bytes("MZ!!"), 4);
      uint32_t sealed = 0;
      {
        ImportRedirect gap;
        g_real_reopen = gap.Redirect("kernel32.dll", "ReOpenFile",
                                     reinterpret_cast<void*>(&ReopenAfterAWriteInTheGap));
        ASSERT_NE(g_real_reopen, nullptr);
        g_gap_path = path;
        g_gap_bytes = c.bytes;
        sealed = check == Check::kGenuineBytes ? file.Seal(Bytes("MZ!!"), 4) : file.Seal(digest);
        g_gap_path.clear();
      }
      const bool changed = c.bytes != "MZ!!";
      EXPECT_EQ(sealed, changed ? static_cast<uint32_t>(ERROR_FILE_INVALID) : 0u);
      EXPECT_EQ(file.IsHeld(), !changed);
      file.Release();
      ASSERT_TRUE(DeleteFileW(path.c_str()));
    }
  }
}

// Nobody else may write the file at any moment of its creation, between the calls that make it:
// each reopening is redirected to try a write of another party's first.
std::vector<DWORD> g_tries;
HANDLE WINAPI ReopenAfterTryingAWrite(HANDLE original, DWORD access, DWORD share, DWORD flags) {
  HANDLE other = CreateFileW(g_gap_path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                             0, nullptr);
  g_tries.push_back(other == INVALID_HANDLE_VALUE ? GetLastError() : 0);
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  return reinterpret_cast<decltype(&ReOpenFile)>(g_real_reopen)(original, access, share, flags);
}

TEST_F(HeldFileTest, NobodyElseWritesWhileTheFileIsCreated) {
  const std::wstring path = scratch_ / L"setup.exe";
  HeldFile file;
  {
    ImportRedirect creation;
    g_real_reopen = creation.Redirect("kernel32.dll", "ReOpenFile",
                                      reinterpret_cast<void*>(&ReopenAfterTryingAWrite));
    ASSERT_NE(g_real_reopen, nullptr);
    g_gap_path = path;
    g_tries.clear();
    ASSERT_EQ(file.Create(path.c_str()), 0u);
    g_gap_path.clear();
  }
  ASSERT_FALSE(g_tries.empty()) << "the creation reopens nothing";
  for (DWORD error : g_tries) EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

// A file another program wrote is held only as the plain file it should be. A directory is
// refused by the open itself (a file open without backup semantics). A link is opened as itself
// and refused: on Windows it opens and is then seen to be a reparse point
// (ERROR_CANT_RESOLVE_FILENAME); Wine 8.0 does not open a link made by CreateSymbolicLinkW as
// itself and answers ERROR_FILE_NOT_FOUND. Either way nothing is held and nothing is followed.
TEST_F(HeldFileTest, HoldTakesOnlyAPlainFile) {
  const std::wstring plain = scratch_ / L"setup.exe";
  ASSERT_TRUE(ScratchDirectory::WriteFile(plain, "MZ"));
  const std::wstring directory = scratch_ / L"directory";
  ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
  const std::wstring written = scratch_ / L"written.exe";
  HANDLE writer = CreateFileW(written.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW, 0,
                              nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  const struct {
    const char* what;
    std::wstring path;
    DWORD error;
  } cases[] = {
      {"a plain file", plain, 0},
      {"a directory", directory, ERROR_ACCESS_DENIED},
      {"nothing", scratch_ / L"missing.exe", ERROR_FILE_NOT_FOUND},
      {"a file someone still writes", written, ERROR_SHARING_VIOLATION},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HeldFile file;
    EXPECT_EQ(file.Hold(c.path.c_str()), c.error);
    EXPECT_EQ(file.IsHeld(), c.error == 0);
  }
  CloseHandle(writer);

  const std::wstring link = scratch_ / L"link.exe";
  if (!CreateSymbolicLinkW(link.c_str(), plain.c_str(), 0)) {
    GTEST_SKIP() << "this Wine cannot create symbolic links (error " << GetLastError() << ")";
  }
  HeldFile file;
  const uint32_t error = file.Hold(link.c_str());
  EXPECT_TRUE(error == ERROR_CANT_RESOLVE_FILENAME || error == ERROR_FILE_NOT_FOUND) << error;
  EXPECT_FALSE(file.IsHeld());
}

TEST_F(HeldFileTest, ReleaseClosesEveryHandleAndKeepsTheLastError) {
  const std::wstring path = scratch_ / L"setup.exe";
  HeldFile file;
  ASSERT_EQ(file.Create(path.c_str()), 0u);
  const HANDLE writer = file.Writer();
  SetLastError(12345);
  file.Release();
  EXPECT_EQ(GetLastError(), 12345u);
  EXPECT_FALSE(HandleIsOpen(writer));
  EXPECT_FALSE(file.IsHeld());
  EXPECT_EQ(TryOpen(path, GENERIC_WRITE, 0), 0u) << "nothing of ours is open any more";
  file.Release();  // twice is harmless
}

// 259 units and the terminator fill the 260-unit buffer; one more unit does not fit, and no
// entry is made. The list takes the three files a run extracts at most.
TEST(ExtractedFiles, AddsWhatFitsAndNoMoreThanItsCapacity) {
  const std::wstring directory = L"C:\\work\\LM_12345.tmp\\";
  const std::wstring fits(259 - directory.size(), L'f');
  const std::wstring too_long(260 - directory.size(), L'f');
  ExtractedFiles files;
  EXPECT_EQ(files.Add(directory.c_str(), too_long.c_str()), nullptr);
  EXPECT_EQ(files.Count(), 0u);
  ExtractedFile* first = files.Add(directory.c_str(), fits.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(std::wstring(first->path.text), directory + fits);
  EXPECT_FALSE(first->stays) << "nothing stays until its step says so";
  EXPECT_FALSE(first->file.IsHeld());
  ASSERT_NE(files.Add(directory.c_str(), L"SETUP.EX_"), nullptr);
  ASSERT_NE(files.Add(directory.c_str(), L"setup.exe"), nullptr);
  EXPECT_EQ(files.Add(directory.c_str(), L"one.more"), nullptr);
  EXPECT_EQ(files.Count(), ExtractedFiles::kCapacity);
  EXPECT_EQ(&files[0], first);
  EXPECT_EQ(std::wstring(files[2].path.text), directory + L"setup.exe");
}

// The check against the genuine bytes, on files that differ from them in one byte (at each end,
// and on both sides of the boundaries of the comparison's lanes and of its reads) or in length
// (by one byte, also where one of them ends exactly at a read's end).
TEST_F(HeldFileTest, MatchContentSeesEveryDifference) {
  constexpr size_t kRead = kContentMatchReadBytes;
  std::vector<uint8_t> genuine(2 * kRead + 100);
  uint32_t state = 12345;
  for (uint8_t& byte : genuine) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  const struct {
    const char* what;
    size_t genuine_size;
    size_t file_size;
    long flipped;  // the byte of the file that differs, or -1
    DWORD expected;
  } cases[] = {
      {"the same", genuine.size(), genuine.size(), -1, 0},
      {"both empty", 0, 0, -1, 0},
      {"one read exactly", kRead, kRead, -1, 0},
      {"the first byte", genuine.size(), genuine.size(), 0, ERROR_FILE_INVALID},
      {"the last byte", genuine.size(), genuine.size(), static_cast<long>(genuine.size() - 1), ERROR_FILE_INVALID},
      {"the last byte of a lane", genuine.size(), genuine.size(), 63, ERROR_FILE_INVALID},
      {"the first byte of a lane", genuine.size(), genuine.size(), 64, ERROR_FILE_INVALID},
      {"the last byte of a read", genuine.size(), genuine.size(), static_cast<long>(kRead - 1), ERROR_FILE_INVALID},
      {"the first byte of the next read", genuine.size(), genuine.size(), static_cast<long>(kRead), ERROR_FILE_INVALID},
      {"in the tail after the last lane", 100, 100, 99, ERROR_FILE_INVALID},
      {"a byte more", genuine.size() - 1, genuine.size(), -1, ERROR_FILE_INVALID},
      {"a byte less", genuine.size(), genuine.size() - 1, -1, ERROR_FILE_INVALID},
      {"a byte more after a whole read", kRead, kRead + 1, -1, ERROR_FILE_INVALID},
      {"a whole read where a byte more was due", kRead + 1, kRead, -1, ERROR_FILE_INVALID},
      {"empty where a byte was due", 1, 0, -1, ERROR_FILE_INVALID},
  };
  const std::wstring path = scratch_ / L"LUMORA.PACKED.7Z";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string content(genuine.begin(), genuine.begin() + c.file_size);
    if (c.file_size > genuine.size()) content.append(c.file_size - genuine.size(), '\0');
    if (c.flipped >= 0) content[static_cast<size_t>(c.flipped)] ^= 0x20;
    ASSERT_TRUE(WriteBytes(path, content));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(MatchContent(file, genuine.data(), c.genuine_size), c.expected);
    CloseHandle(file);
  }
}

// The digest of what is written does not depend on how the writes cut the content (the cabinet
// library writes blocks of its own sizes), agrees with the digest of the file that holds it, and
// changes with a byte or with the length.
TEST_F(HeldFileTest, DigestOfWhatWasWrittenIsThatOfTheFile) {
  std::vector<uint8_t> content(1000);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 7 + (i >> 3));
  ContentDigest whole;
  ASSERT_EQ(whole.Start(), 0u);
  whole.Add(content.data(), content.size());
  for (size_t piece : {size_t{1}, size_t{6}, size_t{7}, size_t{8}, size_t{13}, size_t{999}}) {
    SCOPED_TRACE(piece);
    ContentDigest pieces;
    ASSERT_EQ(pieces.Start(), 0u);
    ContentDigest at_once = pieces;  // the same key, nothing added yet
    for (size_t at = 0; at < content.size(); at += piece) {
      pieces.Add(content.data() + at, std::min(piece, content.size() - at));
    }
    at_once.Add(content.data(), content.size());
    EXPECT_EQ(pieces.Value(), at_once.Value());
  }

  const std::wstring path = scratch_ / L"setup.exe";
  const struct {
    const char* what;
    std::string file;
    bool same;
  } cases[] = {
      {"the same bytes", std::string(content.begin(), content.end()), true},
      {"one byte changed", std::string(content.begin(), content.end() - 1) + "x", false},
      {"a zero more", std::string(content.begin(), content.end()) + std::string(1, '\0'), false},
      {"a byte less", std::string(content.begin(), content.end() - 1), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteBytes(path, c.file));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    uint64_t digest = 0;
    EXPECT_EQ(whole.OfFile(file, digest), 0u);
    CloseHandle(file);
    EXPECT_EQ(digest == whole.Value(), c.same);
  }
}

}  // namespace
