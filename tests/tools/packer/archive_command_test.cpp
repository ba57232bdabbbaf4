// lumora-pack archive against 7-Zip and against the setup program's own reader: 7zz tests every
// archive and extracts the same tree, and the reader decodes every file to the same bytes, for
// folders of programs (through the branch converter), text, empty files and folders, names beyond
// ASCII; the same folder gives the same bytes; what cannot be archived is refused and leaves
// nothing behind; and pack --archive DIR makes the archive itself and removes it.
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "pack_fixture.h"
#include "platform/utf_text.h"
#include "seven_zip/archive.h"
#include "seven_zip/folder_extraction.h"

namespace {

// A program the branch filter converts: an MZ header whose PE header names the x64 machine, then
// code-like bytes full of calls and jumps, longer than the writer's 1 MiB reads.
std::vector<uint8_t> ProgramBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes = PatternBytes(size, seed);
  for (size_t i = 0x100; i + 5 < bytes.size(); i += 4 + bytes[i] % 11) {
    bytes[i] = 0xE8;
    bytes[i + 4] = (bytes[i + 1] & 1) ? 0xFF : 0x00;
  }
  const uint8_t header[] = {'M', 'Z'};
  std::copy(header, header + 2, bytes.begin());
  bytes[0x3C] = 0x80;
  bytes[0x3D] = bytes[0x3E] = bytes[0x3F] = 0;
  const uint8_t pe[] = {'P', 'E', 0, 0, 0x64, 0x86};
  std::copy(pe, pe + sizeof(pe), bytes.begin() + 0x80);
  return bytes;
}

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

// Every file of an archive as the setup program's reader decodes it, by name.
class CollectFiles : public SevenZipFileReceiver {
 public:
  CollectFiles(const SevenZipArchive& archive,
               std::map<std::u16string, std::vector<uint8_t>>& files)
      : archive_(archive), files_(files) {}
  SevenZipStatus Begin(size_t index) override {
    current_ = &files_[archive_.files[index].name];
    return SevenZipStatus::kOk;
  }
  SevenZipStatus Write(const unsigned char* data, size_t size) override {
    current_->insert(current_->end(), data, data + size);
    return SevenZipStatus::kOk;
  }
  SevenZipStatus End(size_t) override { return SevenZipStatus::kOk; }

 private:
  const SevenZipArchive& archive_;
  std::map<std::u16string, std::vector<uint8_t>>& files_;
  std::vector<uint8_t>* current_ = nullptr;
};

// The time of each entry as 7zz l -slt lists it ("Modified = " and nothing when it has none).
std::vector<std::string> Times(const std::string& listing) {
  std::vector<std::string> times;
  const std::string key = "\nModified = ";
  for (size_t at = listing.find(key); at != std::string::npos; at = listing.find(key, at + 1)) {
    const size_t start = at + key.size();
    times.push_back(listing.substr(start, listing.find('\n', start) - start));
  }
  return times;
}

class ArchiveCommand : public PackFixture {
 protected:
  // A tree under the fixture: files with their bytes, and folders (names ending in '/').
  struct Item {
    std::string name;
    std::vector<uint8_t> bytes;
  };
  void MakeTree(const std::string& root, const std::vector<Item>& items) {
    ASSERT_EQ(mkdir(Path(root).c_str(), 0755), 0) << root;
    for (const Item& item : items) {
      const std::string path = Path(root + "/" + item.name);
      ASSERT_EQ(std::system(("mkdir -p \"$(dirname '" + path + "')\"").c_str()), 0);
      if (item.name.back() == '/') {
        ASSERT_EQ(std::system(("mkdir -p '" + path + "'").c_str()), 0);
      } else {
        WriteFileBytes(path, item.bytes);
      }
    }
  }
  RunResult Archive(const std::string& args, const std::string& env = "") {
    return RunProgram("cd '" + dir_ + "' && " + env + PackerCommand() + " archive " + args);
  }
  RunResult SevenZip(const std::string& args) {
    return RunProgram("cd '" + dir_ + "' && TZ=UTC 7zz " + args);
  }
  // 7-Zip extracts the archive into a new folder that must equal the source, empty folders too.
  void ExpectExtractsTo(const std::string& archive, const std::string& root) {
    const RunResult test = SevenZip("t " + archive);
    EXPECT_EQ(test.status, 0) << test.out << test.err;
    const RunResult extract = SevenZip("x -o" + archive + ".out " + archive);
    ASSERT_EQ(extract.status, 0) << extract.out << extract.err;
    const RunResult diff = RunProgram("cd '" + dir_ + "' && diff -r " + root + " " + archive + ".out");
    EXPECT_EQ(diff.status, 0) << diff.out << diff.err;
  }
  // The setup program's reader decodes every file with data to the bytes it was made from.
  void ExpectReaderDecodes(const std::string& archive, const std::vector<Item>& items) {
    const std::vector<uint8_t> bytes = ReadFileBytes(Path(archive));
    MemoryArchiveSource source(bytes.data(), bytes.size());
    SevenZipArchive listing;
    ASSERT_EQ(OpenSevenZip(source, listing), SevenZipStatus::kOk);
    ASSERT_TRUE(AllMethodsSupported(listing, nullptr));
    std::map<std::u16string, std::vector<uint8_t>> decoded;
    CollectFiles receiver(listing, decoded);
    for (size_t i = 0; i < listing.folders.size(); ++i) {
      ASSERT_EQ(ExtractFolder(source, listing, i, LargestFolderMemory(listing), receiver),
                SevenZipStatus::kOk) << "folder " << i;
    }
    std::map<std::u16string, std::vector<uint8_t>> expected;
    for (const Item& item : items) {
      if (item.name.back() == '/' || item.bytes.empty()) continue;
      std::u16string name;
      ASSERT_TRUE(Utf8ToUtf16(item.name, name));
      std::replace(name.begin(), name.end(), u'/', u'\\');
      expected[name] = item.bytes;
    }
    EXPECT_TRUE(decoded == expected) << decoded.size() << " files decoded of " << expected.size();
  }
};

TEST_F(ArchiveCommand, SevenZipExtractsTheSameTree) {
  const std::vector<uint8_t> program = ProgramBytes((1 << 20) * 2 + 777, 3);
  struct Case {
    const char* what;
    std::vector<Item> items;
  };
  const Case cases[] = {
      {"programs and the rest",
       {{"app.exe", program},
        {"lib/helper.dll", ProgramBytes(70001, 4)},
        {"lib/copy.dll", program},
        {"readme.txt", Text("Read me.\n")},
        {"data/table.bin", PatternBytes(300000, 5)}}},
      {"only programs", {{"a.exe", ProgramBytes(5000, 6)}, {"b.exe", ProgramBytes(5001, 7)}}},
      {"a real program, whose code sections the converter reads",
       {{"stub.exe", ReadFileBytes(LUMORA_STUB)}, {"other.dll", ProgramBytes(9000, 12)}}},
      {"only empty entries", {{"empty.txt", {}}, {"folder/", {}}, {"folder/inner/", {}}}},
      {"empty ones among the rest",
       {{"empty.dat", {}}, {"logs/", {}}, {"bin/tool.exe", ProgramBytes(4097, 8)},
        {"bin/zero", {}}, {"etc/a.conf", Text("a=1\n")}}},
      {"names beyond ASCII, deep folders",
       {{"donn\xC3\xA9" "es/\xCE\xB2\xCE\xB5\xCF\x84\xCE\xB1.txt", Text("beta\n")},
        {"a/b/c/d/e/f/g/h.txt", Text("deep\n")},
        {"\xE6\x96\x87\xE6\xA1\xA3/\xF0\x9F\x93\x84.txt", Text("four bytes\n")}}},
      {"not programs whatever their names",
       {{"fake.exe", Text("MZ but nothing after")},
        {"short.dll", Text("MZ")},
        {"pe-outside.exe", [] {
           std::vector<uint8_t> b = ProgramBytes(4096, 9);
           b[0x3D] = 0x7F;  // the PE header beyond the file
           return b;
         }()}}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string root = "tree" + std::to_string(n), archive = "tree" + std::to_string(n) + ".7z";
    ++n;
    MakeTree(root, c.items);
    const RunResult run = Archive("--output " + archive + " " + root);
    ASSERT_EQ(run.status, 0) << run.err;
    ExpectExtractsTo(archive, root);
    ExpectReaderDecodes(archive, c.items);
  }
}

TEST_F(ArchiveCommand, ProgramsGoThroughTheBranchConverterInABlockOfTheirOwn) {
  MakeTree("app", {{"app.exe", ProgramBytes(100000, 10)}, {"readme.txt", Text("text\n")}});
  ASSERT_EQ(Archive("-o app-out.7z app").status, 0);
  const RunResult list = SevenZip("l -slt app-out.7z");
  ASSERT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("Path = app.exe\n"), std::string::npos) << list.out;
  // The main stream's LZMA with its window, the call and jump streams' with no literal context.
  EXPECT_NE(list.out.find(":lc0:lp2 LZMA:"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find(" BCJ2\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("Blocks = 2"), std::string::npos) << list.out;
}

TEST_F(ArchiveCommand, SameFolderSameBytesAndTheTimeFromSourceDateEpoch) {
  MakeTree("app", {{"app.exe", ProgramBytes(50000, 11)}, {"b/", {}}, {"c.txt", Text("c")}});
  ASSERT_EQ(Archive("-o one.7z app").status, 0);
  // The files' own times and modes are not carried.
  ASSERT_EQ(std::system(("touch -d '2001-02-03' '" + Path("app/c.txt") + "' && chmod 600 '" +
                         Path("app/c.txt") + "'").c_str()), 0);
  ASSERT_EQ(Archive("-o two.7z app").status, 0);
  EXPECT_EQ(ReadFileBytes(Path("one.7z")), ReadFileBytes(Path("two.7z")));
  EXPECT_EQ(Times(SevenZip("l -slt one.7z").out), std::vector<std::string>(3, ""))
      << "no time without SOURCE_DATE_EPOCH";

  ASSERT_EQ(Archive("-o timed.7z app", "SOURCE_DATE_EPOCH=1600000000 ").status, 0);
  EXPECT_EQ(Times(SevenZip("l -slt timed.7z").out),
            std::vector<std::string>(3, "2020-09-13 12:26:40.0000000"));
  const RunResult bad = Archive("-o bad.7z app", "SOURCE_DATE_EPOCH=yesterday ");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("SOURCE_DATE_EPOCH"), std::string::npos) << bad.err;
}

TEST_F(ArchiveCommand, RefusesWhatItCannotArchiveAndLeavesNothing) {
  MakeTree("empty", {});
  MakeTree("ok", {{"a.txt", Text("a")}});
  MakeTree("fifo", {{"a.txt", Text("a")}});
  ASSERT_EQ(mkfifo(Path("fifo/pipe").c_str(), 0600), 0);
  MakeTree("linked", {{"a.txt", Text("a")}});
  ASSERT_EQ(symlink("..", Path("linked/up").c_str()), 0);
  MakeTree("outdir", {});
  struct Case {
    const char* what;
    std::string args;
    int status;
    const char* message;
    bool linux_only;  // Wine shows FIFOs and links as plain files and folders
  };
  const Case cases[] = {
      {"no such folder", "-o x.7z missing", 1, "missing is not a folder", false},
      {"a file, not a folder", "-o x.7z app.7z", 1, "app.7z is not a folder", false},
      {"an empty folder", "-o x.7z empty", 1, "is empty", false},
      {"a FIFO inside", "-o x.7z fifo", 1, "is a FIFO", true},
      {"a link to a folder inside", "-o x.7z linked", 1, "link to a folder", true},
      {"output is a folder", "-o outdir ok", 1, "is a directory", false},
      {"no output", "ok", 2, "missing --output", false},
      {"no folder", "-o x.7z", 2, "needs the folder", false},
      {"two folders", "-o x.7z ok empty", 2, "takes one folder", false},
      {"an unknown option", "-o x.7z --level 9 ok", 2, "unknown option", false},
  };
  const std::vector<std::string> before = DirectoryEntries();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.linux_only && PackerIsWindowsBuild()) continue;
    const RunResult run = Archive(c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(DirectoryEntries(), before) << "nothing written";
  }
}

TEST_F(ArchiveCommand, PackArchivesAFolderItselfAndRemovesTheArchive) {
  MakeTree("app", {{"app.exe", ProgramBytes(30000, 12)}, {"readme.txt", Text("hello\n")}});
  // Pack gives the archive the installer's time (Args gives --cabinet-time 1700000000).
  ASSERT_EQ(Archive("-o app-made.7z app", "SOURCE_DATE_EPOCH=1700000000 ").status, 0);
  const std::vector<std::string> before = DirectoryEntries();
  const RunResult packed = Pack(Args("--archive app --json"));
  ASSERT_EQ(packed.status, 0) << packed.err;
  // The installer carries the very archive archive writes.
  const std::vector<uint8_t> made = ReadFileBytes(Path("app-made.7z"));
  const std::vector<uint8_t> installer = ReadFileBytes(Path("out.exe"));
  EXPECT_NE(std::search(installer.begin(), installer.end(), made.begin(), made.end()),
            installer.end());
  std::vector<std::string> after = before;
  after.push_back("out.exe");
  std::sort(after.begin(), after.end());
  EXPECT_EQ(DirectoryEntries(), after) << "the archive pack made is removed";

  // Refused after the archive was made (the output would replace the setup program): the
  // archive goes too.
  const RunResult refused = Pack(Args("--archive app", "setup.exe"));
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("is the setup program"), std::string::npos) << refused.err;
  EXPECT_EQ(DirectoryEntries(), after) << "nothing left beside the output";
}

}  // namespace
