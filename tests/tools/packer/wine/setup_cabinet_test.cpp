// The packer's setup cabinets as the installer meets them: written at build time by the packer
// on the build machine (lumora-cabinet-fixtures) in each compression (none, MSZIP, LZX at every
// window), expanded by the system cabinet library through the installer's own ExpandCabinet,
// with the bytes, attributes and time that went in. And the same writer built for Windows, with
// its own zlib and the same LZX encoder, writes the same bytes from the same input.
#include "payload/expand_cabinet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "payload/payload_test_support.h"
#include "tools/packer/cabinet_cases.h"
#include "cabinet/cabinet_writer.h"

namespace {

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The case's setup program, and its cabinet in a compression.
std::wstring SetupFixture(const cabinet_cases::Case& c) {
  return DataPath((Wide(c.name) + L".bin").c_str());
}
std::wstring CabinetFixture(const cabinet_cases::Compression& compression,
                            const cabinet_cases::Case& c) {
  return DataPath((Wide(compression.name) + L"-" + Wide(c.name) + L".cab").c_str());
}

std::vector<uint8_t> Contents(const std::wstring& path) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(ReadBytes(path, bytes)) << "cannot read a fixture";
  return bytes;
}

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The shown time ("YYYY-MM-DD HH:MM:SS") read as the installer reads a cabinet's date: as local
// time, turned into UTC.
uint64_t CreationTicks(const char* shown) {
  SYSTEMTIME fields = {};
  const std::string s = shown;
  fields.wYear = static_cast<WORD>(std::stoi(s.substr(0, 4)));
  fields.wMonth = static_cast<WORD>(std::stoi(s.substr(5, 2)));
  fields.wDay = static_cast<WORD>(std::stoi(s.substr(8, 2)));
  fields.wHour = static_cast<WORD>(std::stoi(s.substr(11, 2)));
  fields.wMinute = static_cast<WORD>(std::stoi(s.substr(14, 2)));
  fields.wSecond = static_cast<WORD>(std::stoi(s.substr(17, 2)));
  FILETIME local;
  FILETIME utc;
  if (!SystemTimeToFileTime(&fields, &local) || !LocalFileTimeToFileTime(&local, &utc)) return 0;
  return Ticks(utc);
}

class SetupCabinet : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch.Ok()); }
  // Expands the case's cabinet into "setup.exe" and returns what the file system says of it.
  bool Expand(const cabinet_cases::Compression& compression, const cabinet_cases::Case& c,
              WIN32_FILE_ATTRIBUTE_DATA& facts) {
    DeleteFileW(destination.c_str());
    // Listed as a run lists it; the expanded file's hold ends with the list, on return.
    ExtractedFiles files;
    ExtractedFile* entry = files.Add(L"", destination.c_str());
    return entry != nullptr &&
           ExpandCabinet(CabinetFixture(compression, c).c_str(), *entry) &&
           GetFileAttributesExW(destination.c_str(), GetFileExInfoStandard, &facts);
  }
  ScratchDirectory scratch;
  std::wstring destination = scratch / L"setup.exe";
};

TEST_F(SetupCabinet, TheSystemLibraryExpandsEveryCase) {
  for (const cabinet_cases::Compression& compression : cabinet_cases::Compressions()) {
    for (const cabinet_cases::Case& c : cabinet_cases::CasesFor(compression)) {
      SCOPED_TRACE(std::string(compression.name) + "-" + c.name);
      WIN32_FILE_ATTRIBUTE_DATA facts;
      ASSERT_TRUE(Expand(compression, c, facts));
      EXPECT_TRUE(Contents(destination) == Contents(SetupFixture(c)));
      const DWORD relevant = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                             FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
      EXPECT_EQ(facts.dwFileAttributes & relevant, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    }
  }
}

TEST_F(SetupCabinet, TheFileTakesTheCabinetsTimeAsItsCreationTime) {
  if (!CreationTimesAreKept(scratch)) GTEST_SKIP() << kCreationTimesNotKept;
  for (const cabinet_cases::Compression& compression : cabinet_cases::Compressions()) {
    for (const cabinet_cases::Case& c : cabinet_cases::CasesFor(compression)) {
      SCOPED_TRACE(std::string(compression.name) + "-" + c.name);
      WIN32_FILE_ATTRIBUTE_DATA facts;
      ASSERT_TRUE(Expand(compression, c, facts));
      EXPECT_EQ(Ticks(facts.ftCreationTime), CreationTicks(c.shown_time));
    }
  }
}

class Bytes final : public CabinetInput {
 public:
  explicit Bytes(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  bool Read(uint8_t* buffer, size_t size, std::string& error) override {
    if (at_ + size > bytes_.size()) {
      error = "read past the end";
      return false;
    }
    std::copy(bytes_.begin() + at_, bytes_.begin() + at_ + size, buffer);
    at_ += size;
    return true;
  }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t at_ = 0;
};

class Sink final : public CabinetOutput {
 public:
  bool Append(const uint8_t* data, size_t size, std::string&) override {
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  bool Overwrite(uint64_t offset, const uint8_t* data, size_t size, std::string& error) override {
    if (offset + size > bytes.size()) {
      error = "overwrite past the end";
      return false;
    }
    std::copy(data, data + size, bytes.begin() + offset);
    return true;
  }
  std::vector<uint8_t> bytes;
};

// The packer's Windows build, lumora-pack.exe, writes the same installers from the same inputs
// as its Linux build (PackerParity); here the cabinet writer alone, built for Windows, against the
// cabinets of the Linux build, in every compression.
TEST(CabinetWriter, TheWriterBuiltForWindowsWritesTheSameBytes) {
  for (const cabinet_cases::Compression& compression : cabinet_cases::Compressions()) {
    for (const cabinet_cases::Case& c : cabinet_cases::CasesFor(compression)) {
      SCOPED_TRACE(std::string(compression.name) + "-" + c.name);
      const std::vector<uint8_t> setup = Contents(SetupFixture(c));
      Bytes input(setup);
      Sink output;
      std::string error;
      // The packer clamps the time before it reaches the writer.
      const int64_t time = std::clamp(c.time, kEarliestCabinetTime, kLatestCabinetTime);
      ASSERT_TRUE(WriteCabinet(setup.size(), time, compression.value, input, output, error))
          << error;
      EXPECT_TRUE(output.bytes == Contents(CabinetFixture(compression, c)));
    }
  }
}

}  // namespace
