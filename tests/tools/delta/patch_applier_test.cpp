// The applier on a previous release that is not the one the archive expects, and on damaged or
// hostile archives: it refuses with the precise result, before writing anything when a base is
// wrong, and without allocating what a claimed size asks for.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "delta/archive/patch_applier.h"
#include "delta/archive/patch_archive_format.h"
#include "delta/archive/patch_archive_writer.h"
#include "delta/engine/byte_stream.h"
#include "delta/engine/delta_format.h"
#include "delta/engine/lzma_stream.h"
#include "delta/hash/sha256.h"
#include "memory_tree.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>(random() % 11);
  return out;
}

// Version 1 and version 2 of a small application: one file unchanged, one patched, one added,
// one removed.
struct Releases {
  Files v1, v2;
  Bytes archive;
};

Releases MakeReleases() {
  Releases r;
  const Bytes program = Random(100000, 1);
  Bytes program2 = program;
  program2[500] ^= 1;
  program2.insert(program2.begin() + 70000, 200, 9);
  r.v1 = {{"app.exe", program}, {"data/keep.bin", Random(20000, 2)}, {"old.txt", TextBytes("o")}};
  r.v2 = {{"app.exe", program2}, {"data/keep.bin", Random(20000, 2)},
          {"new.txt", TextBytes("fresh file")}};
  MemoryTree old_tree(r.v1), new_tree(r.v2);
  delta::PatchCounts counts;
  std::string error;
  EXPECT_TRUE(delta::WritePatchArchive(old_tree, new_tree, r.archive, counts, error)) << error;
  return r;
}

delta::ApplyResult Apply(const Bytes& archive, const Files& installed, MemoryTree& result,
                         const delta::ApplyLimits& limits = {}) {
  MemoryTree old_tree(installed);
  delta::MemoryReader reader(archive.data(), archive.size());
  std::string detail;
  return delta::ApplyPatchArchive(reader, old_tree, result, limits, detail);
}

TEST(PatchApplier, RefusesAPreviousReleaseItWasNotMadeFor) {
  const Releases r = MakeReleases();
  const struct {
    const char* name;
    std::function<void(Files&)> change;
    delta::ApplyResult expected;
  } cases[] = {
      {"as installed", [](Files&) {}, delta::ApplyResult::kApplied},
      {"a removed file already gone", [](Files& f) { f.erase("old.txt"); },
       delta::ApplyResult::kApplied},
      {"an extra file beside them", [](Files& f) { f["user.cfg"] = TextBytes("u"); },
       delta::ApplyResult::kApplied},
      {"patched base missing", [](Files& f) { f.erase("app.exe"); },
       delta::ApplyResult::kBaseMismatch},
      {"patched base one byte changed", [](Files& f) { f["app.exe"][99999] ^= 1; },
       delta::ApplyResult::kBaseMismatch},
      {"patched base one byte longer", [](Files& f) { f["app.exe"].push_back(0); },
       delta::ApplyResult::kBaseMismatch},
      {"unchanged file missing", [](Files& f) { f.erase("data/keep.bin"); },
       delta::ApplyResult::kBaseMismatch},
      {"unchanged file one byte changed", [](Files& f) { f["data/keep.bin"][0] ^= 1; },
       delta::ApplyResult::kBaseMismatch},
      {"unchanged file emptied", [](Files& f) { f["data/keep.bin"].clear(); },
       delta::ApplyResult::kBaseMismatch},
  };
  for (const auto& c : cases) {
    Files installed = r.v1;
    c.change(installed);
    MemoryTree result;
    EXPECT_EQ(Apply(r.archive, installed, result), c.expected) << c.name;
    if (c.expected == delta::ApplyResult::kApplied) {
      EXPECT_TRUE(result.files == r.v2) << c.name;
    } else {
      EXPECT_EQ(result.begun, 0) << c.name << ": wrote before every base was checked";
    }
  }
}

TEST(PatchApplier, RefusesDamagedArchives) {
  const Releases r = MakeReleases();
  // The stream's LZMA properties follow the header and the directory; bytes 1-4 of them are
  // the dictionary's size.
  const size_t stream_at = delta::kPatchHeaderSize + (r.archive[16] | r.archive[17] << 8);
  const struct {
    const char* name;
    std::function<void(Bytes&)> damage;
  } cases[] = {
      {"empty", [](Bytes& a) { a.clear(); }},
      {"header cut", [](Bytes& a) { a.resize(20); }},
      {"directory cut", [](Bytes& a) { a.resize(delta::kPatchHeaderSize + 10); }},
      {"stream's properties cut", [stream_at](Bytes& a) { a.resize(stream_at + 3); }},
      {"stream cut in half", [stream_at](Bytes& a) { a.resize(stream_at + (a.size() - stream_at) / 2); }},
      {"a byte of the stream flipped", [](Bytes& a) { a[a.size() - 40] ^= 0x10; }},
      {"the dictionary claimed 4 GiB", [stream_at](Bytes& a) { a[stream_at + 4] = 0xff; }},
      {"a digest in the directory flipped", [](Bytes& a) { a[delta::kPatchHeaderSize + 30] ^= 1; }},
  };
  for (const auto& c : cases) {
    Bytes archive = r.archive;
    c.damage(archive);
    MemoryTree result;
    const delta::ApplyResult applied = Apply(archive, r.v1, result);
    EXPECT_TRUE(applied == delta::ApplyResult::kCorrupt ||
                applied == delta::ApplyResult::kBaseMismatch) << c.name;
    EXPECT_FALSE(result.files == r.v2) << c.name;
  }
}

// An archive written by hand: one patched file whose sizes the archive claims, over a tiny stream.
Bytes ClaimingArchive(const Files& installed, uint64_t new_size, uint64_t control_size) {
  const Bytes& base = installed.at("app.exe");
  delta::PatchEntry entry;
  entry.kind = delta::EntryKind::kPatched;
  entry.name = entry.base_name = "app.exe";
  entry.old_size = base.size();
  entry.old_digest = delta::Sha256Of(base.data(), base.size());
  entry.new_size = new_size;
  entry.control_size = control_size;
  const Bytes directory = delta::EncodeDirectory({entry});
  Bytes stream;
  EXPECT_TRUE(delta::CompressLzma(Bytes(64, 0), stream));
  delta::PatchHeader header;
  header.entry_count = 1;
  header.directory_size = directory.size();
  header.stream_size = stream.size();
  header.stream_decoded = entry.StreamBytes();
  Bytes archive = delta::EncodeHeader(header);
  archive.insert(archive.end(), directory.begin(), directory.end());
  archive.insert(archive.end(), stream.begin(), stream.end());
  return archive;
}

TEST(PatchApplier, RefusesClaimedSizesBeyondItsLimitsBeforeAllocating) {
  const Files installed = {{"app.exe", Random(1000, 3)}};
  delta::ApplyLimits limits;
  limits.max_patched_file = 1 << 20;
  const struct {
    const char* name;
    uint64_t new_size, control_size;
    delta::ApplyResult expected;
  } cases[] = {
      {"a new file just above the limit", (1 << 20) + 1, 3, delta::ApplyResult::kTooLarge},
      {"a new file of 2 GiB", 0x7fffffff, 3, delta::ApplyResult::kTooLarge},
      {"controls past their bound", 100, delta::kMaxControlBytes + 1, delta::ApplyResult::kCorrupt},
      {"at the limit, stream too short", 1 << 20, 3, delta::ApplyResult::kCorrupt},
  };
  for (const auto& c : cases) {
    MemoryTree result;
    EXPECT_EQ(Apply(ClaimingArchive(installed, c.new_size, c.control_size), installed, result,
                    limits), c.expected) << c.name;
    EXPECT_EQ(result.largest_declared, 0u) << c.name;
  }
}

TEST(PatchApplier, ANewTreeThatRefusesAFileFailsTheApply) {
  const Releases r = MakeReleases();
  for (const char* name : {"app.exe", "data/keep.bin", "new.txt"}) {
    MemoryTree result;
    result.refuse = name;
    EXPECT_EQ(Apply(r.archive, r.v1, result), delta::ApplyResult::kWriteFailed) << name;
  }
}

}  // namespace
