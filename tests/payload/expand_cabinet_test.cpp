// Expansion through the real cabinet library of the Wine prefix, with cabinets made by gcab at
// build time, variants of them patched here, and cabinets written here (LZX, empty).
#include "payload/expand_cabinet.h"

#include <gtest/gtest.h>

#include <memory>

#include "payload/cabinet_callbacks.h"
#include "payload_test_support.h"
#include "support/case_name.h"

namespace {

struct FileFacts {
  bool exists = false;
  DWORD attributes = 0;
  FILETIME creation = {};
};

FileFacts Facts(const std::wstring& path) {
  FileFacts facts;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    facts.exists = true;
    facts.attributes = data.dwFileAttributes;
    facts.creation = data.ftCreationTime;
  }
  return facts;
}

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The creation time a cabinet entry's date and time stand for, as the installer sets it.
uint64_t CabinetTime(uint16_t date, uint16_t time) {
  FILETIME local;
  FILETIME utc;
  if (!DosDateTimeToFileTime(date, time, &local) || !LocalFileTimeToFileTime(&local, &utc)) return 0;
  return Ticks(utc);
}

size_t EntriesIn(const ScratchDirectory& directory) {
  size_t count = 0;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((directory.Path() + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") ++count;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return count;
}

class ExpandCabinetTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch.Ok()); }
  // Writes the cabinet into the scratch directory and expands it into "setup.exe" beside it.
  bool Expand(const std::vector<uint8_t>& cabinet, const std::wstring& name = L"SETUP.EX_") {
    source = scratch / name;
    EXPECT_TRUE(WriteBytes(source, cabinet));
    return ExpandTo(source, destination);
  }
  // Expands from into a new listed file at to, as a run does, and lets go of the outcome: a
  // whole file comes back sealed and is released here; after a failure nothing is held, and the
  // run's clean-up removes whatever was made, here as there.
  static bool ExpandTo(const std::wstring& from, const std::wstring& to) {
    ExtractedFiles files;
    ExtractedFile* entry = files.Add(L"", to.c_str());
    EXPECT_NE(entry, nullptr);
    if (entry == nullptr) return false;
    const bool expanded = ExpandCabinet(from.c_str(), *entry);
    EXPECT_EQ(entry->file.IsHeld(), expanded);
    EXPECT_EQ(entry->file.Writer(), INVALID_HANDLE_VALUE) << "no writer is left open";
    if (!expanded) {
      HeldDirectory not_held;
      int32_t max_attempts = 0;
      RemoveExtracted(files, false, L"", not_held, max_attempts);
    }
    return expanded;
  }
  ScratchDirectory scratch;
  std::wstring source;
  std::wstring destination = scratch / L"setup.exe";
};

TEST_F(ExpandCabinetTest, ExpandsTheFileWithItsAttributes) {
  ASSERT_TRUE(Expand(DataFile(L"setup_one.cab")));
  EXPECT_EQ(FileBytes(destination), DataFile(L"setup.exe"));
  EXPECT_EQ(Facts(destination).attributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(ScratchDirectory::Exists(source)) << "the cabinet is the caller's to remove";
}

TEST_F(ExpandCabinetTest, GivesTheFileTheCabinetsDateAsItsCreationTime) {
  if (!CreationTimesAreKept(scratch)) GTEST_SKIP() << kCreationTimesNotKept;
  const std::vector<uint8_t> cabinet = DataFile(L"setup_one.cab");
  ASSERT_TRUE(Expand(cabinet));
  EXPECT_EQ(Ticks(Facts(destination).creation),
            CabinetTime(cab::FirstFileDate(cabinet), cab::FirstFileTime(cabinet)));
}

TEST_F(ExpandCabinetTest, WritesOnlyTheFirstOfTwoFiles) {
  ASSERT_TRUE(Expand(DataFile(L"setup_two.cab")));
  EXPECT_EQ(FileBytes(destination), DataFile(L"setup.exe"));
  EXPECT_FALSE(ScratchDirectory::Exists(scratch / L"second.bin"));
  EXPECT_EQ(EntriesIn(scratch), 2u) << "only the cabinet and the destination";
}

// Damaged copies of a cabinet made by gcab, and one without files.
std::vector<uint8_t> NoFile() { return cab::Build({}, cab::kNone); }
// The second data block's MSZIP signature damaged: the first 32 KiB decode, then decoding fails
// part way through the file. (Damage inside a deflate stream can make Wine's own decoder write
// out of bounds and take the process down, so the test damages the signature.)
std::vector<uint8_t> CorruptedData() {
  std::vector<uint8_t> cabinet = DataFile(L"setup_one.cab");
  const size_t second_block =
      cab::FirstBlockData(cabinet) + cab::Get16(cabinet, cab::FirstBlockData(cabinet) - 4);
  EXPECT_EQ(cabinet[second_block + 8], 'C');
  cabinet[second_block + 8] = 'X';
  return cabinet;
}
std::vector<uint8_t> TruncatedInTheData() {
  std::vector<uint8_t> cabinet = DataFile(L"setup_one.cab");
  cabinet.resize(cabinet.size() / 2);
  return cabinet;
}
std::vector<uint8_t> TruncatedAfterTheHeaders() {
  std::vector<uint8_t> cabinet = DataFile(L"setup_one.cab");
  cabinet.resize(cab::FirstBlockData(cabinet));
  return cabinet;
}
std::vector<uint8_t> NoSignature() {
  const std::vector<uint8_t> cabinet = DataFile(L"setup_one.cab");
  return std::vector<uint8_t>(cabinet.begin() + 4, cabinet.end());
}

struct DamagedCase {
  const char* name;
  std::vector<uint8_t> (*make)();
};

const DamagedCase kDamaged[] = {
    {"no file", NoFile},
    {"corrupted data", CorruptedData},
    {"truncated in the data", TruncatedInTheData},
    {"truncated after the headers", TruncatedAfterTheHeaders},
    {"no signature", NoSignature},
};

class DamagedCabinet : public ExpandCabinetTest, public ::testing::WithParamInterface<DamagedCase> {
};

TEST_P(DamagedCabinet, FailsWithoutLeavingAFile) {
  ASSERT_GT(DataFile(L"setup_one.cab").size(), 200u);
  EXPECT_FALSE(Expand(GetParam().make()));
  EXPECT_FALSE(ScratchDirectory::Exists(destination));
}

INSTANTIATE_TEST_SUITE_P(Cabinets, DamagedCabinet, ::testing::ValuesIn(kDamaged), NameOfRow());

TEST_F(ExpandCabinetTest, FailsWhenTheCabinetOrTheDestinationCannotBeOpened) {
  EXPECT_FALSE(ExpandTo(scratch / L"missing.cab", destination));
  EXPECT_FALSE(ScratchDirectory::Exists(destination));
  const std::wstring unreachable = scratch / L"no-such-directory\\setup.exe";
  source = scratch / L"SETUP.EX_";
  ASSERT_TRUE(WriteBytes(source, DataFile(L"setup_one.cab")));
  EXPECT_FALSE(ExpandTo(source, unreachable));
}

TEST_F(ExpandCabinetTest, NeedsABackslashAfterTheFirstUnitOfTheSource) {
  ASSERT_TRUE(WriteBytes(scratch / L"SETUP.EX_", DataFile(L"setup_one.cab")));
  // The current directory holds the cabinet, so only the missing directory part makes it fail.
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.Path().c_str()));
  EXPECT_FALSE(ExpandTo(L"SETUP.EX_", destination));
  EXPECT_FALSE(ExpandTo(L"\\SETUP.EX_", destination));
  EXPECT_FALSE(ScratchDirectory::Exists(destination));
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, temp);
  SetCurrentDirectoryW(temp);
}

TEST_F(ExpandCabinetTest, KeepsOnlyTheFourFileSystemAttributes) {
  // What a new file gets from the system, for the entry whose attributes carry none of the four.
  const std::wstring reference = scratch / L"reference";
  ASSERT_TRUE(WriteBytes(reference, {}));
  const DWORD as_created = Facts(reference).attributes;
  const struct {
    uint16_t attribs;
    DWORD expected;
  } cases[] = {
      {0x21, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
      {0x60, FILE_ATTRIBUTE_ARCHIVE},  // _A_EXEC dropped
      {0x40, as_created},
      {0x80, as_created},  // _A_NAME_IS_UTF dropped
  };
  const std::vector<uint8_t> original = DataFile(L"setup_one.cab");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.attribs);
    std::vector<uint8_t> cabinet = original;
    cab::SetFirstFile(cabinet, cab::FirstFileDate(original), cab::FirstFileTime(original), c.attribs);
    ASSERT_TRUE(Expand(cabinet));
    const DWORD relevant = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE |
                           FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    EXPECT_EQ(Facts(destination).attributes & relevant, c.expected & relevant);
    SetFileAttributesW(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(DeleteFileW(destination.c_str()));
  }
}

TEST_F(ExpandCabinetTest, ADateTheSystemRejectsLeavesTheCreationTimeAsCreated) {
  std::vector<uint8_t> cabinet = DataFile(L"setup_one.cab");
  // Month 13 of 2026.
  const uint16_t date = static_cast<uint16_t>((46 << 9) | (13 << 5) | 1);
  FILETIME unused;
  ASSERT_FALSE(DosDateTimeToFileTime(date, 0, &unused));
  cab::SetFirstFile(cabinet, date, 0, 0x21);
  FILETIME before;
  GetSystemTimeAsFileTime(&before);
  ASSERT_TRUE(Expand(cabinet));
  const FileFacts facts = Facts(destination);
  // File systems keep times more coarsely than the clock: allow two seconds.
  EXPECT_GE(Ticks(facts.creation) + 20000000, Ticks(before));
  EXPECT_TRUE(facts.attributes & FILE_ATTRIBUTE_READONLY) << "the attributes still apply";
}

TEST_F(ExpandCabinetTest, PathsOutsideAsciiSurviveTheLibrarysUtf8) {
  const std::wstring directory = scratch / L"Ünïcødé κόσμε 漢字\\";
  ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
  source = directory + L"SETUP€.EX_";
  ASSERT_TRUE(WriteBytes(source, DataFile(L"setup_one.cab")));
  const std::wstring target = directory + L"setup-ß-😀.exe";
  ASSERT_TRUE(ExpandTo(source, target));
  EXPECT_EQ(FileBytes(target), DataFile(L"setup.exe"));
}

// A path that the library cannot be handed exactly is refused, never approximated. A lone
// surrogate would otherwise become U+FFFD on the way to UTF-8, and the library would open the
// cabinet of that other name, which is there and valid.
TEST_F(ExpandCabinetTest, LoneSurrogatesAreRefusedNotReplaced) {
  const std::wstring replaced_directory = scratch / L"\xFFFD\\";
  ASSERT_TRUE(CreateDirectoryW(replaced_directory.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(replaced_directory + L"SETUP.EX_", DataFile(L"setup_one.cab")));
  ASSERT_TRUE(WriteBytes(scratch / L"SETUP\xFFFD.EX_", DataFile(L"setup_one.cab")));
  const std::wstring cases[] = {
      scratch / L"\xD800\\SETUP.EX_",  // in the directory part
      scratch / L"SETUP\xDC00.EX_",      // in the file name part
  };
  for (const std::wstring& lone : cases) {
    SCOPED_TRACE(testing::PrintToString(lone));
    EXPECT_FALSE(ExpandTo(lone, destination));
    EXPECT_FALSE(Facts(destination).exists);
  }
}

// The library keeps the cabinet's directory and name in buffers of CB_MAX_CAB_PATH and
// CB_MAX_CABINET_NAME bytes and joins the two into one of MAX_PATH bytes, so the directory may take
// 255 bytes of UTF-8, and both together 257. The bytes are counted, not the UTF-16 units: each
// CJK character is three of them.
TEST_F(ExpandCabinetTest, DirectoryAndNameFitTheLibrarysBuffersInUtf8Bytes) {
  const size_t base = scratch.Path().size();  // ASCII
  struct Case {
    size_t directory_bytes;  // final backslash included; the scratch directory itself when 0
    size_t joined_bytes;
    bool expands;
  } cases[] = {
      {248, 257, true}, {249, 258, false},  // the joined path at its limit, then one more
      {0, 257, true}, {0, 258, false},      // the same, with the bytes in the name
      {256, 257, false},                    // a directory over its own limit
  };
  const std::vector<uint8_t> cabinet = DataFile(L"setup_one.cab");
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.directory_bytes << " of " << c.joined_bytes);
    // Text of the given UTF-8 size: about half of it in three-byte characters, then ASCII, then a
    // tag that keeps the cases apart.
    auto text = [](size_t bytes, const std::wstring& tail) {
      const size_t wide = (bytes - tail.size()) / 6;
      return std::wstring(wide, L'\x6F22') + std::wstring(bytes - 3 * wide - tail.size(), L'd') +
             tail;
    };
    std::wstring directory = scratch.Path();
    size_t directory_bytes = base;
    if (c.directory_bytes != 0) {
      directory += text(c.directory_bytes - base - 1, std::to_wstring(index)) + L"\\";
      directory_bytes = c.directory_bytes;
      ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
    }
    source = directory + text(c.joined_bytes - directory_bytes, std::to_wstring(index));
    ASSERT_TRUE(WriteBytes(source, cabinet));
    EXPECT_EQ(ExpandTo(source, destination), c.expands);
    EXPECT_EQ(Facts(destination).exists, c.expands);
    DeleteFileW(destination.c_str());
    ++index;
  }
}

// The shipped setup cabinet uses LZX with a window of 2^18 bytes, which no tool of the build
// writes; a cabinet of uncompressed LZX blocks shows that the library's LZX path takes it.
TEST_F(ExpandCabinetTest, ExpandsAnLzxCabinet) {
  for (size_t size : {size_t{1}, cab::kFrame, 3 * cab::kFrame + 12345}) {
    SCOPED_TRACE(size);
    cab::File file;
    file.name = "setup.exe";
    for (size_t i = 0; i < size; ++i) file.data.push_back(static_cast<uint8_t>(i * 131 + (i >> 9)));
    const std::vector<uint8_t> cabinet = cab::Build({file}, cab::kLzx18);
    ASSERT_EQ(cab::Get16(cabinet, 36 + 6), cab::kLzx18);
    ASSERT_TRUE(Expand(cabinet));
    EXPECT_EQ(FileBytes(destination), file.data);
    if (CreationTimesAreKept(scratch)) {
      EXPECT_EQ(Ticks(Facts(destination).creation), CabinetTime(file.date, file.time));
    }
    ASSERT_TRUE(DeleteFileW(destination.c_str()));
  }
}

TEST_F(ExpandCabinetTest, TheCabinetWriterAgreesWithTheLibraryWhenStored) {
  // Guards the writer behind the LZX test: the same layout, uncompressed, expands too.
  cab::File file;
  file.name = "setup.exe";
  file.data.assign(40000, 0x42);
  ASSERT_TRUE(Expand(cab::Build({file}, cab::kNone)));
  EXPECT_EQ(FileBytes(destination), file.data);
}

// The notifications on their own: what the installer answers, whatever a library does next.
TEST_F(ExpandCabinetTest, NotificationsAnswerAsTheContractAsks) {
  ExtractedFiles files;
  ExtractedFile* entry = files.Add(L"", destination.c_str());
  ASSERT_NE(entry, nullptr);
  ExpansionState state(*entry);
  FDINOTIFICATION n = {};
  n.pv = &state;
  EXPECT_EQ(CabNotify(fdintCABINET_INFO, &n), 0);
  EXPECT_EQ(CabNotify(fdintENUMERATE, &n), 0);
  EXPECT_EQ(CabNotify(fdintPARTIAL_FILE, &n), -1);
  EXPECT_EQ(CabNotify(fdintNEXT_CABINET, &n), -1);
  EXPECT_EQ(CabNotify(static_cast<FDINOTIFICATIONTYPE>(9), &n), -1);
  EXPECT_FALSE(entry->file.IsHeld()) << "none of these touches the destination";
  EXPECT_FALSE(Facts(destination).exists);
}

// A copy notification and the close notification that follows it, by hand: what the installer
// answers, whatever a library does next.
class CopiedFile : public ExpandCabinetTest {
 protected:
  void SetUp() override {
    ExpandCabinetTest::SetUp();
    entry = files.Add(L"", destination.c_str());
    ASSERT_NE(entry, nullptr);
    state.reset(new ExpansionState(*entry));
    ASSERT_EQ(state->written.Start(), 0u);
    n.pv = state.get();
  }
  // Copies a file whose copy notification announces `announced` bytes, writes three through the
  // library's write callback, and closes it with `attribs`.
  void CopyThreeBytes(ULONG announced, USHORT attribs) {
    n.cb = static_cast<LONG>(announced);
    const INT_PTR copy = CabNotify(fdintCOPY_FILE, &n);
    ASSERT_NE(copy, -1);
    ASSERT_NE(copy, 0);
    ASSERT_NE(reinterpret_cast<HANDLE>(copy), entry->file.Writer()) << "the library's own handle";
    char abc[] = "abc";
    ASSERT_EQ(CabWrite(copy, abc, 3), 3u);
    n.hf = copy;
    n.attribs = attribs;
    EXPECT_EQ(CabNotify(fdintCLOSE_FILE_INFO, &n), -1) << "the first file ends the copy";
  }

  ExtractedFiles files;
  ExtractedFile* entry = nullptr;
  std::unique_ptr<ExpansionState> state;
  FDINOTIFICATION n = {};
};

TEST_F(CopiedFile, IsCompleteWhenEveryAnnouncedByteArrived) {
  ASSERT_NO_FATAL_FAILURE(CopyThreeBytes(3, 0x20));
  EXPECT_TRUE(state->completed);
  // A library that ignores the -1 and offers the next file is told to skip it.
  n.cb = 5;
  EXPECT_EQ(CabNotify(fdintCOPY_FILE, &n), 0);
  EXPECT_TRUE(state->completed);
  // The library's handle is closed: the file can be sealed, and holds what went through the
  // library's writes.
  EXPECT_EQ(entry->file.Seal(state->written), 0u);
  entry->file.Release();
  EXPECT_EQ(FileBytes(destination), (std::vector<uint8_t>{'a', 'b', 'c'}));
}

// An incomplete file gets none of the cabinet's attributes, read-only included, and is the run's
// clean-up's to remove.
TEST_F(CopiedFile, IsIncompleteWhenFewerBytesThanAnnouncedArrived) {
  ASSERT_NO_FATAL_FAILURE(CopyThreeBytes(10, 0x21));
  EXPECT_FALSE(state->completed);
  entry->file.Release();
  EXPECT_EQ(Facts(destination).attributes & FILE_ATTRIBUTE_READONLY, 0u);
  HeldDirectory not_held;
  int32_t max_attempts = 0;
  RemoveExtracted(files, false, L"", not_held, max_attempts);
  EXPECT_EQ(max_attempts, 1);
  EXPECT_FALSE(ScratchDirectory::Exists(destination));
}

}  // namespace
