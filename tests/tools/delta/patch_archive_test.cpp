// The patch archive made from two trees turns the first into the second, says for each file what
// it did, and comes out the same every time; its reader refuses directories that break the
// format's rules.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "delta/archive/patch_applier.h"
#include "delta/archive/patch_archive_format.h"
#include "delta/archive/patch_archive_reader.h"
#include "delta/archive/patch_archive_writer.h"
#include "delta/engine/byte_stream.h"
#include "memory_tree.h"

namespace {

std::vector<uint8_t> Random(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>(random() % 7);  // compressible, like programs
  return out;
}

std::vector<uint8_t> Changed(std::vector<uint8_t> bytes, size_t at) {
  bytes[at] ^= 0x5a;
  return bytes;
}

struct TreeCase {
  const char* name;
  Files old_files;
  Files new_files;
  delta::PatchCounts counts;  // unchanged, patched, added, removed
};

TEST(PatchArchive, TurnsTheOldTreeIntoTheNewOne) {
  const std::vector<uint8_t> program = Random(200000, 1), library = Random(50000, 2);
  const TreeCase cases[] = {
      {"nothing changed", {{"bin/app.exe", program}, {"VERSION", TextBytes("1")}},
       {{"bin/app.exe", program}, {"VERSION", TextBytes("1")}}, {2, 0, 0, 0}},
      {"one file changed", {{"bin/app.exe", program}, {"lib/x.dll", library}},
       {{"bin/app.exe", Changed(program, 1000)}, {"lib/x.dll", library}}, {1, 1, 0, 0}},
      {"added and removed", {{"a.txt", TextBytes("a")}, {"old/gone.dll", library}},
       {{"a.txt", TextBytes("a")}, {"new/fresh.dll", Random(3000, 3)}}, {1, 0, 1, 1}},
      {"moved unchanged", {{"bin/x.dll", library}}, {{"lib/x.dll", library}}, {0, 1, 0, 1}},
      {"moved and changed", {{"bin/x.dll", library}}, {{"lib/x.dll", Changed(library, 5)}},
       {0, 1, 0, 1}},
      {"empty files", {{"empty", {}}, {"gone", {}}}, {{"empty", {}}, {"new", {}}}, {1, 1, 0, 1}},
      {"from nothing", {}, {{"a", TextBytes("first")}, {"b/c", program}}, {0, 0, 2, 0}},
      {"to nothing", {{"a", TextBytes("first")}}, {}, {0, 0, 0, 1}},
      {"file emptied", {{"a", program}}, {{"a", {}}}, {0, 1, 0, 0}},
      // The applier keeps one buffer for every patched file: larger, smaller, grown and empty
      // ones after each other must each see only their own base.
      {"several patched of different sizes",
       {{"a", program}, {"b", library}, {"c", TextBytes("three")}, {"d", {}}, {"e", library}},
       {{"a", Changed(program, 7)}, {"b", Changed(library, 49999)}, {"c", TextBytes("three!")},
        {"d", TextBytes("grown from nothing")}, {"e", Random(60000, 2)}},
       {0, 5, 0, 0}},
      {"names of every allowed kind",
       {{"d\xc3\xa9j\xc3\xa0/\xe6\x96\x87 x.txt", TextBytes("1")}, {"a-b_c+(d)", TextBytes("2")}},
       {{"d\xc3\xa9j\xc3\xa0/\xe6\x96\x87 x.txt", TextBytes("1!")}, {"a-b_c+(d)", TextBytes("2")}},
       {1, 1, 0, 0}},
  };
  for (const TreeCase& c : cases) {
    MemoryTree old_tree(c.old_files), new_tree(c.new_files);
    std::vector<uint8_t> archive, again;
    delta::PatchCounts counts;
    std::string error;
    ASSERT_TRUE(delta::WritePatchArchive(old_tree, new_tree, archive, counts, error))
        << c.name << ": " << error;
    EXPECT_EQ(counts.unchanged, c.counts.unchanged) << c.name;
    EXPECT_EQ(counts.patched, c.counts.patched) << c.name;
    EXPECT_EQ(counts.added, c.counts.added) << c.name;
    EXPECT_EQ(counts.removed, c.counts.removed) << c.name;
    ASSERT_TRUE(delta::WritePatchArchive(old_tree, new_tree, again, counts, error)) << c.name;
    EXPECT_TRUE(archive == again) << c.name << ": not the same bytes twice";

    MemoryTree result;
    delta::MemoryReader reader(archive.data(), archive.size());
    std::string detail;
    EXPECT_EQ(delta::ApplyPatchArchive(reader, old_tree, result, delta::ApplyLimits{}, detail),
              delta::ApplyResult::kApplied) << c.name << ": " << detail;
    EXPECT_TRUE(result.files == c.new_files) << c.name;
  }
}

TEST(PatchArchive, CarriesTheNewReleasesEmptyFolders) {
  using Folders = std::set<std::string>;
  const struct {
    const char* name;
    Files old_files;
    Folders old_folders;
    Files new_files;
    Folders new_folders;
  } cases[] = {
      {"an empty folder added", {{"a", TextBytes("1")}}, {}, {{"a", TextBytes("1")}}, {"logs"}},
      {"a nested one", {}, {}, {{"bin/app.exe", TextBytes("x")}}, {"bin/plugins/cache", "z"}},
      {"kept empty", {{"a", TextBytes("1")}}, {"logs"}, {{"a", TextBytes("2")}}, {"logs"}},
      {"a removed file's name now a folder", {{"cache", TextBytes("old")}}, {}, {}, {"cache"}},
      {"no longer empty", {}, {"logs"}, {{"logs/today.txt", TextBytes("t")}}, {}},
  };
  for (const auto& c : cases) {
    MemoryTree old_tree(c.old_files), new_tree(c.new_files);
    old_tree.folders = c.old_folders;
    new_tree.folders = c.new_folders;
    std::vector<uint8_t> archive;
    delta::PatchCounts counts;
    std::string error;
    ASSERT_TRUE(delta::WritePatchArchive(old_tree, new_tree, archive, counts, error))
        << c.name << ": " << error;
    EXPECT_EQ(counts.folders, c.new_folders.size()) << c.name;

    MemoryTree result;
    delta::MemoryReader reader(archive.data(), archive.size());
    std::string detail;
    ASSERT_EQ(delta::ApplyPatchArchive(reader, old_tree, result, delta::ApplyLimits{}, detail),
              delta::ApplyResult::kApplied) << c.name << ": " << detail;
    EXPECT_TRUE(result.files == c.new_files) << c.name;
    EXPECT_TRUE(result.folders == c.new_folders) << c.name;
  }
}

TEST(PatchArchive, AFolderTheNewTreeRefusesFailsTheApply) {
  MemoryTree old_tree, new_tree({{"a", TextBytes("1")}});
  new_tree.folders = {"logs"};
  std::vector<uint8_t> archive;
  delta::PatchCounts counts;
  std::string error;
  ASSERT_TRUE(delta::WritePatchArchive(old_tree, new_tree, archive, counts, error)) << error;
  MemoryTree result;
  result.refuse = "logs";
  delta::MemoryReader reader(archive.data(), archive.size());
  std::string detail;
  EXPECT_EQ(delta::ApplyPatchArchive(reader, old_tree, result, delta::ApplyLimits{}, detail),
            delta::ApplyResult::kWriteFailed);
  EXPECT_EQ(detail, "logs");
}

TEST(PatchArchive, WriterRefusesAFolderNamedAsAFile) {
  MemoryTree old_tree, new_tree({{"logs", TextBytes("1")}});
  for (const char* folder : {"logs", "bad:name"}) {
    new_tree.folders = {folder};
    std::vector<uint8_t> archive;
    delta::PatchCounts counts;
    std::string error;
    EXPECT_FALSE(delta::WritePatchArchive(old_tree, new_tree, archive, counts, error)) << folder;
    EXPECT_NE(error.find(folder), std::string::npos) << error;
  }
}

TEST(PatchArchive, ASmallChangeMakesASmallArchive) {
  const std::vector<uint8_t> program = Random(500000, 4);
  MemoryTree old_tree({{"app.exe", program}}), new_tree({{"app.exe", Changed(program, 250000)}});
  std::vector<uint8_t> archive;
  delta::PatchCounts counts;
  std::string error;
  ASSERT_TRUE(delta::WritePatchArchive(old_tree, new_tree, archive, counts, error));
  EXPECT_LT(archive.size(), 400u);
}

TEST(PatchArchive, WriterRefusesNamesTheFormatCannotCarry) {
  for (const char* name : {"a\\b", "con:x", "trailing."}) {
    MemoryTree old_tree, new_tree({{name, TextBytes("x")}});
    std::vector<uint8_t> archive;
    delta::PatchCounts counts;
    std::string error;
    EXPECT_FALSE(delta::WritePatchArchive(old_tree, new_tree, archive, counts, error)) << name;
    EXPECT_NE(error.find(name), std::string::npos) << error;
  }
}

TEST(PatchArchive, EntryNames) {
  const struct {
    std::string name;
    bool valid;
  } cases[] = {
      {"a", true}, {"dir/sub/file.txt", true}, {"with space/x y", true},
      {"\xc3\xa9t\xc3\xa9", true}, {std::string(1024, 'n'), true},
      {"", false}, {std::string(1025, 'n'), false}, {"/abs", false}, {"dir/", false},
      {"a//b", false}, {".", false}, {"..", false}, {"a/../b", false}, {"a/./b", false},
      {"a\\b", false}, {"c:x", false}, {"a*", false}, {"a?", false}, {"a\"", false},
      {"a<", false}, {"a>", false}, {"a|", false}, {"dot.", false}, {"space ", false},
      {std::string("nul\0x", 5), false}, {"tab\tx", false}, {"del\x7f", false},
  };
  for (const auto& c : cases) EXPECT_EQ(delta::IsValidEntryName(c.name), c.valid) << c.name;
}

// A directory and header written by hand, for the reader's refusals.
struct DirectoryCase {
  const char* name;
  std::vector<delta::PatchEntry> entries;
  int64_t decoded_adjust;  // added to the stream's true decoded size
  bool valid;
};

delta::PatchEntry Entry(delta::EntryKind kind, const std::string& name, uint64_t size = 1) {
  delta::PatchEntry entry;
  entry.kind = kind;
  entry.name = name;
  entry.new_size = size;
  if (kind == delta::EntryKind::kPatched) {
    entry.base_name = name;
    entry.old_size = size;
    entry.control_size = 3;
  }
  return entry;
}

TEST(PatchArchive, ReaderRefusesDirectoriesThatBreakTheRules) {
  using K = delta::EntryKind;
  const DirectoryCase cases[] = {
      {"sorted and distinct", {Entry(K::kAdded, "A"), Entry(K::kPatched, "b")}, 0, true},
      {"out of order", {Entry(K::kAdded, "b"), Entry(K::kAdded, "a")}, 0, false},
      {"a name twice", {Entry(K::kAdded, "a"), Entry(K::kRemoved, "a")}, 0, false},
      {"names equal but for case", {Entry(K::kAdded, "Setup.exe"), Entry(K::kAdded, "setup.exe")},
       0, false},
      {"an escaping name", {Entry(K::kAdded, "../x")}, 0, false},
      {"a folder among files", {Entry(K::kAdded, "a"), Entry(K::kFolder, "b/c")}, 0, true},
      {"a folder twice", {Entry(K::kFolder, "a"), Entry(K::kFolder, "a")}, 0, false},
      {"a folder and a file alike", {Entry(K::kAdded, "a"), Entry(K::kFolder, "a")}, 0, false},
      {"a folder and a file but for case", {Entry(K::kFolder, "Data"), Entry(K::kAdded, "data")},
       0, false},
      {"an escaping folder", {Entry(K::kFolder, "..")}, 0, false},
      {"a patched file too large to hold", {Entry(K::kPatched, "a", 0x80000000ull)}, 0, false},
      {"an added file past the bound", {Entry(K::kAdded, "a", (1ull << 40) + 1)}, 0, false},
      {"stream size off by one", {Entry(K::kAdded, "a", 10)}, 1, false},
      {"stream size short by one", {Entry(K::kAdded, "a", 10)}, -1, false},
  };
  for (const DirectoryCase& c : cases) {
    const std::vector<uint8_t> directory = delta::EncodeDirectory(c.entries);
    delta::PatchHeader header;
    header.entry_count = static_cast<uint32_t>(c.entries.size());
    header.directory_size = directory.size();
    for (const delta::PatchEntry& entry : c.entries) header.stream_decoded += entry.StreamBytes();
    header.stream_decoded += c.decoded_adjust;
    std::vector<delta::PatchEntry> decoded;
    std::string error;
    EXPECT_EQ(delta::DecodeDirectory(header, directory.data(), directory.size(), decoded, error),
              c.valid) << c.name << ": " << error;
  }
}

TEST(PatchArchive, ReaderRefusesHeadersOutOfBounds) {
  const struct {
    const char* name;
    size_t offset;  // the byte changed
    uint8_t value;
    bool valid;
  } cases[] = {
      {"as written", 0, 'L', true},
      {"another magic", 0, 'X', false},
      {"format version 1", 8, 1, false},
      {"format version 3", 8, 3, false},
      {"format version 0", 8, 0, false},
      {"more entries than allowed", 15, 0x01, false},  // 2^24 entries
      {"a directory past its bound", 20, 0x10, false},  // 2^36 bytes
  };
  delta::PatchHeader header;
  header.entry_count = 3;
  header.directory_size = 100;
  const std::vector<uint8_t> written = delta::EncodeHeader(header);
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = written;
    bytes[c.offset] = c.value;
    delta::PatchHeader decoded;
    std::string error;
    EXPECT_EQ(delta::DecodeHeader(bytes.data(), bytes.size(), decoded, error), c.valid) << c.name;
  }
}

}  // namespace
