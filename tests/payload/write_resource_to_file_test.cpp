// Writing a blob to a new file; the failures that a volume running full produces are in
// full_volume_test.
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

TEST(WriteResourceToFile, WritesEveryByteInOrder) {
  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.Ok());
  // Around the 8 MiB piece size: below, at, above, and several pieces with an odd remainder.
  for (size_t size : {size_t{0}, size_t{1}, size_t{0x7fffff}, size_t{0x800000}, size_t{0x800001},
                      size_t{0x800000} * 2 + 12345}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7) ^ (i >> 13));
    const std::wstring path = scratch / L"member.bin";
    ASSERT_TRUE(WriteResourceToFile(BlobOf(bytes), path.c_str()));
    EXPECT_TRUE(ScratchDirectory::Exists(path));
    EXPECT_EQ(FileBytes(path), bytes);
  }
}

TEST(WriteResourceToFile, ReplacesAnExistingFile) {
  ScratchDirectory scratch;
  const std::wstring path = scratch / L"member.bin";
  ASSERT_TRUE(WriteBytes(path, std::vector<uint8_t>(100, 1)));
  const std::vector<uint8_t> bytes(10, 2);
  ASSERT_TRUE(WriteResourceToFile(BlobOf(bytes), path.c_str()));
  EXPECT_EQ(FileBytes(path), bytes);
}

TEST(WriteResourceToFile, AFileThatCannotBeCreatedGivesTheOpensError) {
  ScratchDirectory scratch;
  const std::vector<uint8_t> bytes(10, 3);
  SetLastError(0);
  EXPECT_FALSE(WriteResourceToFile(BlobOf(bytes), (scratch / L"missing\\member.bin").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
