// The setup cabinet in each compression (none, MSZIP, LZX at every window), checked by three
// independent readers, gcab, cabextract (which also checks every block's checksum) and 7-Zip,
// for each edge of the data block and of LZX's windows and for data that the compressors cannot
// and can shrink; and what the writer does when it cannot finish.
#include "cabinet/setup_cabinet.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cabinet_cases.h"
#include "pack_fixture.h"

namespace {

uint32_t Get16(const std::vector<uint8_t>& in, size_t at) { return in[at] | (in[at + 1] << 8); }
uint32_t Get32(const std::vector<uint8_t>& in, size_t at) {
  return Get16(in, at) | (Get16(in, at + 2) << 16);
}

// The data blocks of a one-folder cabinet, found by walking their headers from the folder's first.
struct Layout {
  bool ok = false;
  uint32_t folders = 0;
  uint32_t files = 0;
  uint32_t compression = 0;
  uint32_t declared_size = 0;
  uint32_t declared_blocks = 0;
  std::vector<uint32_t> packed;    // compressed bytes of each block, MSZIP's "CK" included
  std::vector<uint32_t> expanded;  // bytes each block expands to
};

Layout ReadLayout(const std::vector<uint8_t>& cab) {
  Layout layout;
  if (cab.size() < 44) return layout;
  layout.declared_size = Get32(cab, 8);
  layout.folders = Get16(cab, 26);
  layout.files = Get16(cab, 28);
  layout.declared_blocks = Get16(cab, 36 + 4);
  layout.compression = Get16(cab, 36 + 6);
  size_t at = Get32(cab, 36);
  while (at + 8 <= cab.size()) {
    const uint32_t packed = Get16(cab, at + 4);
    if (at + 8 + packed > cab.size()) return layout;
    // An MSZIP block is a deflate stream behind "CK".
    if (layout.compression == 1 && (packed < 2 || cab[at + 8] != 'C' || cab[at + 9] != 'K')) {
      return layout;
    }
    layout.packed.push_back(packed);
    layout.expanded.push_back(Get16(cab, at + 6));
    at += 8 + packed;
  }
  layout.ok = at == cab.size();
  return layout;
}

// "YYYY-MM-DD HH:MM:SS" as cabextract shows it: "DD.MM.YYYY HH:MM:SS".
std::string DayFirst(const std::string& shown) {
  return shown.substr(8, 2) + "." + shown.substr(5, 2) + "." + shown.substr(0, 4) + shown.substr(10);
}

class SetupCabinet : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/lumora-cabinet-test-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override {
    if (!dir_.empty()) EXPECT_EQ(std::system(("rm -rf '" + dir_ + "'").c_str()), 0) << dir_;
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // What the directory holds besides the given inputs: a failure must leave nothing there.
  std::string Leftovers() const {
    return RunProgram("ls -A '" + dir_ + "' | grep -v '^in-' | tr '\\n' ' '").out;
  }

  std::string dir_;
};

TEST_F(SetupCabinet, ReadersExpandEveryCaseByteIdentically) {
  for (const cabinet_cases::Compression& compression : cabinet_cases::Compressions()) {
    for (const cabinet_cases::Case& c : cabinet_cases::CasesFor(compression)) {
      const std::string name = std::string(compression.name) + "-" + c.name;
      SCOPED_TRACE(name);
      const std::vector<uint8_t> bytes = cabinet_cases::Bytes(c);
      const std::string input = Path("in-" + name);
      const std::string cab = Path(name + ".cab");
      WriteFileBytes(input, bytes);
      std::string error;
      InputFile setup;
      ASSERT_TRUE(setup.Open(input, error)) << error;
      ASSERT_TRUE(WriteSetupCabinet(setup, c.time, compression.value, cab, error)) << error;

      const std::string by_gcab = Path("gcab-" + name);
      const std::string by_cabextract = Path("cabextract-" + name);
      const std::string by_7zip = Path("7zip-" + name);
      const RunResult gcab = RunProgram("mkdir '" + by_gcab + "' && gcab -x -C '" + by_gcab +
                                        "' '" + cab + "'");
      EXPECT_EQ(gcab.status, 0) << gcab.err;
      EXPECT_TRUE(ReadFileBytes(by_gcab + "/setup.exe") == bytes);
      const RunResult cabextract =
          RunProgram("cabextract -q -d '" + by_cabextract + "' '" + cab + "'");
      EXPECT_EQ(cabextract.status, 0) << cabextract.out << cabextract.err;
      EXPECT_TRUE(ReadFileBytes(by_cabextract + "/setup.exe") == bytes);
      const RunResult seven_zip =
          RunProgram("7zz x -bso0 -bsp0 '-o" + by_7zip + "' '" + cab + "'");
      EXPECT_EQ(seven_zip.status, 0) << seven_zip.out << seven_zip.err;
      EXPECT_TRUE(ReadFileBytes(by_7zip + "/setup.exe") == bytes);
      RunProgram("rm -rf '" + by_gcab + "' '" + by_cabextract + "' '" + by_7zip + "' '" + input +
                 "'");
      // Name, size, UTC date and time, and attributes as each reader shows them.
      EXPECT_EQ(RunProgram("gcab -l '" + cab + "'").out,
                "setup.exe " + std::to_string(c.size) + " " + c.shown_time + " 0x20\n");
      const std::string listed = RunProgram("cabextract -l '" + cab + "'").out;
      EXPECT_NE(listed.find(std::to_string(c.size) + " | " + DayFirst(c.shown_time) +
                            " | setup.exe"),
                std::string::npos)
          << listed;

      // Blocks of 32 KiB, each within what readers accept: Windows' cabinet library and
      // cabextract refuse a block of more than 32768 + 6144 compressed bytes.
      const std::vector<uint8_t> written = ReadFileBytes(cab);
      RunProgram("rm -f '" + cab + "'");
      const Layout layout = ReadLayout(written);
      ASSERT_TRUE(layout.ok);
      EXPECT_EQ(layout.declared_size, written.size());
      EXPECT_EQ(layout.folders, 1u);
      EXPECT_EQ(layout.files, 1u);
      EXPECT_EQ(layout.compression, CompressionType(compression.value));
      const size_t blocks = (c.size + cabinet_cases::kBlock - 1) / cabinet_cases::kBlock;
      EXPECT_EQ(layout.declared_blocks, blocks);
      ASSERT_EQ(layout.expanded.size(), blocks);
      for (size_t i = 0; i < blocks; ++i) {
        EXPECT_EQ(layout.expanded[i], i + 1 < blocks ? cabinet_cases::kBlock
                                                     : c.size - i * cabinet_cases::kBlock);
        EXPECT_LE(layout.packed[i], 32768u + 6144u);
        if (compression.value.method == CabinetCompression::Method::kNone) {
          EXPECT_EQ(layout.packed[i], layout.expanded[i]);
        }
      }
      if (compression.value.method == CabinetCompression::Method::kNone) continue;
      if (c.content == cabinet_cases::Content::kText && c.size > 1000) {
        EXPECT_LT(written.size(), c.size / 2);
      }
      if (c.content == cabinet_cases::Content::kZeros && c.size > 0) {
        EXPECT_LT(written.size(), c.size / 100);
      }
    }
  }
}

// The compression type in the folder's header, which readers pick their decoder by.
TEST(CabinetCompressionType, NamesTheMethodAndTheWindow) {
  using Method = CabinetCompression::Method;
  EXPECT_EQ(CompressionType({Method::kNone, 0}), 0x0000);
  EXPECT_EQ(CompressionType({Method::kMszip, 0}), 0x0001);
  EXPECT_EQ(CompressionType({Method::kLzx, 15}), 0x0F03);
  EXPECT_EQ(CompressionType({Method::kLzx, 18}), 0x1203);
  EXPECT_EQ(CompressionType({Method::kLzx, 21}), 0x1503);
}

TEST_F(SetupCabinet, FailsWithoutLeavingACabinet) {
  WriteFileBytes(Path("in-setup.exe"), {1, 2, 3});
  // A file one byte larger than a folder can hold, sparse, so refused before anything is read.
  const std::string too_large = Path("in-too-large.exe");
  WriteFileBytes(too_large, {});
  ASSERT_EQ(truncate(too_large.c_str(), static_cast<off_t>(kMaxCabinetFileSize + 1)), 0);
  const struct {
    const char* what;
    std::string setup;
    std::string cabinet;
    const char* message;
  } cases[] = {
      {"no setup program", Path("in-missing.exe"), Path("setup.cab"), "cannot open"},
      {"a directory", dir_, Path("setup.cab"), "not a regular file"},
      {"too large for a cabinet", too_large, Path("setup.cab"), "a cabinet holds at most 2147450880"},
      {"no directory for the cabinet", Path("in-setup.exe"), Path("missing/setup.cab"),
       "cannot write into the folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The setup program is opened once, by the caller, and handed on open.
    std::string error;
    InputFile setup;
    EXPECT_FALSE(setup.Open(c.setup, error) &&
                 WriteSetupCabinet(setup, 1700000000, CabinetCompression{}, c.cabinet, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(Leftovers(), "");
  }
}

// The writer on its own: a read or a write that fails mid-way ends the cabinet with that error.
class Bytes final : public CabinetInput {
 public:
  Bytes(std::vector<uint8_t> bytes, int fail_at) : bytes_(std::move(bytes)), fail_at_(fail_at) {}
  bool Read(uint8_t* buffer, size_t size, std::string& error) override {
    if (reads_++ == fail_at_ || at_ + size > bytes_.size()) {
      error = "read failed";
      return false;
    }
    std::copy(bytes_.begin() + at_, bytes_.begin() + at_ + size, buffer);
    at_ += size;
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
  int fail_at_;
  int reads_ = 0;
  size_t at_ = 0;
};

class Sink final : public CabinetOutput {
 public:
  explicit Sink(int fail_at) : fail_at_(fail_at) {}
  bool Append(const uint8_t* data, size_t size, std::string& error) override {
    if (writes_++ == fail_at_) {
      error = "write failed";
      return false;
    }
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  bool Overwrite(uint64_t offset, const uint8_t* data, size_t size, std::string& error) override {
    if (writes_++ == fail_at_ || offset + size > bytes.size()) {
      error = "write failed";
      return false;
    }
    std::copy(data, data + size, bytes.begin() + offset);
    return true;
  }
  std::vector<uint8_t> bytes;

 private:
  int fail_at_;
  int writes_ = 0;
};

TEST(CabinetWriter, StopsAtTheFirstFailure) {
  const std::vector<uint8_t> three_blocks = PatternBytes(2 * 32768 + 100, 7);
  const struct {
    const char* what;
    int read_fails, write_fails;
    int64_t time;
    const char* message;
  } cases[] = {
      {"first read", 0, -1, 1700000000, "read failed"},
      {"last read", 2, -1, 1700000000, "read failed"},
      {"headers", -1, 0, 1700000000, "write failed"},
      {"second block", -1, 2, 1700000000, "write failed"},
      {"total size", -1, 4, 1700000000, "write failed"},
      {"before 1980", -1, -1, kEarliestCabinetTime - 1, "outside what a cabinet can hold"},
      {"after 2107", -1, -1, kLatestCabinetTime + 1, "outside what a cabinet can hold"},
  };
  using Method = CabinetCompression::Method;
  for (const CabinetCompression compression :
       {CabinetCompression{Method::kNone, 0}, CabinetCompression{Method::kMszip, 0},
        CabinetCompression{Method::kLzx, 21}}) {
    SCOPED_TRACE(CompressionType(compression));
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      Bytes input(three_blocks, c.read_fails);
      Sink output(c.write_fails);
      std::string error;
      EXPECT_FALSE(WriteCabinet(three_blocks.size(), c.time, compression, input, output, error));
      EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    // The same writer and data without a failure: the failures above were the only cause.
    Bytes input(three_blocks, -1);
    Sink output(-1);
    std::string error;
    EXPECT_TRUE(WriteCabinet(three_blocks.size(), 1700000000, compression, input, output, error))
        << error;
  }
}

// LZX takes windows of 2^15 to 2^21 bytes; the writer refuses others before writing anything.
TEST(CabinetWriter, RefusesAnLzxWindowThatCabinetsDoNotHave) {
  for (const int window : {0, 14, 22}) {
    SCOPED_TRACE(window);
    Bytes input(PatternBytes(100, 3), -1);
    Sink output(-1);
    std::string error;
    EXPECT_FALSE(WriteCabinet(100, 1700000000, {CabinetCompression::Method::kLzx, window}, input,
                              output, error));
    EXPECT_NE(error.find("cabinets take 2^15 to 2^21"), std::string::npos) << error;
    EXPECT_TRUE(output.bytes.empty());
  }
}

}  // namespace
