// The setup program's 7z reader (seven_zip/archive.h) on 7-Zip's own archives of the sample
// application, one per method: what it lists of each (the methods of its folders, whether all
// are decoded, the dictionary), and what it makes of them damaged or cut short.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decode/byte_source.h"
#include "seven_zip/archive.h"
#include "seven_zip/folder_extraction.h"

namespace {

std::wstring Fixture(const wchar_t* name) { return std::wstring(LUMORA_FIXTURES) + L"\\" + name; }

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The methods of every folder as `7zz l -slt` prints them (the header's coders from the last, the
// filter before the compression), folders joined by " | ".
std::string Methods(const SevenZipArchive& archive) {
  std::string text;
  for (const SevenZipFolder& folder : archive.folders) {
    if (!text.empty()) text += " | ";
    const std::vector<SevenZipCoder>& coders = folder.coding.coders;
    for (size_t c = coders.size(); c-- > 0;) {
      text += (c + 1 == coders.size() ? "" : " ") + MethodName(coders[c].method);
    }
  }
  return text;
}

// Counts what a folder's decoding hands on.
class CountingReceiver : public SevenZipFileReceiver {
 public:
  SevenZipStatus Begin(size_t) override { return SevenZipStatus::kOk; }
  SevenZipStatus Write(const unsigned char*, size_t size) override {
    bytes += size;
    return SevenZipStatus::kOk;
  }
  SevenZipStatus End(size_t) override {
    ++files;
    return SevenZipStatus::kOk;
  }
  uint64_t bytes = 0;
  size_t files = 0;
};

SevenZipStatus ExtractAll(const std::string& bytes, size_t& files) {
  MemoryArchiveSource source(bytes.data(), bytes.size());
  SevenZipArchive archive;
  SevenZipStatus status = OpenSevenZip(source, archive);
  CountingReceiver receiver;
  for (size_t f = 0; status == SevenZipStatus::kOk && f < archive.folders.size(); ++f) {
    status = ExtractFolder(source, archive, f, uint64_t{256} << 20, receiver);
  }
  files = receiver.files;
  return status;
}

TEST(SevenZipArchive, ListsTheMethodsOfEachArchive) {
  const struct {
    const wchar_t* archive;
    const char* methods;
    bool supported;
    uint64_t dictionary;
  } cases[] = {
      // What `7zz l -slt` says of these archives (a dictionary of 768k is 786432 bytes).
      {L"stored.7z", "Copy | Copy | Copy", true, 0},
      {L"methods\\lzma.7z", "LZMA | BCJ LZMA", true, 786432},
      {L"methods\\lzma-small-dictionary.7z", "LZMA | BCJ LZMA", true, 65536},
      {L"methods\\bcj2.7z", "BCJ2 LZMA2 LZMA LZMA", true, 786432},
      {L"methods\\arm64.7z", "ARM64 LZMA2", true, 786432},
      {L"methods\\ppmd.7z", "PPMD | BCJ PPMD", false, 0},
      {L"methods\\bzip2.7z", "BZip2 | BCJ BZip2", false, 0},
      {L"methods\\deflate.7z", "Deflate | BCJ Deflate", false, 0},
      {L"methods\\encrypted.7z", "LZMA2 7zAES | BCJ LZMA2 7zAES", false, 786432},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.methods));
    const std::string bytes = ReadAll(Fixture(c.archive));
    ASSERT_FALSE(bytes.empty());
    MemoryArchiveSource source(bytes.data(), bytes.size());
    SevenZipArchive archive;
    ASSERT_EQ(OpenSevenZip(source, archive), SevenZipStatus::kOk);
    EXPECT_EQ(Methods(archive), c.methods);
    uint64_t unsupported = 0;
    EXPECT_EQ(AllMethodsSupported(archive, &unsupported), c.supported);
    EXPECT_EQ(LargestDictionary(archive), c.dictionary);
    EXPECT_FALSE(archive.files.empty());
  }
}

// A compressed header encrypted: nothing can be listed without the password.
// Names as 7-Zip prints them; a method it has no name for, in hexadecimal, whole.
TEST(SevenZipArchive, NamesMethodsOrShowsTheirIdInHexadecimal) {
  const struct {
    uint64_t method;
    const char* name;
  } cases[] = {
      {0x21, "LZMA2"},
      {0x030101, "LZMA"},
      {0x0303011B, "BCJ2"},
      {0x0, "Copy"},
      {0x1, "1"},
      {0x0A, "ARM64"},
      {0x0E, "E"},
      {0x10, "10"},
      {0xDEADBEEF, "DEADBEEF"},
      {0x0123456789ABCDEFull, "123456789ABCDEF"},
      {~0ull, "FFFFFFFFFFFFFFFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(MethodName(c.method), c.name) << std::hex << c.method;
}

TEST(SevenZipArchive, EncryptedHeaderIsAnUnsupportedMethod) {
  const std::string bytes = ReadAll(Fixture(L"methods\\encrypted-header.7z"));
  MemoryArchiveSource source(bytes.data(), bytes.size());
  SevenZipArchive archive;
  EXPECT_EQ(OpenSevenZip(source, archive), SevenZipStatus::kUnsupportedMethod);
}

// A flipped byte in the coded data is found (by the decoder or by a CRC), never installed; an
// archive cut short is damaged. (The last bytes of an LZMA stream flush its range coder and may
// carry nothing of the files: the output, which the CRCs cover, is what must not change.)
TEST(SevenZipArchive, DamagedOrTruncatedDataIsDamaged) {
  for (const wchar_t* name : {L"methods\\mx9.7z", L"methods\\lzma.7z", L"methods\\bcj2.7z",
                              L"methods\\arm64.7z", L"methods\\lzma2-small-dictionary.7z"}) {
    SCOPED_TRACE(std::wstring(name).size());
    const std::string bytes = ReadAll(Fixture(name));
    size_t files = 0;
    ASSERT_EQ(ExtractAll(bytes, files), SevenZipStatus::kOk);
    ASSERT_GT(files, 0u);
    MemoryArchiveSource source(bytes.data(), bytes.size());
    SevenZipArchive archive;
    ASSERT_EQ(OpenSevenZip(source, archive), SevenZipStatus::kOk);
    const uint64_t data_end = archive.packed_offsets.back() + archive.packed_sizes.back();
    for (uint64_t at : {uint64_t{40}, (32 + data_end) / 3, (32 + data_end) / 2}) {
      std::string damaged = bytes;
      damaged[static_cast<size_t>(at)] ^= 0x55;
      EXPECT_NE(ExtractAll(damaged, files), SevenZipStatus::kOk) << "byte " << at;
    }
    EXPECT_EQ(ExtractAll(bytes.substr(0, bytes.size() - 1), files), SevenZipStatus::kDamaged);
  }
}

}  // namespace
