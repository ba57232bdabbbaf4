#include "files/file_being_written.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scratch_directory.h"

namespace {

class FileBeingWrittenTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch_.Ok()); }

  static LONGLONG Size(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  // Another party trying the file; INVALID_HANDLE_VALUE leaves its error.
  static DWORD TryOpen(const std::wstring& path, DWORD access) {
    HANDLE other = CreateFileW(path.c_str(), access, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    if (other == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(other);
    return ERROR_SUCCESS;
  }

  ScratchDirectory scratch_;
};

TEST_F(FileBeingWrittenTest, OpenCreatesOrTruncates) {
  std::wstring path = scratch_ / L"LUMORA.PACKED.7Z";
  ASSERT_TRUE(ScratchDirectory::WriteFile(path, "old contents"));
  ASSERT_EQ(Size(path), 12);
  FileBeingWritten file;
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Handle(), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(file.Open(path.c_str()));
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(std::wstring(file.Path()), path);
  EXPECT_EQ(Size(path), 0);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file.Handle(), "new", 3, &written, nullptr));
  EXPECT_TRUE(FlushFileBuffers(file.Handle()));
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Path()[0], 0);
  EXPECT_EQ(Size(path), 3);

  std::wstring fresh = scratch_ / L"setup.exe";
  ASSERT_TRUE(file.Open(fresh.c_str()));
  file.Close();
  EXPECT_EQ(Size(fresh), 0);
}

// Write and delete access only, shared for deletion only: nobody reads or writes it meanwhile.
TEST_F(FileBeingWrittenTest, HeldForWritingAndDeletionOnly) {
  std::wstring path = scratch_ / L"held.bin";
  FileBeingWritten file;
  ASSERT_TRUE(file.Open(path.c_str()));
  EXPECT_EQ(TryOpen(path, GENERIC_READ), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(TryOpen(path, GENERIC_WRITE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(TryOpen(path, FILE_READ_DATA), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(TryOpen(path, DELETE), static_cast<DWORD>(ERROR_SUCCESS));

  // The held handle itself cannot read.
  char byte = 0;
  DWORD read = 0;
  EXPECT_FALSE(ReadFile(file.Handle(), &byte, 1, &read, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  // The exact access the handle was granted, where the platform tells it.
  using QueryFile = LONG(WINAPI*)(HANDLE, void*, void*, ULONG, ULONG);
  auto query = reinterpret_cast<QueryFile>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile"));
  ASSERT_NE(query, nullptr);
  ULONG_PTR status_block[2] = {};
  ACCESS_MASK granted = 0;
  constexpr ULONG kFileAccessInformation = 8;
  ASSERT_EQ(query(file.Handle(), status_block, &granted, sizeof(granted), kFileAccessInformation), 0)
      << "the platform does not tell a handle's access";
  // CreateFileW itself adds FILE_READ_ATTRIBUTES (and SYNCHRONIZE, part of the generic write).
  EXPECT_EQ(granted, static_cast<ACCESS_MASK>(FILE_GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES));
}

TEST_F(FileBeingWrittenTest, ReopenClosesTheHeldFileFirst) {
  std::wstring first = scratch_ / L"first.bin";
  std::wstring second = scratch_ / L"second.bin";
  std::wstring kept = scratch_ / L"kept.bin";
  FileBeingWritten file;
  ASSERT_TRUE(file.Open(kept.c_str()));
  ASSERT_TRUE(file.Open(first.c_str()));
  // The first handle is gone: the file can be read again.
  EXPECT_EQ(TryOpen(kept, GENERIC_READ), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_TRUE(file.MarkForDeletion());
  EXPECT_TRUE(file.IsOpen());
  EXPECT_TRUE(ScratchDirectory::Exists(first));
  ASSERT_TRUE(file.Open(second.c_str()));
  EXPECT_FALSE(ScratchDirectory::Exists(first));
  EXPECT_TRUE(ScratchDirectory::Exists(second));
  EXPECT_EQ(std::wstring(file.Path()), second);
}

TEST_F(FileBeingWrittenTest, MarkedFileOutlivesCloseWhileADuplicateIsOpen) {
  std::wstring path = scratch_ / L"SETUP.EX_";
  FileBeingWritten file;
  ASSERT_TRUE(file.Open(path.c_str()));
  HANDLE duplicate = file.Duplicate();
  ASSERT_NE(duplicate, INVALID_HANDLE_VALUE);
  ASSERT_NE(duplicate, file.Handle());
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(duplicate, "abc", 3, &written, nullptr));
  ASSERT_TRUE(file.MarkForDeletion());
  // Still usable after the mark.
  EXPECT_TRUE(WriteFile(file.Handle(), "d", 1, &written, nullptr));
  file.Close();
  EXPECT_TRUE(ScratchDirectory::Exists(path));
  CloseHandle(duplicate);
  EXPECT_FALSE(ScratchDirectory::Exists(path));
}

TEST_F(FileBeingWrittenTest, UnmarkedFileSurvives) {
  std::wstring path = scratch_ / L"complete.bin";
  {
    FileBeingWritten file;
    ASSERT_TRUE(file.Open(path.c_str()));
  }
  EXPECT_TRUE(ScratchDirectory::Exists(path));
}

TEST_F(FileBeingWrittenTest, ClosedObjectRefusesWithoutSystemCalls) {
  FileBeingWritten file;
  SetLastError(12345);
  file.Close();
  file.Close();
  EXPECT_FALSE(file.MarkForDeletion());
  EXPECT_EQ(file.Duplicate(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 12345u);
  EXPECT_FALSE(file.IsOpen());
}

TEST_F(FileBeingWrittenTest, FailedOpenLeavesItClosedWithTheError) {
  FileBeingWritten file;
  std::wstring held = scratch_ / L"held.bin";
  ASSERT_TRUE(file.Open(held.c_str()));
  std::wstring missing = scratch_ / L"missing\\file.bin";
  EXPECT_FALSE(file.Open(missing.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Path()[0], 0);
  // The file held before was closed by the attempt.
  EXPECT_EQ(TryOpen(held, GENERIC_READ), static_cast<DWORD>(ERROR_SUCCESS));
}

// 259 units and the terminator fill the 260-unit buffer; one more unit does not fit, and nothing
// is created nor any error set.
TEST_F(FileBeingWrittenTest, PathCapacityBoundary) {
  std::wstring directory = scratch_.Path();
  while (259 - directory.size() > 101) {
    directory += std::wstring(100, L'd') + L"\\";
    ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
  }
  std::wstring fits = directory + std::wstring(259 - directory.size(), L'f');
  std::wstring too_long = directory + std::wstring(260 - directory.size(), L'f');
  ASSERT_EQ(fits.size(), 259u);
  FileBeingWritten file;
  ASSERT_TRUE(file.Open(fits.c_str())) << GetLastError();
  EXPECT_EQ(std::wstring(file.Path()), fits);
  file.Close();
  EXPECT_TRUE(ScratchDirectory::Exists(fits));

  SetLastError(12345);
  EXPECT_FALSE(file.Open(too_long.c_str()));
  EXPECT_EQ(GetLastError(), 12345u);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Path()[0], 0);
  EXPECT_FALSE(ScratchDirectory::Exists(too_long));
}

}  // namespace
