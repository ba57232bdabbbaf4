// Writes cabinet files ("MSCF", version 1.3) for tests: stored or LZX (uncompressed LZX blocks),
// one folder, any number of files, with the fields tests need to vary.
#pragma once

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

// The cabinet format ("MSCF", version 1.3), as far as these tests need it.
namespace cab {

constexpr uint16_t kNone = 0x0000;
// LZX with a window of 2^18 bytes, as in the shipped setup cabinet.
constexpr uint16_t kLzx18 = 0x1203;
// Each data block expands to one frame of 32 KiB (the last may be shorter).
constexpr size_t kFrame = 32768;

struct File {
  std::string name;
  std::vector<uint8_t> data;
  uint16_t date = 0x5d8a;  // 2026-12-10
  uint16_t time = 0x13ad;  // 02:29:26
  uint16_t attribs = 0x20;
};

inline void Put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}
inline void Put32(std::vector<uint8_t>& out, uint32_t value) {
  Put16(out, value & 0xffff);
  Put16(out, value >> 16);
}
inline uint16_t Get16(const std::vector<uint8_t>& in, size_t at) {
  return static_cast<uint16_t>(in[at] | (in[at + 1] << 8));
}
inline uint32_t Get32(const std::vector<uint8_t>& in, size_t at) {
  return Get16(in, at) | (static_cast<uint32_t>(Get16(in, at + 2)) << 16);
}

// LZX packs its bit stream into 16-bit little-endian words, most significant bit first.
class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      word_ = static_cast<uint16_t>((word_ << 1) | ((value >> i) & 1));
      if (++count_ == 16) Flush();
    }
  }
  // An uncompressed block's header is followed by 1 to 16 bits of padding up to the next word:
  // a header that ends on a word boundary still gets a whole padding word.
  void PadAfterUncompressedHeader() { Put(0, 16 - count_); }

 private:
  void Flush() {
    Put16(out_, word_);
    word_ = 0;
    count_ = 0;
  }
  std::vector<uint8_t>& out_;
  uint16_t word_ = 0;
  int count_ = 0;
};

// One data block's bytes for one frame of LZX: a single uncompressed block (block type 3) that
// holds the frame. The first frame starts with the E8-translation flag, here off.
inline std::vector<uint8_t> LzxFrame(const uint8_t* data, size_t size, bool first) {
  std::vector<uint8_t> out;
  BitWriter bits(out);
  if (first) bits.Put(0, 1);
  bits.Put(3, 3);
  bits.Put(static_cast<uint32_t>(size), 24);
  bits.PadAfterUncompressedHeader();
  // The repeated-offset registers R0, R1 and R2, which an uncompressed block sets.
  Put32(out, 1);
  Put32(out, 1);
  Put32(out, 1);
  out.insert(out.end(), data, data + size);
  // An uncompressed block of odd length is followed by one byte that realigns the stream.
  if (size & 1) out.push_back(0);
  return out;
}

// The checksum of a data block as cabinet libraries check it: the data's little-endian words
// combined by exclusive or (the last one to three bytes as one more word, the first highest),
// then the block's two sizes with the data's sum as the seed.
inline uint32_t CabinetSum(const uint8_t* data, size_t size, uint32_t seed) {
  uint32_t sum = seed;
  size_t at = 0;
  for (; at + 4 <= size; at += 4) {
    sum ^= data[at] | data[at + 1] << 8 | data[at + 2] << 16 | uint32_t{data[at + 3]} << 24;
  }
  uint32_t tail = 0;
  for (; at < size; ++at) tail = (tail << 8) | data[at];
  return sum ^ tail;
}
inline uint32_t BlockChecksum(const uint8_t* data, size_t size, const uint8_t* sizes) {
  return CabinetSum(sizes, 4, CabinetSum(data, size, 0));
}

// A single-folder cabinet of the given files, stored (kNone) or as LZX uncompressed blocks. No
// files gives a cabinet with no folder and no file. Every data block carries its checksum, as the
// stub's check of a setup cabinet requires.
inline std::vector<uint8_t> Build(const std::vector<File>& files, uint16_t compression) {
  std::vector<uint8_t> folder;
  for (const File& file : files) folder.insert(folder.end(), file.data.begin(), file.data.end());
  std::vector<std::vector<uint8_t>> blocks;
  std::vector<uint16_t> expanded;
  for (size_t at = 0; at < folder.size(); at += kFrame) {
    const size_t size = folder.size() - at < kFrame ? folder.size() - at : kFrame;
    if (compression == kNone) {
      blocks.emplace_back(folder.begin() + at, folder.begin() + at + size);
    } else {
      blocks.push_back(LzxFrame(folder.data() + at, size, at == 0));
    }
    expanded.push_back(static_cast<uint16_t>(size));
  }
  const uint32_t folders = files.empty() ? 0 : 1;
  const uint32_t files_offset = 36 + 8 * folders;
  uint32_t data_offset = files_offset;
  for (const File& file : files) data_offset += 16 + static_cast<uint32_t>(file.name.size()) + 1;
  uint32_t total = data_offset;
  for (const auto& block : blocks) total += 8 + static_cast<uint32_t>(block.size());

  std::vector<uint8_t> out = {'M', 'S', 'C', 'F'};
  Put32(out, 0);
  Put32(out, total);
  Put32(out, 0);
  Put32(out, files_offset);
  Put32(out, 0);
  out.push_back(3);  // version 1.3
  out.push_back(1);
  Put16(out, folders);
  Put16(out, static_cast<uint32_t>(files.size()));
  Put16(out, 0);       // flags: no previous or next cabinet, no reserve
  Put16(out, 0x4c55);  // set id
  Put16(out, 0);       // cabinet 0 of the set
  if (folders != 0) {
    Put32(out, data_offset);
    Put16(out, static_cast<uint32_t>(blocks.size()));
    Put16(out, compression);
  }
  uint32_t offset = 0;
  for (const File& file : files) {
    Put32(out, static_cast<uint32_t>(file.data.size()));
    Put32(out, offset);
    Put16(out, 0);  // folder 0
    Put16(out, file.date);
    Put16(out, file.time);
    Put16(out, file.attribs);
    out.insert(out.end(), file.name.begin(), file.name.end());
    out.push_back(0);
    offset += static_cast<uint32_t>(file.data.size());
  }
  for (size_t i = 0; i < blocks.size(); ++i) {
    std::vector<uint8_t> sizes;
    Put16(sizes, static_cast<uint32_t>(blocks[i].size()));
    Put16(sizes, expanded[i]);
    Put32(out, BlockChecksum(blocks[i].data(), blocks[i].size(), sizes.data()));
    out.insert(out.end(), sizes.begin(), sizes.end());
    out.insert(out.end(), blocks[i].begin(), blocks[i].end());
  }
  return out;
}

// Where the first file entry's date, time and attributes lie. A file entry carries no checksum,
// so a cabinet made by a tool can be given any of them afterwards.
inline size_t FirstFileEntry(const std::vector<uint8_t>& cabinet) { return Get32(cabinet, 16); }
inline void SetFirstFile(std::vector<uint8_t>& cabinet, uint16_t date, uint16_t time,
                         uint16_t attribs) {
  const size_t entry = FirstFileEntry(cabinet);
  cabinet[entry + 10] = static_cast<uint8_t>(date);
  cabinet[entry + 11] = static_cast<uint8_t>(date >> 8);
  cabinet[entry + 12] = static_cast<uint8_t>(time);
  cabinet[entry + 13] = static_cast<uint8_t>(time >> 8);
  cabinet[entry + 14] = static_cast<uint8_t>(attribs);
  cabinet[entry + 15] = static_cast<uint8_t>(attribs >> 8);
}
inline uint16_t FirstFileDate(const std::vector<uint8_t>& c) { return Get16(c, FirstFileEntry(c) + 10); }
inline uint16_t FirstFileTime(const std::vector<uint8_t>& c) { return Get16(c, FirstFileEntry(c) + 12); }
// Offset of the first data block's compressed bytes (one folder, no reserve).
inline size_t FirstBlockData(const std::vector<uint8_t>& cabinet) { return Get32(cabinet, 36) + 8; }

}  // namespace cab
