// Writing onto a volume that fills up part way: drive Q: is a 512 KiB tmpfs mapped for this test
// (full_volume.sh). There a write "succeeds" with fewer bytes than asked, and only a further
// write would fail; the installer must take the short write itself as the failure. What was
// written in part stays listed, unheld and not staying, and the run's clean-up gives the space
// back.
#include <gtest/gtest.h>

#include "payload/cabinet_callbacks.h"
#include "payload/expand_cabinet.h"
#include "payload/unpack_payload.h"
#include "payload/write_resource_to_file.h"
#include "payload_test_support.h"

namespace {

const wchar_t* const kVolume = L"Q:\\";

class FullVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ULARGE_INTEGER available;
    ULARGE_INTEGER total;
    if (!GetDiskFreeSpaceExW(kVolume, &available, &total, nullptr) ||
        total.QuadPart > 1024 * 1024) {
      GTEST_SKIP() << "no small volume mapped to Q: (mounting a tmpfs needs root)";
    }
    free_before = available.QuadPart;
    ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  }
  void TearDown() override { RemoveDirectoryW(work.c_str()); }

  // The run's clean-up; the work directory goes with the rest.
  void CleanUp(ExtractedFiles& files) {
    HeldDirectory not_held;
    int32_t max_attempts = 0;
    RemoveExtracted(files, true, work.c_str(), not_held, max_attempts);
    EXPECT_FALSE(ScratchDirectory::Exists(work));
    EXPECT_EQ(FreeBytes(), free_before);
    CreateDirectoryW(work.c_str(), nullptr);
  }

  uint64_t FreeBytes() {
    ULARGE_INTEGER available;
    return GetDiskFreeSpaceExW(kVolume, &available, nullptr, nullptr) ? available.QuadPart : 0;
  }
  bool WorkIsEmpty() {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((work + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return true;
    bool empty = true;
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") empty = false;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return empty;
  }

  std::wstring work = L"Q:\\work\\";
  uint64_t free_before = 0;
};

TEST_F(FullVolumeTest, AResourceThatDoesNotFitIsLeftForTheCleanUp) {
  std::vector<uint8_t> bytes(1024 * 1024, 0x6c);
  ResourceBlob blob;
  blob.data = bytes.data();
  blob.size = bytes.size();
  ExtractedFiles files;
  ExtractedFile* entry = files.Add(work.c_str(), L"big.bin");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(WriteResourceToFile(blob, *entry), static_cast<uint32_t>(ERROR_DISK_FULL));
  EXPECT_FALSE(entry->file.IsHeld());
  EXPECT_FALSE(entry->stays);
  CleanUp(files);
}

TEST_F(FullVolumeTest, AWriteOntoAFullVolumeGivesItsOwnError) {
  // Fill the volume first, so that the very first write fails outright.
  const std::wstring filler = work + L"filler";
  HANDLE file = CreateFileW(filler.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS,
                            FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> bytes(1024 * 1024, 0x66);
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ASSERT_GT(written, 0u);
  ResourceBlob blob;
  blob.data = bytes.data();
  blob.size = 4096;
  ExtractedFiles files;
  ExtractedFile* entry = files.Add(work.c_str(), L"member.bin");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(WriteResourceToFile(blob, *entry), static_cast<uint32_t>(ERROR_DISK_FULL));
  EXPECT_FALSE(entry->file.IsHeld());
  CloseHandle(file);
  CleanUp(files);
}

TEST_F(FullVolumeTest, UnpackingReportsTheDiskFullError) {
  const struct {
    const wchar_t* layout;
    uint32_t code;
    uint32_t listed;  // the archive, then the setup program, as far as unpacking got
  } cases[] = {
      {L"large_archive", EXIT_ARCHIVE_UNPACK_FAILED, 1},
      {L"large_setup", EXIT_SETUP_WRITE_FAILED, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layout);
    LayoutImage image(c.layout);
    ASSERT_NE(image.module, nullptr);
    ExtractedFiles files;
    ExtractedFile* setup = nullptr;
    PayloadType setup_type = PayloadType::kPlain;
    ExtractedFile* archive = nullptr;
    PayloadType archive_type = PayloadType::kPlain;
    int32_t max_attempts = 0;
    const ExitResult result = UnpackPayload(image.module, work.c_str(), files, setup, setup_type,
                                            archive, archive_type, max_attempts);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(result.extra, static_cast<uint32_t>(ERROR_DISK_FULL));
    ASSERT_EQ(files.Count(), c.listed);
    EXPECT_FALSE(files[c.listed - 1].file.IsHeld());
    EXPECT_FALSE(files[c.listed - 1].stays);
    CleanUp(files);
  }
}

TEST_F(FullVolumeTest, AnExpansionThatDoesNotFitIsLeftForTheCleanUp) {
  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.Ok());
  cab::File file;
  file.name = "setup.exe";
  file.data.assign(1024 * 1024, 0x53);
  const std::wstring source = scratch / L"SETUP.EX_";
  ASSERT_TRUE(WriteBytes(source, cab::Build({file}, cab::kNone)));
  ExtractedFiles files;
  ExtractedFile* entry = files.Add(work.c_str(), L"setup.exe");
  ASSERT_NE(entry, nullptr);
  EXPECT_FALSE(ExpandCabinet(source.c_str(), *entry));
  EXPECT_FALSE(entry->file.IsHeld());
  CleanUp(files);
}

TEST_F(FullVolumeTest, TheCabinetWriteCallbackTakesAShortWriteForAFailure) {
  HANDLE file = CreateFileW((work + L"part").c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                            CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> bytes(1024 * 1024, 0x77);
  SetLastError(0);
  EXPECT_EQ(CabWrite(reinterpret_cast<INT_PTR>(file), bytes.data(),
                     static_cast<UINT>(bytes.size())),
            static_cast<UINT>(-1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  CloseHandle(file);
}

}  // namespace
