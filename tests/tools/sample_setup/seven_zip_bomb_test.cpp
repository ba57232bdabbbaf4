// Headers that declare far more than they hold, or that make a careless reader redo work for
// every item: the 7z reader's memory must stay a small multiple of the header's size and its work
// proportional to it. This program counts every allocation (operator new is replaced below), so
// it is one of its own. Work is not timed: a reader that walks all the files again for each of
// the header's properties walks some 10^10 bits for the case of 100,000 files and 250,000
// properties, and the test's time limit ends it. The 16 MB case is refused by the header's size
// limit before anything of it is read, and counts above the reader's bound on files before
// anything is sized by them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <new>
#include <string>

#include "decode/byte_source.h"
#include "seven_zip/archive.h"
#include "seven_zip_craft.h"

namespace {

size_t g_allocated = 0;
size_t g_peak = 0;

void* Allocate(size_t size) {
  // The size sits in front of the block, so that delete knows what it gives back.
  void* block = std::malloc(size + 16);
  if (block == nullptr) throw std::bad_alloc();
  *static_cast<size_t*>(block) = size;
  g_allocated += size;
  if (g_allocated > g_peak) g_peak = g_allocated;
  return static_cast<char*>(block) + 16;
}

void Release(void* p) {
  if (p == nullptr) return;
  void* block = static_cast<char*>(p) - 16;
  g_allocated -= *static_cast<size_t*>(block);
  std::free(block);
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

namespace {

// The most memory a header may cost, per byte of it: the largest entry list it can hold (a
// quarter of a million one-letter names at the size limit) needs under twenty.
constexpr size_t kBytesPerHeaderByte = 24;

size_t NumberLength(uint64_t value) {
  craft::Header h;
  return h.Number(value).bytes.size();
}

// Pads a header with a property the reader skips (7-Zip's kDummy), so that with the two closing
// kEnd bytes it is size bytes long. False when no length of the padding comes out exactly.
bool PadTo(craft::Header& h, size_t size) {
  const size_t room = size - 2 - h.bytes.size();
  for (size_t length = 1; length <= 9; ++length) {
    const size_t filler = room - 1 - length;
    if (NumberLength(filler) == length) {
      h.Number(0x19).Number(filler).Raw(std::string(filler, '\0'));
      return true;
    }
  }
  return false;
}

// A count that only the header's remaining bytes limit: 40 bytes of records per header byte. A
// header the size limit itself, so that the reader parses it; empty when it cannot be padded so.
std::string FilesBomb(uint64_t files) {
  craft::Header h;
  h.Byte(0x01).Byte(0x05).Number(files);
  if (!PadTo(h, kSevenZipMaxHeaderSize)) return std::string();
  return h.Byte(0x00).Byte(0x00).bytes;
}

// Twenty folders of 900,000 streams each, whose sizes are missing: a reader that goes on after
// the header has run out makes 18 million streams.
std::string SubstreamBomb() {
  constexpr int kFolders = 20;
  constexpr uint64_t kStreams = 900000;
  craft::Header h;
  h.Byte(0x01).Byte(0x04);
  h.Byte(0x06).Number(0).Number(kFolders).Byte(0x09);
  for (int i = 0; i < kFolders; ++i) h.Number(0);
  h.Byte(0x00);
  h.Byte(0x07).Byte(0x0B).Number(kFolders).Byte(0);
  for (int i = 0; i < kFolders; ++i) h.Byte(1).Byte(1).Byte(0);
  h.Byte(0x0C);
  for (int i = 0; i < kFolders; ++i) h.Number(0);
  h.Byte(0x00);
  h.Byte(0x08).Byte(0x0D);
  for (int i = 0; i < kFolders; ++i) h.Number(kStreams);
  h.Byte(0x09);
  h.Raw(std::string(kStreams, '\0'));  // the first folder's sizes, and nothing for the rest
  return h.Byte(0x00).Byte(0x00).bytes;
}

// As many empty files as one-letter names fit, then as many properties as fit after them: a
// reader that recounts the empty files for every property walks 10^10 bits.
std::string ManyFilesAndProperties(size_t files, size_t properties) {
  craft::Header h;
  h.Byte(0x01).Byte(0x05).Number(files);
  h.Number(0x0E).Number((files + 7) / 8).Raw(std::string((files + 7) / 8, '\xFF'));
  h.Number(0x0F).Number((files + 7) / 8).Raw(std::string((files + 7) / 8, '\xFF'));
  std::u16string names;
  for (size_t i = 0; i < files; ++i) names += std::u16string(u"x\0", 2);
  h.Names(names);
  for (size_t i = 0; i < properties; ++i) h.Number(0x19).Number(0);
  return h.Byte(0x00).Byte(0x00).bytes;
}

TEST(SevenZipBomb, MemoryAndWorkFollowTheHeader) {
  const struct {
    const char* name;
    std::string header;
    SevenZipStatus status;
    size_t entries;
  } cases[] = {
      {"8 million files declared, no names", FilesBomb(kSevenZipMaxHeaderSize - 16),
       SevenZipStatus::kDamaged, 0},
      {"as many files declared as the reader takes, no names", FilesBomb(kSevenZipMaxFiles),
       SevenZipStatus::kDamaged, 0},
      {"18 million streams declared, 900,000 sizes given", SubstreamBomb(),
       SevenZipStatus::kDamaged, 0},
      {"as many empty files as the reader takes", ManyFilesAndProperties(kSevenZipMaxFiles, 0),
       SevenZipStatus::kOk, kSevenZipMaxFiles},
      {"one empty file more", ManyFilesAndProperties(kSevenZipMaxFiles + 1, 0),
       SevenZipStatus::kUnsupported, 0},
      {"100,000 empty files, 250,000 properties", ManyFilesAndProperties(100000, 250000),
       SevenZipStatus::kOk, 100000},
      {"a 16 MB header: 1.9 million empty files, 4 million properties",
       ManyFilesAndProperties(1900000, 4000000), SevenZipStatus::kUnsupported, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.header.empty());
    const std::string bytes = craft::Archive("", c.header);
    MemoryArchiveSource source(bytes.data(), bytes.size());
    SevenZipArchive archive;
    const size_t before = g_allocated;
    g_peak = g_allocated;
    EXPECT_EQ(OpenSevenZip(source, archive), c.status);
    const size_t peak = g_peak - before;
    EXPECT_EQ(archive.files.size(), c.entries);
    EXPECT_LE(peak, kBytesPerHeaderByte * c.header.size())
        << peak / c.header.size() << " bytes per header byte";
    std::cout << "  " << c.name << ": header " << c.header.size() << " bytes, peak "
              << peak << " bytes\n";
  }
}

}  // namespace
