// Unpacking real payload layouts (resource-only images) into a scratch work directory, with the
// real cabinet library and real file removal.
#include "payload/unpack_payload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "files/removal_calls.h"
#include "payload_test_support.h"
#include "support/case_name.h"
#include "support/hostile_names.h"

namespace {

// What a type that UnpackPayload did not record still holds; shown as "".
constexpr PayloadType kNotRecorded = static_cast<PayloadType>(0xFF);
const wchar_t* Recorded(PayloadType type) {
  return type == kNotRecorded ? L"" : PayloadTypeName(type).wide;
}

struct Unpacked {
  ExtractedFiles files;
  ExtractedFile* setup = nullptr;
  PayloadType setup_type = kNotRecorded;
  ExtractedFile* archive = nullptr;
  PayloadType archive_type = kNotRecorded;
  int32_t max_attempts = 0;
  ExitResult result;

  // What the list holds, one "NAME[ held][ stays]" per listed entry, NAME relative to work_dir.
  std::vector<std::string> Listed(const std::wstring& work_dir) {
    std::vector<std::string> listed;
    for (uint32_t i = 0; i < files.Count(); ++i) {
      if (!files[i].listed) continue;
      std::wstring path = files[i].path.text;
      if (path.rfind(work_dir, 0) == 0) path = path.substr(work_dir.size());
      std::string line(path.begin(), path.end());
      if (files[i].file.IsHeld()) line += " held";
      if (files[i].stays) line += " stays";
      listed.push_back(line);
    }
    return listed;
  }
  // The run's clean-up with removal switched off: what does not stay goes.
  int32_t RemoveWhatDoesNotStay() {
    HeldDirectory not_held;
    int32_t max_attempts = 0;
    RemoveExtracted(files, false, L"", not_held, max_attempts);
    return max_attempts;
  }
};

void Unpack(const wchar_t* layout, const std::wstring& work_dir, Unpacked& out) {
  LayoutImage image(layout);
  ASSERT_NE(image.module, nullptr) << "layout image missing";
  out.result = UnpackPayload(image.module, work_dir.c_str(), out.files, out.setup, out.setup_type,
                             out.archive, out.archive_type, out.max_attempts);
}

using Names = std::vector<std::string>;

std::vector<std::wstring> Entries(const ScratchDirectory& directory) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((directory.Path() + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

TEST(UnpackPayload, ShippedLayout) {
  ScratchDirectory work;
  ASSERT_TRUE(work.Ok());
  Unpacked u;
  Unpack(L"shipped", work.Path(), u);
  EXPECT_EQ(u.result.code, EXIT_OK);
  EXPECT_EQ(u.result.extra, 0u);
  EXPECT_STREQ(Recorded(u.archive_type), L"B7");
  EXPECT_STREQ(Recorded(u.setup_type), L"BL");
  ASSERT_NE(u.archive, nullptr);
  ASSERT_NE(u.setup, nullptr);
  EXPECT_EQ(std::wstring(u.archive->path.text), work / L"LUMORA.PACKED.7Z");
  EXPECT_EQ(std::wstring(u.setup->path.text), work / L"setup.exe");
  EXPECT_EQ(FileBytes(u.archive->path.text), DataFile(L"archive.7z"));
  EXPECT_EQ(FileBytes(u.setup->path.text), DataFile(L"setup.exe"));
  // Every file on disk is listed and held; the compressed file is gone, removed in one attempt, and
  // no longer listed.
  EXPECT_EQ(u.Listed(work.Path()), Names({"LUMORA.PACKED.7Z held stays", "setup.exe held stays"}));
  EXPECT_EQ(Entries(work), std::vector<std::wstring>({L"LUMORA.PACKED.7Z", L"setup.exe"}));
  EXPECT_EQ(u.max_attempts, 1);

  // "setup.exe" carries the cabinet's date as its creation time, and the archive attribute.
  std::vector<uint8_t> cabinet = DataFile(L"setup_one.cab");
  FILETIME local;
  FILETIME expected;
  ASSERT_TRUE(DosDateTimeToFileTime(cab::FirstFileDate(cabinet), cab::FirstFileTime(cabinet),
                                    &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &expected));
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(u.setup->path.text, GetFileExInfoStandard, &data));
  if (CreationTimesAreKept(work)) {
    EXPECT_EQ(Ticks(data.ftCreationTime), Ticks(expected));
  } else {
    std::printf("creation time not checked: %s\n", kCreationTimesNotKept);
  }
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_FALSE(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY);

  // With removal switched off, the archive and the expanded program stay, and nothing is left to
  // remove.
  EXPECT_EQ(u.RemoveWhatDoesNotStay(), 0);
  EXPECT_EQ(Entries(work), std::vector<std::wstring>({L"LUMORA.PACKED.7Z", L"setup.exe"}));
}

TEST(UnpackPayload, SetupProgramsThatNeedNoExpansion) {
  const struct {
    const wchar_t* layout;
    const wchar_t* archive_type;
    const wchar_t* setup_type;
    Names listed;
  } cases[] = {
      // Stored uncompressed: always "setup.exe".
      {L"bn_members", L"BN", L"BN", {"LUMORA.ARCHIVE held stays", "setup.exe held stays"}},
      // A patch keeps its resource name; the caller applies it, and it never stays.
      {L"b7_setup", L"B7", L"B7", {"LUMORA.PACKED.7Z held stays", "SETUP.PATCH held"}},
      // A type with integer identifiers only is no failure.
      {L"integer_only", L"B7", L"BN", {"LUMORA.PACKED.7Z held stays", "setup.exe held stays"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layout);
    ScratchDirectory work;
    Unpacked u;
    Unpack(c.layout, work.Path(), u);
    EXPECT_EQ(u.result.code, EXIT_OK);
    EXPECT_STREQ(Recorded(u.archive_type), c.archive_type);
    EXPECT_STREQ(Recorded(u.setup_type), c.setup_type);
    EXPECT_EQ(u.Listed(work.Path()), c.listed);
    ASSERT_NE(u.archive, nullptr);
    ASSERT_NE(u.setup, nullptr);
    EXPECT_EQ(u.archive, &u.files[0]);
    EXPECT_EQ(u.setup, &u.files[1]);
    EXPECT_EQ(u.max_attempts, 0) << "nothing removed";
    EXPECT_EQ(FileBytes(u.archive->path.text), DataFile(L"archive.7z"));
    EXPECT_EQ(FileBytes(u.setup->path.text), DataFile(L"setup.exe"));
    EXPECT_EQ(Entries(work).size(), 2u);
  }
}

struct MalformedCase {
  const wchar_t* layout;
  uint32_t code;
  uint32_t extra;
  const wchar_t* archive_type;
};

const MalformedCase kMalformed[] = {
    // The archive's own walk fails: its type is not recorded, so the archive is to blame.
    {L"archive_then_unknown", EXIT_ARCHIVE_UNPACK_FAILED, ERROR_INVALID_DATA, L""},
    {L"prefix_not_at_start", EXIT_ARCHIVE_UNPACK_FAILED, ERROR_INVALID_DATA, L""},
    {L"unknown_after_archive", EXIT_SETUP_UNPACK_FAILED, ERROR_INVALID_DATA, L"B7"},
    {L"two_archives_in_one_type", EXIT_ARCHIVE_UNPACK_FAILED, ERROR_TOO_MANY_NAMES, L""},
    {L"two_archives_across_types", EXIT_SETUP_UNPACK_FAILED, ERROR_TOO_MANY_NAMES, L"B7"},
    {L"two_setups_in_one_type", EXIT_SETUP_UNPACK_FAILED, ERROR_TOO_MANY_NAMES, L"B7"},
    {L"name_260", EXIT_ARCHIVE_UNPACK_FAILED, ERROR_FILENAME_EXCED_RANGE, L""},
    {L"empty_archive", EXIT_ARCHIVE_UNPACK_FAILED, ERROR_FILE_NOT_FOUND, L""},
    {L"setup_only", EXIT_ARCHIVE_UNPACK_FAILED, ERROR_FILE_NOT_FOUND, L""},
    {L"archive_only", EXIT_SETUP_UNPACK_FAILED, ERROR_FILE_NOT_FOUND, L"B7"},
    // A valid name that no work directory leaves room for.
    {L"name_259", EXIT_PATH_TOO_LONG, 0, L"B7"},
};

class MalformedPayloads : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedPayloads, FailBeforeAnythingIsWritten) {
  const MalformedCase& c = GetParam();
  ScratchDirectory work;
  Unpacked u;
  Unpack(c.layout, work.Path(), u);
  EXPECT_EQ(u.result.code, c.code);
  EXPECT_EQ(u.result.extra, c.extra);
  EXPECT_STREQ(Recorded(u.archive_type), c.archive_type);
  EXPECT_EQ(u.files.Count(), 0u);
  EXPECT_EQ(u.archive, nullptr);
  EXPECT_EQ(u.setup, nullptr);
  EXPECT_TRUE(Entries(work).empty()) << "nothing is written before the payload is whole";
}

INSTANTIATE_TEST_SUITE_P(Layouts, MalformedPayloads, ::testing::ValuesIn(kMalformed),
                         [](const ::testing::TestParamInfo<MalformedCase>& info) {
                           return std::string(info.param.layout, info.param.layout +
                                                                      wcslen(info.param.layout));
                         });

// Member names that would leave the work directory, name something other than a plain file in it,
// or name the file another member becomes: the shared table of hostile names, each refused (or,
// for an uncompressed setup program, not used) before anything is written; and both names bad,
// where the archive is judged first. No tool of the build writes such names, so each image is a
// copy of a layout whose resources are replaced through UpdateResourceW.
TEST(UnpackPayload, NamesThatAreNoPlainFileOfTheirOwnAreRefusedBeforeAnyWrite) {
  struct Case {
    const wchar_t* archive_name;
    const wchar_t* setup_type;
    const wchar_t* setup_name;
    uint32_t code;
  };
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "the stub's UTF-16 units");
  std::vector<Case> cases;
  for (const HostileName& h : kHostileNames) {
    // A name that fails later than the scan (a cabinet named as its expansion) is another test's.
    if (h.code != EXIT_OK && h.extra != kNotAFileName) continue;
    const wchar_t* name = reinterpret_cast<const wchar_t*>(h.name);
    const wchar_t* type = PayloadTypeName(h.setup_type).wide;
    const bool archive = h.member == PayloadMember::kArchive;
    cases.push_back({archive ? name : L"LUMORA.PACKED.7Z", type, archive ? L"SETUP.EX_" : name,
                     h.code});
  }
  cases.push_back({L"LUMORA\\..\\X", L"B7", L"SETUP.EXE", EXIT_ARCHIVE_UNPACK_FAILED});
  const std::vector<uint8_t> archive = DataFile(L"archive.7z");
  const std::vector<uint8_t> cabinet = DataFile(L"setup_one.cab");
  ScratchDirectory images;
  ASSERT_TRUE(images.Ok());
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.archive_name) + L" / " + c.setup_type +
                                        L" " + c.setup_name));
    const std::wstring image = images / (L"hostile" + std::to_wstring(index++) + L".dll");
    ASSERT_TRUE(CopyFileW(LayoutPath(L"integer_only").c_str(), image.c_str(), FALSE));
    const std::vector<uint8_t>& setup = std::wstring(c.setup_type) == L"BL" ? cabinet : archive;
    ASSERT_TRUE(UpdateResources(
        image, {{L"B7", c.archive_name, archive}, {c.setup_type, c.setup_name, setup}},
        /*replace_existing=*/true));
    HMODULE module = LoadLibraryExW(image.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);

    // The work directory sits in a folder of its own, the installer's, where "LUMORA\..\..\" leads.
    ScratchDirectory outside;
    const std::wstring work = outside / L"installer\\LM_00000.tmp\\";
    ASSERT_TRUE(CreateDirectoryW((outside / L"installer").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
    Unpacked u;
    u.result = UnpackPayload(module, work.c_str(), u.files, u.setup, u.setup_type, u.archive,
                             u.archive_type, u.max_attempts);
    FreeLibrary(module);
    EXPECT_EQ(u.result.code, c.code);
    EXPECT_FALSE(ScratchDirectory::Exists(outside / L"installer\\VICTIM.TXT"));
    EXPECT_FALSE(ScratchDirectory::Exists(outside / L"VICTIM.TXT"));
    if (c.code == EXIT_OK) {
      ASSERT_NE(u.setup, nullptr);
      EXPECT_EQ(std::wstring(u.setup->path.text), work + L"setup.exe");
      EXPECT_EQ(FileBytes(u.setup->path.text), archive);
      HeldDirectory not_held;
      int32_t max_attempts = 0;
      RemoveExtracted(u.files, true, work.c_str(), not_held, max_attempts);
    } else {
      EXPECT_EQ(u.result.extra, static_cast<uint32_t>(ERROR_INVALID_NAME));
      EXPECT_EQ(u.files.Count(), 0u);
      // Nothing but the work directory itself beside the installer, and nothing in it.
      EXPECT_TRUE(RemoveDirectoryW(work.c_str())) << "the work directory is empty";
    }
    EXPECT_TRUE(RemoveDirectoryW((outside / L"installer").c_str()));
  }
}

// A work directory whose path is exactly long enough for the length in units given.
std::wstring LongWorkDirectory(const ScratchDirectory& scratch, size_t length) {
  std::wstring path = scratch.Path();
  path += std::wstring(length - path.size() - 1, L'd') + L"\\";
  // Past 248 units CreateDirectoryW wants the extended form.
  if (!CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr)) return L"";
  return path;
}

// short_names holds "LUMORA" (6 units) and "SETUP.X" (7), which expands into "setup.exe" (9): a
// work directory path of each length below leaves no room for one path after another.
struct PathCase {
  const char* name;
  size_t work_dir_length;
  Names listed;  // what was written before, left for the run's clean-up
};

const PathCase kPaths[] = {
    {"archive path", 254, {}},
    {"setup path", 253, {"LUMORA held stays"}},
    {"expanded path", 251, {"LUMORA held stays", "SETUP.X held"}},
};

class EachPathMustFit : public ::testing::TestWithParam<PathCase> {};

TEST_P(EachPathMustFit, ElseTheRunEndsWithPathTooLong) {
  const PathCase& c = GetParam();
  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.Ok());
  // The archive's own path does not fit even a directory that does not exist.
  const bool written = !c.listed.empty();
  const std::wstring work = written ? LongWorkDirectory(scratch, c.work_dir_length)
                                    : std::wstring(c.work_dir_length, L'w');
  ASSERT_FALSE(work.empty());
  Unpacked u;
  Unpack(L"short_names", work, u);
  EXPECT_EQ(u.result.code, EXIT_PATH_TOO_LONG);
  EXPECT_EQ(u.result.extra, 0u);
  EXPECT_EQ(u.Listed(work), c.listed);
  if (written) {
    // The run's clean-up takes the files and the directory, whose path fits a file's open.
    HeldDirectory not_held;
    int32_t max_attempts = 0;
    RemoveExtracted(u.files, true, work.c_str(), not_held, max_attempts);
    EXPECT_FALSE(ScratchDirectory::Exists(work));
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, EachPathMustFit, ::testing::ValuesIn(kPaths), NameOfRow());

// The expanded file is listed before it is created, so whatever the failed expansion left goes
// with the clean-up; the compressed file goes right after the expansion, failed or not.
TEST(UnpackPayload, AFailedExpansionIsLeftToTheCleanUp) {
  const struct {
    const wchar_t* layout;
    Names listed;
    uint32_t extra;
  } cases[] = {
      // Refused by the shared rules before the cabinet library reads it.
      {L"truncated_cabinet", {"LUMORA.PACKED.7Z held stays", "setup.exe"}, kPayloadErrorMalformed},
      // The compressed file is the expansion target: it cannot be created again.
      {L"cabinet_named_setup_exe", {"LUMORA.PACKED.7Z held stays", "setup.exe"}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layout);
    ScratchDirectory work;
    Unpacked u;
    Unpack(c.layout, work.Path(), u);
    EXPECT_EQ(u.result.code, EXIT_SETUP_UNPACK_FAILED);
    EXPECT_EQ(u.result.extra, c.extra);
    EXPECT_STREQ(Recorded(u.setup_type), L"BL");
    EXPECT_EQ(u.Listed(work.Path()), c.listed);
    EXPECT_EQ(u.max_attempts, 1) << "the cabinet's removal";
    EXPECT_EQ(u.RemoveWhatDoesNotStay(), 1);
    EXPECT_EQ(Entries(work), std::vector<std::wstring>{L"LUMORA.PACKED.7Z"});
  }
}

// The cabinet's removal counts into the run's maximum: held by someone else for the first two
// attempts (replayed through the removal's seam, the waits counted instead of slept), it takes
// three, and the run's maximum says so.
int g_cabinet_opens = 0;
int g_sleeps = 0;
HANDLE WINAPI CabinetHeldTwice(LPCWSTR path, DWORD access, DWORD share,
                               LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                               HANDLE model) {
  const std::wstring name(path);
  if (name.size() >= 9 && name.compare(name.size() - 9, 9, L"SETUP.EX_") == 0 &&
      access == DELETE && ++g_cabinet_opens <= 2) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileW(path, access, share, security, disposition, flags, model);
}
void WINAPI CountSleep(DWORD) { ++g_sleeps; }

TEST(UnpackPayload, TheCabinetsRemovalCountsItsAttempts) {
  ScratchDirectory work;
  Unpacked u;
  g_cabinet_opens = 0;
  g_sleeps = 0;
  g_removal_calls = {};
  g_removal_calls.create_file = &CabinetHeldTwice;
  g_removal_calls.sleep = &CountSleep;
  Unpack(L"shipped", work.Path(), u);
  g_removal_calls = {};
  EXPECT_EQ(u.result.code, EXIT_OK);
  EXPECT_EQ(u.max_attempts, 3);
  EXPECT_EQ(g_sleeps, 2);
  EXPECT_EQ(Entries(work), std::vector<std::wstring>({L"LUMORA.PACKED.7Z", L"setup.exe"}));
  // A maximum already above stays where it is.
  ScratchDirectory again;
  Unpacked higher;
  higher.max_attempts = 7;
  Unpack(L"shipped", again.Path(), higher);
  EXPECT_EQ(higher.max_attempts, 7);
}

// Something already where a member's file should go (here a directory): the file is not created.
struct WriteCase {
  const char* name;
  const wchar_t* layout;
  const wchar_t* blocked;
  uint32_t code;
  const wchar_t* written;  // what was written before, and stays; null: nothing
  const wchar_t* absent;   // what was never written
};

const WriteCase kWrites[] = {
    // The archive comes first.
    {"archive", L"shipped", L"LUMORA.PACKED.7Z", EXIT_ARCHIVE_UNPACK_FAILED, nullptr,
     L"SETUP.EX_"},
    {"setup program", L"bn_members", L"setup.exe", EXIT_SETUP_WRITE_FAILED, L"LUMORA.ARCHIVE",
     nullptr},
};

class AFailedWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(AFailedWrite, ReportsTheWindowsError) {
  const WriteCase& c = GetParam();
  ScratchDirectory work;
  ASSERT_TRUE(CreateDirectoryW((work / c.blocked).c_str(), nullptr));
  Unpacked u;
  Unpack(c.layout, work.Path(), u);
  EXPECT_EQ(u.result.code, c.code);
  EXPECT_EQ(u.result.extra, static_cast<uint32_t>(ERROR_FILE_EXISTS));
  if (c.written != nullptr) EXPECT_EQ(FileBytes(work / c.written), DataFile(L"archive.7z"));
  if (c.absent != nullptr) EXPECT_FALSE(ScratchDirectory::Exists(work / c.absent));
}

INSTANTIATE_TEST_SUITE_P(Members, AFailedWrite, ::testing::ValuesIn(kWrites), NameOfRow());

}  // namespace
