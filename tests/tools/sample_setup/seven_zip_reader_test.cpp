// The setup program's 7z reader (seven_zip/archive.h) on the structure of archives: 7-Zip's own
// stored archives made at build time, damaged and hostile copies of them made here, and archives
// written by hand for what 7-Zip never writes (folders of several files, packed-stream CRCs,
// hostile counts). The methods and their decoding are seven_zip_archive_test's.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "decode/byte_source.h"
#include "seven_zip/archive.h"
#include "seven_zip/folder_extraction.h"
#include "seven_zip/safe_entry_name.h"
#include "seven_zip_craft.h"
#include "support/case_name.h"

namespace {

namespace fs = std::filesystem;
using craft::ReadAll;

std::wstring Fixture(const wchar_t* name) { return std::wstring(LUMORA_FIXTURES) + L"\\" + name; }

SevenZipStatus Read(const std::string& bytes, SevenZipArchive& archive) {
  MemoryArchiveSource source(bytes.data(), bytes.size());
  return OpenSevenZip(source, archive);
}

// What decoding hands on: each file's bytes, and the files it declared complete (their CRCs
// matched).
class KeepingReceiver : public SevenZipFileReceiver {
 public:
  SevenZipStatus Begin(size_t file) override {
    current_ = file;
    bytes[file].clear();
    return SevenZipStatus::kOk;
  }
  SevenZipStatus Write(const unsigned char* data, size_t size) override {
    bytes[current_].append(reinterpret_cast<const char*>(data), size);
    return SevenZipStatus::kOk;
  }
  SevenZipStatus End(size_t file) override {
    complete.push_back(file);
    return SevenZipStatus::kOk;
  }
  std::map<size_t, std::string> bytes;
  std::vector<size_t> complete;

 private:
  size_t current_ = 0;
};

// Decodes every folder in turn, as the installation does; the first failure ends it.
SevenZipStatus ExtractAll(const std::string& bytes, const SevenZipArchive& archive,
                          KeepingReceiver& receiver) {
  MemoryArchiveSource source(bytes.data(), bytes.size());
  SevenZipStatus status = SevenZipStatus::kOk;
  for (size_t f = 0; status == SevenZipStatus::kOk && f < archive.folders.size(); ++f) {
    status = ExtractFolder(source, archive, f, uint64_t{64} << 20, receiver);
  }
  return status;
}

std::wstring WideName(const SevenZipFile& file) {
  return std::wstring(file.name.begin(), file.name.end());
}

TEST(Crc32, KnownValue) {
  EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(Crc32(0, "12345", 5), "6789", 4), 0xCBF43926u) << "in pieces";
}

TEST(SevenZipReader, ListsWhat7ZipStored) {
  SevenZipArchive archive;
  ASSERT_EQ(Read(ReadAll(Fixture(L"stored.7z")), archive), SevenZipStatus::kOk);
  std::vector<SevenZipFile> entries = archive.files;
  std::sort(entries.begin(), entries.end(),
            [](const SevenZipFile& a, const SevenZipFile& b) { return a.name < b.name; });
  const std::wstring tree = Fixture(L"app-3.1.4.1\\");
  struct Expected {
    const wchar_t* name;
    bool directory;
  };
  const Expected expected[] = {{L"README.txt", false}, {L"VERSION", false}, {L"bin", true},
                               {L"bin\\lumora-launch.exe", false}, {L"docs", true},
                               {L"docs\\empty", true}, {L"empty.txt", false}};
  ASSERT_EQ(entries.size(), std::size(expected));
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(fs::path(expected[i].name).string());
    EXPECT_EQ(WideName(entries[i]), expected[i].name);
    EXPECT_EQ(entries[i].is_directory, expected[i].directory);
    if (expected[i].directory) continue;
    const std::string bytes = ReadAll(tree + expected[i].name);
    EXPECT_EQ(entries[i].size, bytes.size());
    EXPECT_EQ(entries[i].has_crc, !bytes.empty());
    if (entries[i].has_crc) EXPECT_EQ(entries[i].crc, craft::CrcOf(bytes));
  }
}

TEST(SevenZipReader, ExtractsByteForByte) {
  const std::string bytes = ReadAll(Fixture(L"stored.7z"));
  SevenZipArchive archive;
  ASSERT_EQ(Read(bytes, archive), SevenZipStatus::kOk);
  KeepingReceiver receiver;
  ASSERT_EQ(ExtractAll(bytes, archive, receiver), SevenZipStatus::kOk);
  const std::wstring tree = Fixture(L"app-3.1.4.1\\");
  size_t checked = 0;
  for (size_t i = 0; i < archive.files.size(); ++i) {
    const SevenZipFile& file = archive.files[i];
    if (file.is_directory || file.folder == kNoFolder) continue;
    SCOPED_TRACE(fs::path(WideName(file)).string());
    EXPECT_EQ(receiver.bytes[i], ReadAll(tree + WideName(file)));
    EXPECT_NE(std::count(receiver.complete.begin(), receiver.complete.end(), i), 0);
    ++checked;
  }
  EXPECT_EQ(checked, 3u) << "VERSION, README.txt and the launcher hold bytes";
  EXPECT_GT(ReadAll(tree + L"bin\\lumora-launch.exe").size(), 3u << 16) << "several chunks";
}

// Headers written by hand. Files "a" and "b" hold "hello" and " world!" (or "a" holds both); a
// Copy folder is the coder record 01 01 00.
std::string SolidHeader(uint64_t files_in_folder, bool pack_crc_right, bool folder_crc_right) {
  craft::Header h;
  h.Byte(0x01).Byte(0x04);
  h.Byte(0x06).Number(0).Number(1).Byte(0x09).Number(12);
  h.Byte(0x0A).Byte(1).Uint32(craft::CrcOf("hello world!") ^ (pack_crc_right ? 0 : 1));
  h.Byte(0x00);
  h.Byte(0x07).Byte(0x0B).Number(1).Byte(0).Byte(1).Byte(1).Byte(0);
  h.Byte(0x0C).Number(12);
  h.Byte(0x0A).Byte(1).Uint32(craft::CrcOf("hello world!") ^ (folder_crc_right ? 0 : 1));
  h.Byte(0x00);
  h.Byte(0x08).Byte(0x0D).Number(files_in_folder);
  if (files_in_folder == 2) {
    h.Byte(0x09).Number(5).Byte(0x0A).Byte(1).Uint32(craft::CrcOf("hello")).Uint32(
        craft::CrcOf(" world!"));
  }
  h.Byte(0x00).Byte(0x00);
  h.Byte(0x05).Number(files_in_folder).Names(files_in_folder == 2 ? std::u16string(u"a\0b\0", 4)
                                                                 : std::u16string(u"a\0", 2));
  h.Byte(0x00).Byte(0x00);
  return craft::Archive("hello world!", h.bytes);
}

// One file in its own folder, its CRC given only by the packed stream.
std::string PackCrcOnly(bool right) {
  craft::Header h;
  h.Byte(0x01).Byte(0x04);
  h.Byte(0x06).Number(0).Number(1).Byte(0x09).Number(5);
  h.Byte(0x0A).Byte(1).Uint32(craft::CrcOf("hello") ^ (right ? 0 : 1)).Byte(0x00);
  h.Byte(0x07).Byte(0x0B).Number(1).Byte(0).Byte(1).Byte(1).Byte(0).Byte(0x0C).Number(5);
  h.Byte(0x00).Byte(0x00);
  h.Byte(0x05).Number(1).Names(std::u16string(u"a\0", 2)).Byte(0x00).Byte(0x00);
  return craft::Archive("hello", h.bytes);
}

// One file whose packed stream and file CRCs disagree about the same bytes.
std::string PackAndFileCrcDisagree() {
  craft::Header h;
  h.Byte(0x01).Byte(0x04);
  h.Byte(0x06).Number(0).Number(1).Byte(0x09).Number(5);
  h.Byte(0x0A).Byte(1).Uint32(craft::CrcOf("hello") ^ 1).Byte(0x00);
  h.Byte(0x07).Byte(0x0B).Number(1).Byte(0).Byte(1).Byte(1).Byte(0).Byte(0x0C).Number(5);
  h.Byte(0x00);
  h.Byte(0x08).Byte(0x0A).Byte(1).Uint32(craft::CrcOf("hello")).Byte(0x00).Byte(0x00);
  h.Byte(0x05).Number(1).Names(std::u16string(u"a\0", 2)).Byte(0x00).Byte(0x00);
  return craft::Archive("hello", h.bytes);
}

// Hostile counts: each declares more items than its header could hold.
std::string DeclaredFiles(uint64_t count) {
  craft::Header h;
  h.Byte(0x01).Byte(0x05).Number(count).Names(std::u16string(u"a\0", 2)).Byte(0x00).Byte(0x00);
  return craft::Archive("", h.bytes);
}

std::string DeclaredSubstreams(uint64_t count) {
  craft::Header h;
  h.Byte(0x01).Byte(0x04);
  h.Byte(0x06).Number(0).Number(1).Byte(0x09).Number(5).Byte(0x00);
  h.Byte(0x07).Byte(0x0B).Number(1).Byte(0).Byte(1).Byte(1).Byte(0).Byte(0x0C).Number(5);
  h.Byte(0x00);
  h.Byte(0x08).Byte(0x0D).Number(count).Byte(0x09).Byte(0x00).Byte(0x00);
  h.Byte(0x00);
  return craft::Archive("hello", h.bytes);
}

std::string NamesTwice() {
  craft::Header h;
  h.Byte(0x01).Byte(0x05).Number(1).Names(std::u16string(u"a\0", 2));
  h.Names(std::u16string(u"b\0", 2)).Byte(0x00).Byte(0x00);
  return craft::Archive("", h.bytes);
}

// Each case starts from a fixture (or nothing) and changes it; the reader must refuse it with
// the status given, and never with success.
struct Refusal {
  const char* name;
  const wchar_t* fixture;  // null: made entirely by change
  void (*change)(std::string&);
  SevenZipStatus status;
};

void RenameOrFail(std::string& b, const char16_t* from, const char16_t* to) {
  if (!craft::Rename(b, from, to)) b.clear();  // an empty file fails the case loudly
}

const Refusal kRefusals[] = {
    {"plain text", L"not-an-archive.txt", nullptr, SevenZipStatus::kNotSevenZip},
    {"shorter than the signature header", L"stored.7z", [](std::string& b) { b.resize(31); },
     SevenZipStatus::kNotSevenZip},
    {"unknown major version", L"stored.7z", [](std::string& b) { b[6] = 1; },
     SevenZipStatus::kUnsupported},
    {"start header CRC wrong", L"stored.7z", [](std::string& b) { b[8] ^= 1; },
     SevenZipStatus::kDamaged},
    {"header byte changed", L"stored.7z", [](std::string& b) { b[b.size() - 40] ^= 0x10; },
     SevenZipStatus::kDamaged},
    {"last byte cut off", L"stored.7z", [](std::string& b) { b.pop_back(); },
     SevenZipStatus::kDamaged},
    {"header beyond the file", L"stored.7z",
     [](std::string& b) { b[12 + 7] = 0x40; craft::FixStartCrc(b); }, SevenZipStatus::kDamaged},
    {"header cut short, CRCs matching", L"stored.7z",
     [](std::string& b) { b[20] = static_cast<char>(b[20] - 3); craft::FixCrcs(b); },
     SevenZipStatus::kDamaged},
    {"header larger than the reader takes", nullptr,
     [](std::string& b) {
       craft::Header h;
       h.Byte(0x01).Byte(0x05).Number(0).Number(0x19).Number(kSevenZipMaxHeaderSize);
       h.Raw(std::string(kSevenZipMaxHeaderSize, '\0')).Byte(0x00).Byte(0x00);
       b = craft::Archive("", h.bytes);
     },
     SevenZipStatus::kUnsupported},
    {"2^40 files declared", nullptr,
     [](std::string& b) { b = DeclaredFiles(uint64_t{1} << 40); }, SevenZipStatus::kDamaged},
    {"more files than the header holds names for", nullptr,
     [](std::string& b) { b = DeclaredFiles(kSevenZipMaxFiles); }, SevenZipStatus::kDamaged},
    {"two files, one name", nullptr, [](std::string& b) { b = DeclaredFiles(2); },
     SevenZipStatus::kDamaged},
    {"more substreams than the header holds sizes for", nullptr,
     [](std::string& b) { b = DeclaredSubstreams(uint64_t{1} << 40); }, SevenZipStatus::kDamaged},
    {"names given twice", nullptr, [](std::string& b) { b = NamesTwice(); },
     SevenZipStatus::kDamaged},
    {"parent directory in a name", L"stored.7z",
     [](std::string& b) { RenameOrFail(b, u"bin/lumora", u"../lumorax"); },
     SevenZipStatus::kUnsafeName},
    {"drive in a name", L"stored.7z",
     [](std::string& b) { RenameOrFail(b, u"VERSION", u"C:/VERS"); }, SevenZipStatus::kUnsafeName},
    {"absolute name", L"stored.7z",
     [](std::string& b) { RenameOrFail(b, u"README.txt", u"/README.tx"); },
     SevenZipStatus::kUnsafeName},
    {"device name NUL with an extension", L"stored.7z",
     [](std::string& b) { RenameOrFail(b, u"VERSION", u"NUL.txt"); }, SevenZipStatus::kUnsafeName},
    {"device name inside a path", L"stored.7z",
     [](std::string& b) { RenameOrFail(b, u"bin/lumora", u"bin/CON.lu"); },
     SevenZipStatus::kUnsafeName},
    {"device name as a directory, superscript port", L"stored.7z",
     [](std::string& b) { RenameOrFail(b, u"docs/empty", u"lpt\u00B9/empty"); },
     SevenZipStatus::kUnsafeName},
};

void PrintTo(const Refusal& r, std::ostream* out) { *out << r.name; }

class SevenZipRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(SevenZipRefusal, Refused) {
  const Refusal& r = GetParam();
  std::string bytes = r.fixture != nullptr ? ReadAll(Fixture(r.fixture)) : std::string();
  ASSERT_TRUE(r.fixture == nullptr || !bytes.empty());
  if (r.change != nullptr) r.change(bytes);
  ASSERT_FALSE(bytes.empty());
  SevenZipArchive archive;
  EXPECT_EQ(Read(bytes, archive), r.status);
  EXPECT_TRUE(archive.files.empty()) << "a refused archive lists nothing";
}

INSTANTIATE_TEST_SUITE_P(Archives, SevenZipRefusal, testing::ValuesIn(kRefusals), NameOfRow());

// The stored data has no CRC in the header: the damage is found as the file is decoded, and the
// file is never declared complete.
TEST(SevenZipReader, DamagedDataIsNeverComplete) {
  std::string bytes = ReadAll(Fixture(L"stored.7z"));
  const std::string launcher = ReadAll(Fixture(L"app-3.1.4.1\\bin\\lumora-launch.exe"));
  ASSERT_TRUE(craft::DamageLastByteOf(bytes, launcher));
  SevenZipArchive archive;
  ASSERT_EQ(Read(bytes, archive), SevenZipStatus::kOk) << "data has no header CRC";
  KeepingReceiver receiver;
  EXPECT_EQ(ExtractAll(bytes, archive, receiver), SevenZipStatus::kDamaged);
  for (size_t i : receiver.complete) {
    EXPECT_NE(archive.files[i].name, u"bin\\lumora-launch.exe") << "the damaged file completed";
  }
}

// The CRCs of files and folders are checked against the bytes they cover, as they are decoded: a
// file whose bytes are wrong is never declared complete, and a folder CRC over several files
// fails the folder. A packed stream's CRC is read and not checked (7-Zip writes none; the files'
// CRCs cover what is installed): one that disagrees with the file's CRC does not matter.
TEST(SevenZipReader, FolderAndPackedStreamCrcs) {
  const struct {
    const char* name;
    std::string archive;
    SevenZipStatus extracted;
    std::string a;  // what "a" holds when it completes
    size_t complete_at_most;
  } cases[] = {
      {"folder of two files, all CRCs right", SolidHeader(2, true, true), SevenZipStatus::kOk,
       "hello", 2},
      {"folder of one file, all CRCs right", SolidHeader(1, true, true), SevenZipStatus::kOk,
       "hello world!", 1},
      {"folder CRC wrong, file CRCs right", SolidHeader(2, false, false),
       SevenZipStatus::kDamaged, "hello", 2},
      {"folder of one file, its CRCs wrong", SolidHeader(1, false, false),
       SevenZipStatus::kDamaged, "", 0},
      {"folder of one file, packed-stream CRC right", PackCrcOnly(true), SevenZipStatus::kOk,
       "hello", 1},
      {"packed-stream CRC wrong, the file's right", PackAndFileCrcDisagree(), SevenZipStatus::kOk,
       "hello", 1},
      {"packed-stream CRC wrong, the folder's and the files' right", SolidHeader(2, false, true),
       SevenZipStatus::kOk, "hello", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SevenZipArchive archive;
    ASSERT_EQ(Read(c.archive, archive), SevenZipStatus::kOk);
    KeepingReceiver receiver;
    EXPECT_EQ(ExtractAll(c.archive, archive, receiver), c.extracted);
    EXPECT_LE(receiver.complete.size(), c.complete_at_most);
    if (c.extracted == SevenZipStatus::kOk) {
      ASSERT_EQ(receiver.complete.size(), c.complete_at_most);
      EXPECT_EQ(receiver.bytes[0], c.a);
      if (c.complete_at_most == 2) EXPECT_EQ(receiver.bytes[1], " world!");
    }
  }
}

TEST(SevenZipReader, SafeNames) {
  const struct {
    const char16_t* name;
    bool safe;
  } cases[] = {
      // Plain relative paths, and names that only resemble the refused ones.
      {u"a", true}, {u"bin\\app.exe", true}, {u"a.b\\c d\\e", true}, {u"..a", true},
      {u"console", true}, {u"nul_", true}, {u"com10", true}, {u"lpt", true}, {u"xnul", true},
      {u"com\u00B4", true}, {u"auxiliary\\..a", true}, {u"null.txt", true}, {u"conin", true},
      // Leaving the directory, streams, drives, characters Windows refuses.
      {u"", false}, {u"..", false}, {u".", false}, {u"a\\..\\b", false}, {u"\\a", false},
      {u"a\\", false}, {u"a\\\\b", false}, {u"C:a", false}, {u"a:stream", false},
      {u"a\x0001", false}, {u"a?", false},
      // Names Windows alters: trailing dots and spaces.
      {u"a.", false}, {u"a ", false}, {u"...", false}, {u"a.\\b", false},
      // Device names: any case, any extension, any component, spaces before the extension.
      {u"NUL", false}, {u"nul.txt", false}, {u"Con.tar.gz", false}, {u"docs\\PRN", false},
      {u"aux\\readme", false}, {u"nul .txt", false}, {u"COM1", false}, {u"com9.log", false},
      {u"LPT0", false}, {u"lpt5\\x", false}, {u"COM\u00B9", false}, {u"lpt\u00B2.txt", false},
      {u"com\u00B3", false}, {u"CONIN$", false}, {u"conout$.x", false}, {u"a\\b\\nul", false},
  };
  for (const auto& c : cases) {
    const std::u16string name(c.name);
    EXPECT_EQ(IsSafeEntryName(name), c.safe)
        << fs::path(std::wstring(name.begin(), name.end())).string();
  }
}

}  // namespace
