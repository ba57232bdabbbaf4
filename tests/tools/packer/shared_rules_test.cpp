// The rules the stub checks its own resource directory and its setup cabinet with
// (lumora/resource_directory.h, lumora/setup_cabinet_rules.h), on bytes made here: what the
// packer writes passes, and each fault is refused as that fault.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cabinet/cabinet_writer.h"
#include "lumora/cabinet_checksum.h"
#include "crafted_image.h"
#include "lumora/resource_directory.h"
#include "lumora/setup_cabinet_rules.h"
#include "platform/byte_order.h"

namespace {

struct Bytes {
  const std::vector<uint8_t>& bytes;
  bool Read(uint32_t offset, uint8_t* out, uint32_t size) const {
    if (uint64_t{offset} + size > bytes.size()) return false;
    std::memcpy(out, bytes.data() + offset, size);
    return true;
  }
};

// --- cabinets ---------------------------------------------------------------------------------

class Memory final : public CabinetInput, public CabinetOutput {
 public:
  explicit Memory(std::vector<uint8_t> input) : input_(std::move(input)) {}
  bool Read(uint8_t* buffer, size_t size, std::string&) override {
    std::memcpy(buffer, input_.data() + read_, size);
    read_ += size;
    return true;
  }
  bool Append(const uint8_t* data, size_t size, std::string&) override {
    output.insert(output.end(), data, data + size);
    return true;
  }
  bool Overwrite(uint64_t offset, const uint8_t* data, size_t size, std::string&) override {
    std::memcpy(output.data() + offset, data, size);
    return true;
  }
  std::vector<uint8_t> output;

 private:
  std::vector<uint8_t> input_;
  size_t read_ = 0;
};

std::vector<uint8_t> Written(CabinetCompression::Method method, int window_bits, size_t size) {
  std::vector<uint8_t> file(size);
  for (size_t i = 0; i < size; ++i) file[i] = static_cast<uint8_t>((i * 7) ^ (i >> 9));
  Memory memory(file);
  std::string error;
  EXPECT_TRUE(WriteCabinet(size, 1700000000, {method, window_bits}, memory, memory, error))
      << error;
  return memory.output;
}

CabinetFault Check(const std::vector<uint8_t>& cabinet) {
  return CheckSetupCabinet(Bytes{cabinet}, cabinet.size()).fault;
}

constexpr size_t kFolder = 36, kFirstFile = 44;

// Sets every block's checksum again after a change to its sizes or data.
void Resum(std::vector<uint8_t>& c) {
  size_t at = Load32(&c[kFolder]);
  for (uint16_t i = 0; i < Load16(&c[kFolder + 4]); ++i) {
    const uint16_t size = Load16(&c[at + 4]);
    Store32(&c[at], CabinetChecksum(&c[at + 4], 4, CabinetChecksum(&c[at + 8], size, 0)));
    at += 8 + size;
  }
}

TEST(SetupCabinetRules, WhatThePackerWritesPasses) {
  using M = CabinetCompression::Method;
  const std::pair<M, int> methods[] = {{M::kNone, 0}, {M::kMszip, 0}, {M::kLzx, 15},
                                       {M::kLzx, 21}};
  for (const auto& [method, bits] : methods) {
    for (size_t size : {size_t{1}, size_t{32768}, size_t{100000}}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(method)) + " " + std::to_string(bits) + " " +
                   std::to_string(size));
      EXPECT_EQ(Check(Written(method, bits, size)), CabinetFault::kNone);
    }
  }
}

TEST(SetupCabinetRules, EachFaultIsRefusedAsItself) {
  const std::vector<uint8_t> stored = Written(CabinetCompression::Method::kNone, 0, 70000);
  const std::vector<uint8_t> mszip = Written(CabinetCompression::Method::kMszip, 0, 70000);
  // Whole blocks only, so that a block count one too high is the only fault.
  const std::vector<uint8_t> whole = Written(CabinetCompression::Method::kNone, 0, 65536);
  const size_t block = Load32(&stored[kFolder]);
  struct Case {
    const char* what;
    std::vector<uint8_t> base;
    void (*change)(std::vector<uint8_t>&);
    CabinetFault fault;
  };
  const Case cases[] = {
      {"shorter than a header", stored, [](auto& c) { c.resize(40); }, CabinetFault::kHeader},
      {"no signature", stored, [](auto& c) { c[0] = 'X'; }, CabinetFault::kHeader},
      {"version 1.4", stored, [](auto& c) { c[24] = 4; }, CabinetFault::kVersion},
      {"size field one short", stored, [](auto& c) { Store32(&c[8], Load32(&c[8]) - 1); },
       CabinetFault::kCabinetSize},
      {"one byte more than the size field", stored, [](auto& c) { c.push_back(0); },
       CabinetFault::kCabinetSize},
      {"a next cabinet", stored, [](auto& c) { c[30] = 2; }, CabinetFault::kFlags},
      {"reserved fields", stored, [](auto& c) { c[30] = 4; }, CabinetFault::kFlags},
      {"two folders", stored, [](auto& c) { c[26] = 2; }, CabinetFault::kFolderCount},
      {"no file", stored, [](auto& c) { c[28] = 0; }, CabinetFault::kNoFile},
      {"files elsewhere", stored, [](auto& c) { c[16] = 48; }, CabinetFault::kFileTable},
      {"Quantum", stored, [](auto& c) { Store16(&c[kFolder + 6], 0x0A12); },
       CabinetFault::kCompression},
      {"LZX 2^14", stored, [](auto& c) { Store16(&c[kFolder + 6], 0x0E03); },
       CabinetFault::kCompression},
      {"LZX 2^22", stored, [](auto& c) { Store16(&c[kFolder + 6], 0x1603); },
       CabinetFault::kCompression},
      {"folder 1", stored, [](auto& c) { c[kFirstFile + 8] = 1; }, CabinetFault::kFileFolder},
      {"continued", stored, [](auto& c) { Store16(&c[kFirstFile + 8], 0xFFFD); },
       CabinetFault::kFileFolder},
      {"first file at offset 1", stored, [](auto& c) { c[kFirstFile + 4] = 1; },
       CabinetFault::kFirstOffset},
      {"a control byte in the name", stored, [](auto& c) { c[kFirstFile + 16] = 0x1B; },
       CabinetFault::kFileName},
      {"an empty name", stored, [](auto& c) { c[kFirstFile + 16] = 0; }, CabinetFault::kFileName},
      {"data one byte later", stored, [](auto& c) { c[kFolder] += 1; }, CabinetFault::kDataOffset},
      {"one block more", whole, [](auto& c) { c[kFolder + 4] += 1; },
       CabinetFault::kBlockOutside},
      {"one block fewer", stored, [](auto& c) { c[kFolder + 4] -= 1; }, CabinetFault::kTrailing},
      {"checksum 0", stored, [](auto& c) { Store32(&c[Load32(&c[kFolder])], 0); },
       CabinetFault::kChecksum},
      {"a flipped data bit", stored, [](auto& c) { c[Load32(&c[kFolder]) + 100] ^= 4; },
       CabinetFault::kChecksum},
      {"stored sizes differ", stored,
       [](auto& c) {
         const size_t b = Load32(&c[kFolder]);
         Store16(&c[b + 6], 32767);
         Resum(c);
       },
       CabinetFault::kBlockSizes},
      {"first block short of 32 KiB expanded", mszip,
       [](auto& c) {
         const size_t b = Load32(&c[kFolder]);
         Store16(&c[b + 6], 32000);
         Resum(c);
       },
       CabinetFault::kBlockSizes},
      {"an MSZIP block without CK", mszip,
       [](auto& c) {
         c[Load32(&c[kFolder]) + 8] = 'X';
         Resum(c);
       },
       CabinetFault::kSignature},
      {"the file longer than the blocks", stored,
       [](auto& c) { Store32(&c[kFirstFile], Load32(&c[kFirstFile]) + 1); },
       CabinetFault::kExpandedTotal},
      {"the file shorter than the blocks", stored,
       [](auto& c) { Store32(&c[kFirstFile], Load32(&c[kFirstFile]) - 1); },
       CabinetFault::kExpandedTotal},
  };
  EXPECT_EQ(Check(stored), CabinetFault::kNone);
  EXPECT_EQ(Check(mszip), CabinetFault::kNone);
  EXPECT_GT(block, kFirstFile);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> cabinet = c.base;
    c.change(cabinet);
    EXPECT_EQ(Check(cabinet), c.fault);
  }
}

// --- resource directories ------------------------------------------------------------------------

constexpr uint32_t kRva = 0x3000;

// One section at kRva holding the directory; the image ends with it.
ResourceFault CheckDirectory(const std::vector<uint8_t>& directory) {
  const ImageSection section{kRva, static_cast<uint32_t>(directory.size()),
                             static_cast<uint32_t>(directory.size()), 0x400};
  ResourceImage image;
  image.sections = &section;
  image.section_count = 1;
  image.size_of_image = kRva + static_cast<uint32_t>(RoundUpToPage(directory.size()));
  image.directory_rva = kRva;
  image.directory_size = static_cast<uint32_t>(directory.size());
  return CheckResourceDirectory(image, Bytes{directory}).fault;
}

// "B7" and "BL" with a name each, RT_RCDATA 1; the parts given a hand to spoil.
struct Layout {
  std::u16string b7 = u"B7", bl = u"BL", archive = u"LUMORA.7Z", setup = u"SETUP.EX_";
  uint16_t named_types = 2;
  uint16_t rcdata_id = 1, second_rcdata_id = 0;  // a second RT_RCDATA name, when not 0
  uint16_t languages = 1;
  bool name_to_data = false;
  uint32_t data_rva = 0, data_size = 8;
};

std::vector<uint8_t> Directory(const Layout& l) {
  DirectoryBytes d;
  const uint16_t rcdata_names = l.second_rcdata_id != 0 ? 2 : 1;
  const uint32_t root = d.Table(2, 1);
  const uint32_t b7 = d.Table(1, 0), bl = d.Table(1, 0), rc = d.Table(0, rcdata_names);
  const uint32_t b7l = d.Table(0, l.languages), bll = d.Table(0, 1), rcl = d.Table(0, 1);
  const uint32_t rcl2 = rcdata_names == 2 ? d.Table(0, 1) : 0;
  const uint32_t data = d.DataEntry(0, l.data_size);
  d.Entry(root, 0, kHigh | d.String(l.b7), kHigh | b7);
  d.Entry(root, 1, kHigh | d.String(l.bl), kHigh | bl);
  d.Entry(root, 2, 10, kHigh | rc);
  d.Entry(b7, 0, kHigh | d.String(l.archive), kHigh | b7l);
  d.Entry(bl, 0, kHigh | d.String(l.setup), l.name_to_data ? data : kHigh | bll);
  d.Entry(rc, 0, l.rcdata_id, kHigh | rcl);
  if (rcl2 != 0) d.Entry(rc, 1, l.second_rcdata_id, kHigh | rcl2);
  for (uint16_t i = 0; i < l.languages; ++i) d.Entry(b7l, i, 1033u + i, data);
  d.Entry(bll, 0, 1033, data);
  d.Entry(rcl, 0, 1033, data);
  if (rcl2 != 0) d.Entry(rcl2, 0, 1033, data);
  Store16(&d.bytes[root + 12], l.named_types);
  const uint32_t at = d.Data(std::vector<uint8_t>(8, 'D'));
  Store32(&d.bytes[data], l.data_rva != 0 ? l.data_rva : kRva + at);
  return d.bytes;
}

TEST(ResourceDirectoryRules, EachFaultIsRefusedAsItself) {
  struct Case {
    const char* what;
    void (*change)(Layout&);
    ResourceFault fault;
  };
  const Case cases[] = {
      {"as laid out", [](Layout&) {}, ResourceFault::kNone},
      {"two languages of one name", [](Layout& l) { l.languages = 2; }, ResourceFault::kNone},
      {"types out of order", [](Layout& l) { l.b7 = u"BM"; }, ResourceFault::kOrder},
      {"a type twice", [](Layout& l) { l.b7 = u"BL"; }, ResourceFault::kOrder},
      {"a prefix after the longer name", [](Layout& l) { l.b7 = u"BLX"; }, ResourceFault::kOrder},
      {"identifiers out of order", [](Layout& l) { l.rcdata_id = 2, l.second_rcdata_id = 1; },
       ResourceFault::kOrder},
      {"an identifier twice", [](Layout& l) { l.second_rcdata_id = 1; }, ResourceFault::kOrder},
      {"a lower-case letter", [](Layout& l) { l.setup = u"setup.ex_"; }, ResourceFault::kName},
      {"a letter beyond ASCII", [](Layout& l) { l.setup = u"SETUP\u00C9"; },
       ResourceFault::kName},
      {"a zero unit", [](Layout& l) { l.b7 = std::u16string(u"B\0", 2); }, ResourceFault::kName},
      {"'#' first", [](Layout& l) { l.archive = u"#5"; }, ResourceFault::kName},
      {"an empty name", [](Layout& l) { l.archive = u""; }, ResourceFault::kName},
      {"named count 1 of 2", [](Layout& l) { l.named_types = 1; }, ResourceFault::kCounts},
      {"named count 3 of 2", [](Layout& l) { l.named_types = 3; }, ResourceFault::kCounts},
      {"no language", [](Layout& l) { l.languages = 0; }, ResourceFault::kNoLanguage},
      {"a name straight to data", [](Layout& l) { l.name_to_data = true; },
       ResourceFault::kLevel},
      {"data beyond the image", [](Layout& l) { l.data_rva = 0x10000000; },
       ResourceFault::kDataOutside},
      {"data of 0x7FFFFFF0 bytes", [](Layout& l) { l.data_size = 0x7FFFFFF0; },
       ResourceFault::kDataOutside},
      {"data before the section", [](Layout& l) { l.data_rva = kRva - 4; },
       ResourceFault::kDataOutside},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Layout layout;
    c.change(layout);
    EXPECT_EQ(CheckDirectory(Directory(layout)), c.fault);
  }
}

TEST(ResourceDirectoryRules, TablesAreReadOnceAndInTheWalksOrder) {
  // Breadth first and depth first, as resource compilers lay them out: both pass.
  for (bool depth_first : {false, true}) {
    DirectoryBytes d;
    const uint32_t root = d.Table(0, 2);
    const uint32_t n1 = d.Table(0, 1);
    const uint32_t l1_depth = depth_first ? d.Table(0, 1) : 0;
    const uint32_t n2 = d.Table(0, 1);
    const uint32_t l1 = depth_first ? l1_depth : d.Table(0, 1);
    const uint32_t l2 = d.Table(0, 1);
    d.Entry(root, 0, 10, kHigh | n1);
    d.Entry(root, 1, 11, kHigh | n2);
    d.Entry(n1, 0, 1, kHigh | l1);
    d.Entry(n2, 0, 1, kHigh | l2);
    const uint32_t data = d.DataEntry(kRva, 4);
    d.Entry(l1, 0, 1033, data);
    d.Entry(l2, 0, 1033, data);
    EXPECT_EQ(CheckDirectory(d.bytes), ResourceFault::kNone) << depth_first;
  }
  // The second name's language table before the first's.
  DirectoryBytes swapped;
  const uint32_t root = swapped.Table(0, 1), names = swapped.Table(0, 2);
  const uint32_t second = swapped.Table(0, 1), first = swapped.Table(0, 1);
  swapped.Entry(root, 0, 10, kHigh | names);
  swapped.Entry(names, 0, 1, kHigh | first);
  swapped.Entry(names, 1, 2, kHigh | second);
  const uint32_t data = swapped.DataEntry(kRva, 4);
  swapped.Entry(first, 0, 1033, data);
  swapped.Entry(second, 0, 1033, data);
  EXPECT_EQ(CheckDirectory(swapped.bytes), ResourceFault::kTableOrder);
  // One name table shared by two types.
  DirectoryBytes shared;
  const uint32_t r = shared.Table(0, 2), n = shared.Table(0, 1), l = shared.Table(0, 1);
  shared.Entry(r, 0, 10, kHigh | n);
  shared.Entry(r, 1, 11, kHigh | n);
  shared.Entry(n, 0, 1, kHigh | l);
  shared.Entry(l, 0, 1033, shared.DataEntry(kRva, 4));
  EXPECT_EQ(CheckDirectory(shared.bytes), ResourceFault::kTableOrder);
}

TEST(ResourceDirectoryRules, TheDirectoryLiesInOneSectionsFileBytes) {
  const std::vector<uint8_t> directory = Directory(Layout());
  const uint32_t size = static_cast<uint32_t>(directory.size());
  struct Case {
    const char* what;
    ImageSection section;
    bool mapped;
  };
  const Case cases[] = {
      {"file bytes hold it", {kRva, size, size, 0x400}, true},
      {"virtual size 0: the file size counts", {kRva, 0, size, 0x400}, true},
      {"the file bytes end one short", {kRva, size, size - 1, 0x400}, false},
      {"memory ends before the file bytes, its page holds it", {kRva, 16, size, 0x400}, true},
      {"the section starts after it", {kRva + 1, size, size, 0x400}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResourceImage image;
    image.sections = &c.section;
    image.section_count = 1;
    image.size_of_image = kRva + 0x10000;
    image.directory_rva = kRva;
    image.directory_size = size;
    EXPECT_EQ(ResourceDirectoryMapped(image), c.mapped);
  }
}

}  // namespace
