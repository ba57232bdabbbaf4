// Writing a blob to a new file of the run's list; the failures that a volume running full
// produces are in full_volume_test.
#include "payload/write_resource_to_file.h"

#include <gtest/gtest.h>

#include "payload_test_support.h"

namespace {

ResourceBlob BlobOf(const std::vector<uint8_t>& bytes) {
  ResourceBlob blob;
  blob.data = bytes.data();
  blob.size = bytes.size();
  return blob;
}

TEST(WriteResourceToFile, WritesEveryByteInOrderAndHoldsTheFile) {
  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.Ok());
  // Around the 8 MiB piece size: below, at, above, and several pieces with an odd remainder.
  for (size_t size : {size_t{0}, size_t{1}, size_t{0x7fffff}, size_t{0x800000}, size_t{0x800001},
                      size_t{0x800000} * 2 + 12345}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7) ^ (i >> 13));
    ExtractedFiles files;
    ExtractedFile* entry = files.Add(scratch.Path().c_str(), L"member.bin");
    ASSERT_NE(entry, nullptr);
    ASSERT_EQ(WriteResourceToFile(BlobOf(bytes), *entry), 0u);
    EXPECT_TRUE(entry->file.IsHeld());
    EXPECT_EQ(entry->file.Writer(), INVALID_HANDLE_VALUE) << "sealed";
    EXPECT_FALSE(entry->stays) << "the caller says what stays";
    EXPECT_EQ(FileBytes(entry->path.text), bytes) << "readable while held";
    EXPECT_FALSE(DeleteFileW(entry->path.text)) << "but not deletable";
    entry->file.Release();
    EXPECT_TRUE(DeleteFileW(entry->path.text));
  }
}

// The file is new in a fresh directory: one already there was put there by someone else, and the
// write fails rather than write into it.
TEST(WriteResourceToFile, AFileAlreadyThereIsNotWrittenInto) {
  ScratchDirectory scratch;
  const std::wstring path = scratch / L"member.bin";
  const std::vector<uint8_t> planted(100, 1);
  ASSERT_TRUE(WriteBytes(path, planted));
  ExtractedFiles files;
  ExtractedFile* entry = files.Add(scratch.Path().c_str(), L"member.bin");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(WriteResourceToFile(BlobOf(std::vector<uint8_t>(10, 2)), *entry),
            static_cast<uint32_t>(ERROR_FILE_EXISTS));
  EXPECT_FALSE(entry->file.IsHeld());
  EXPECT_EQ(FileBytes(path), planted);
}

TEST(WriteResourceToFile, AFileThatCannotBeCreatedGivesTheCreationsError) {
  ScratchDirectory scratch;
  ExtractedFiles files;
  ExtractedFile* entry = files.Add(scratch.Path().c_str(), L"missing\\member.bin");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(WriteResourceToFile(BlobOf(std::vector<uint8_t>(10, 3)), *entry),
            static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(entry->file.IsHeld());
}

}  // namespace
