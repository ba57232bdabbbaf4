// The sample setup program's 7z reader against archives that Debian's 7-Zip made at build time,
// and against damaged and hostile copies of them made here.
#include "seven_zip_reader.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::wstring Fixture(const wchar_t* name) { return std::wstring(LUMORA_FIXTURES) + L"\\" + name; }

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(fs::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
  std::ofstream(fs::path(path), std::ios::binary).write(bytes.data(), bytes.size());
}

uint64_t Le64(const std::string& b, size_t at) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}

void PutLe32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Recomputes the header CRC and then the start-header CRC, so that a change made on purpose
// reaches the parts of the reader behind the CRC checks.
void FixStartCrc(std::string& b) { PutLe32(b, 8, Crc32(0, b.data() + 12, 20)); }
void FixCrcs(std::string& b) {
  const size_t header = static_cast<size_t>(32 + Le64(b, 12));
  const size_t size = static_cast<size_t>(Le64(b, 20));
  PutLe32(b, 28, Crc32(0, b.data() + header, size));
  FixStartCrc(b);
}

// Replaces a UTF-16 name in the header by another of the same length.
void Rename(std::string& b, const std::wstring& from, const std::wstring& to) {
  ASSERT_EQ(from.size(), to.size());
  const std::string f(reinterpret_cast<const char*>(from.data()), from.size() * 2);
  const size_t at = b.rfind(f);
  ASSERT_NE(at, std::string::npos);
  b.replace(at, f.size(), reinterpret_cast<const char*>(to.data()), to.size() * 2);
}

class ScratchDir {
 public:
  ScratchDir() {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::wstring(temp) + L"lumora-7z-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    fs::remove_all(fs::path(path_));
    fs::create_directories(fs::path(path_));
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(fs::path(path_), ignored);
  }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

struct Opened {
  HANDLE handle;
  explicit Opened(const std::wstring& path)
      : handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr)) {}
  ~Opened() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

SevenZipStatus Read(const std::wstring& path, std::vector<SevenZipEntry>& entries) {
  Opened file(path);
  EXPECT_NE(file.handle, INVALID_HANDLE_VALUE);
  return ReadSevenZip(file.handle, entries);
}

TEST(Crc32, KnownValue) {
  EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(Crc32(0, "12345", 5), "6789", 4), 0xCBF43926u) << "in pieces";
}

TEST(SevenZipReader, ListsWhat7ZipStored) {
  std::vector<SevenZipEntry> entries;
  ASSERT_EQ(Read(Fixture(L"stored.7z"), entries), SevenZipStatus::kOk);
  std::sort(entries.begin(), entries.end(),
            [](const SevenZipEntry& a, const SevenZipEntry& b) { return a.name < b.name; });
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
    EXPECT_EQ(entries[i].name, expected[i].name);
    EXPECT_EQ(entries[i].is_directory, expected[i].directory);
    if (expected[i].directory) continue;
    const std::string bytes = ReadAll(tree + expected[i].name);
    EXPECT_EQ(entries[i].size, bytes.size());
    EXPECT_EQ(entries[i].has_crc, !bytes.empty());
    if (entries[i].has_crc) EXPECT_EQ(entries[i].crc, Crc32(0, bytes.data(), bytes.size()));
  }
}

TEST(SevenZipReader, ExtractsByteForByte) {
  ScratchDir out;
  Opened archive(Fixture(L"stored.7z"));
  std::vector<SevenZipEntry> entries;
  ASSERT_EQ(ReadSevenZip(archive.handle, entries), SevenZipStatus::kOk);
  ASSERT_EQ(ExtractSevenZip(archive.handle, entries, out.path()), SevenZipStatus::kOk);
  const std::wstring tree = Fixture(L"app-3.1.4.1\\");
  for (const wchar_t* file : {L"README.txt", L"VERSION", L"empty.txt", L"bin\\lumora-launch.exe"}) {
    EXPECT_EQ(ReadAll(out.path() + file), ReadAll(tree + file)) << fs::path(file).string();
  }
  EXPECT_GT(ReadAll(tree + L"bin\\lumora-launch.exe").size(), 3u << 16) << "several chunks";
  EXPECT_TRUE(fs::is_directory(fs::path(out.path() + L"docs\\empty")));

  std::string version;
  const auto at = std::find_if(entries.begin(), entries.end(),
                               [](const SevenZipEntry& e) { return e.name == L"VERSION"; });
  ASSERT_NE(at, entries.end());
  EXPECT_EQ(ReadEntryBytes(archive.handle, *at, 64, version), SevenZipStatus::kOk);
  EXPECT_EQ(version, "3.1.4.1\r\n");
  EXPECT_EQ(ReadEntryBytes(archive.handle, *at, 8, version), SevenZipStatus::kUnsupported)
      << "larger than the caller allows";
}

// Each case starts from the stored archive (or a fixture) and changes it; the reader must refuse
// it with the status given, and never with success.
struct Refusal {
  const char* name;
  const wchar_t* fixture;
  void (*change)(std::string&);
  SevenZipStatus status;
};

const Refusal kRefusals[] = {
    {"plain text", L"not-an-archive.txt", nullptr, SevenZipStatus::kNotSevenZip},
    {"shorter than the signature header", L"stored.7z", [](std::string& b) { b.resize(31); },
     SevenZipStatus::kNotSevenZip},
    {"LZMA-compressed data", L"compressed.7z", nullptr, SevenZipStatus::kUnsupported},
    {"compressed header", L"encoded-header.7z", nullptr, SevenZipStatus::kUnsupported},
    {"unknown major version", L"stored.7z", [](std::string& b) { b[6] = 1; },
     SevenZipStatus::kUnsupported},
    {"start header CRC wrong", L"stored.7z", [](std::string& b) { b[8] ^= 1; },
     SevenZipStatus::kDamaged},
    {"header byte changed", L"stored.7z", [](std::string& b) { b[b.size() - 40] ^= 0x10; },
     SevenZipStatus::kDamaged},
    {"last byte cut off", L"stored.7z", [](std::string& b) { b.pop_back(); },
     SevenZipStatus::kDamaged},
    {"header beyond the file", L"stored.7z",
     [](std::string& b) { b[12 + 7] = 0x40; FixStartCrc(b); }, SevenZipStatus::kDamaged},
    {"header cut short, CRCs matching", L"stored.7z",
     [](std::string& b) { b[20] = static_cast<char>(b[20] - 3); FixCrcs(b); },
     SevenZipStatus::kDamaged},
    {"parent directory in a name", L"stored.7z",
     [](std::string& b) { Rename(b, L"bin/lumora", L"../lumorax"); FixCrcs(b); },
     SevenZipStatus::kUnsafeName},
    {"drive in a name", L"stored.7z",
     [](std::string& b) { Rename(b, L"VERSION", L"C:/VERS"); FixCrcs(b); },
     SevenZipStatus::kUnsafeName},
    {"absolute name", L"stored.7z",
     [](std::string& b) { Rename(b, L"README.txt", L"/README.tx"); FixCrcs(b); },
     SevenZipStatus::kUnsafeName},
};

void PrintTo(const Refusal& r, std::ostream* out) { *out << r.name; }

class SevenZipRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(SevenZipRefusal, Refused) {
  const Refusal& r = GetParam();
  ScratchDir dir;
  std::string bytes = ReadAll(Fixture(r.fixture));
  ASSERT_FALSE(bytes.empty());
  if (r.change != nullptr) r.change(bytes);
  const std::wstring path = dir.path() + L"archive.7z";
  WriteAll(path, bytes);
  std::vector<SevenZipEntry> entries;
  EXPECT_EQ(Read(path, entries), r.status);
}

INSTANTIATE_TEST_SUITE_P(Archives, SevenZipRefusal, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

TEST(SevenZipReader, DamagedDataIsNotLeftBehind) {
  ScratchDir dir;
  std::string bytes = ReadAll(Fixture(L"stored.7z"));
  const std::string launcher = ReadAll(Fixture(L"app-3.1.4.1\\bin\\lumora-launch.exe"));
  const size_t at = bytes.find(launcher.substr(0, 4096));
  ASSERT_NE(at, std::string::npos);
  bytes[at + launcher.size() - 1] ^= 1;  // the last byte: after every full chunk was written
  const std::wstring path = dir.path() + L"archive.7z";
  WriteAll(path, bytes);
  Opened archive(path);
  std::vector<SevenZipEntry> entries;
  ASSERT_EQ(ReadSevenZip(archive.handle, entries), SevenZipStatus::kOk) << "data has no header CRC";
  fs::create_directories(fs::path(dir.path() + L"out"));
  EXPECT_EQ(ExtractSevenZip(archive.handle, entries, dir.path() + L"out\\"),
            SevenZipStatus::kDamaged);
  EXPECT_FALSE(fs::exists(fs::path(dir.path() + L"out\\bin\\lumora-launch.exe")));
}

TEST(SevenZipReader, SafeNames) {
  const struct {
    const wchar_t* name;
    bool safe;
  } cases[] = {
      {L"a", true}, {L"bin\\app.exe", true}, {L"a.b\\c d\\e", true}, {L"..a", true},
      {L"", false}, {L"..", false}, {L".", false}, {L"a\\..\\b", false}, {L"\\a", false},
      {L"a\\", false}, {L"a\\\\b", false}, {L"C:a", false}, {L"a:stream", false},
      {L"a\x0001", false}, {L"a?", false}, {L"a.", false}, {L"a ", false}, {L"...", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsSafeEntryName(c.name), c.safe) << fs::path(c.name).string();
  }
}

}  // namespace
