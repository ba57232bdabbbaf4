// Deltas made by the encoder rebuild the new file exactly, and the decoder refuses controls that
// would read or write outside either file, before it writes anything outside its buffer.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "delta/engine/byte_stream.h"
#include "delta/engine/delta_decoder.h"
#include "delta/engine/delta_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>(random());
  return out;
}

Bytes ReadFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// A program's code with every 4-byte little-endian word in a range moved by a constant, as a
// relinked program's addresses move: the case bsdiff's diff runs exist for.
Bytes Relocated(Bytes bytes, uint32_t shift) {
  for (size_t i = 0; i + 4 <= bytes.size(); i += 64) {
    uint32_t word = bytes[i] | bytes[i + 1] << 8 | bytes[i + 2] << 16 | uint32_t(bytes[i + 3]) << 24;
    word += shift;
    for (int k = 0; k < 4; ++k) bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
  }
  return bytes;
}

Bytes Spliced(const Bytes& bytes, size_t at, size_t remove, const Bytes& insert) {
  Bytes out(bytes.begin(), bytes.begin() + at);
  out.insert(out.end(), insert.begin(), insert.end());
  out.insert(out.end(), bytes.begin() + at + remove, bytes.end());
  return out;
}

Bytes Rebuild(const Bytes& old_file, const delta::DeltaParts& parts, size_t new_size,
              delta::DeltaResult& result) {
  Bytes data = parts.diff;
  data.insert(data.end(), parts.extra.begin(), parts.extra.end());
  delta::MemoryReader reader(data.data(), data.size());
  Bytes rebuilt(new_size, 0xcc);
  result = delta::DecodeDelta(old_file.data(), old_file.size(), parts.controls.data(),
                              parts.controls.size(), reader, rebuilt.data(), rebuilt.size());
  return rebuilt;
}

struct Pair {
  const char* name;
  Bytes old_file;
  Bytes new_file;
  size_t most_extra;  // the delta must find the old bytes: at most this many new ones
};

TEST(DeltaCodec, RebuildsTheNewFileExactly) {
  const Bytes program = ReadFile("/bin/ls");
  ASSERT_GT(program.size(), 10000u);
  const Bytes noise = Random(100000, 7);
  const Pair pairs[] = {
      {"both empty", {}, {}, 0},
      {"old empty", {}, Random(1000, 1), 1000},
      {"new empty", Random(1000, 2), {}, 0},
      {"identical", noise, noise, 0},
      {"one byte changed", noise, Spliced(noise, 5000, 1, {0x42}), 1},
      {"bytes inserted", noise, Spliced(noise, 40000, 0, Random(300, 3)), 300},
      {"bytes removed", noise, Spliced(noise, 40000, 3000, {}), 0},
      {"halves swapped", noise, Spliced(Bytes(noise.begin() + 50000, noise.end()), 50000, 0,
                                        Bytes(noise.begin(), noise.begin() + 50000)), 0},
      {"unrelated", Random(5000, 4), Random(5000, 5), 5000},
      {"a program relocated", program, Relocated(program, 0x1000), program.size() / 8},
      {"a program with code inserted", program,
       Spliced(program, program.size() / 2, 0, Random(4096, 6)), 4096 + 64},
  };
  for (const Pair& p : pairs) {
    delta::DeltaParts parts;
    ASSERT_TRUE(delta::EncodeDelta(p.old_file.data(), p.old_file.size(), p.new_file.data(),
                                   p.new_file.size(), parts)) << p.name;
    EXPECT_EQ(parts.diff.size() + parts.extra.size(), p.new_file.size()) << p.name;
    EXPECT_LE(parts.extra.size(), p.most_extra) << p.name;
    delta::DeltaResult result;
    const Bytes rebuilt = Rebuild(p.old_file, parts, p.new_file.size(), result);
    EXPECT_EQ(result, delta::DeltaResult::kRebuilt) << p.name;
    EXPECT_TRUE(rebuilt == p.new_file) << p.name;
  }
}

// Controls written by hand: diff, extra, seek per step.
Bytes Controls(std::initializer_list<std::array<int64_t, 3>> steps) {
  Bytes out;
  for (const auto& step : steps) {
    delta::PutVarint(out, static_cast<uint64_t>(step[0]));
    delta::PutVarint(out, static_cast<uint64_t>(step[1]));
    delta::PutSignedVarint(out, step[2]);
  }
  return out;
}

struct Hostile {
  const char* name;
  Bytes controls;
  size_t data_size;  // diff and extra bytes available
  delta::DeltaResult expected;
};

TEST(DeltaCodec, RefusesControlsOutsideEitherFile) {
  // Old file 100 bytes, new file 100 bytes.
  const Bytes old_file(100, 1);
  const Hostile cases[] = {
      {"exact: diff all", Controls({{100, 0, 0}}), 100, delta::DeltaResult::kRebuilt},
      {"exact: seek back then diff", Controls({{50, 0, -50}, {50, 0, 0}}), 100,
       delta::DeltaResult::kRebuilt},
      {"diff past the old file", Controls({{0, 0, 60}, {50, 50, 0}}), 100,
       delta::DeltaResult::kCorrupt},
      {"diff past the new file", Controls({{101, 0, 0}}), 101, delta::DeltaResult::kCorrupt},
      {"extra past the new file", Controls({{0, 101, 0}}), 101, delta::DeltaResult::kCorrupt},
      {"seek before the old file", Controls({{10, 0, -11}, {0, 90, 0}}), 100,
       delta::DeltaResult::kCorrupt},
      {"seek past the old file", Controls({{0, 0, 101}, {0, 100, 0}}), 100,
       delta::DeltaResult::kCorrupt},
      {"huge lengths", Controls({{INT64_MAX, INT64_MAX, INT64_MIN}}), 100,
       delta::DeltaResult::kCorrupt},
      {"steps short of the new size", Controls({{50, 0, 0}}), 100, delta::DeltaResult::kCorrupt},
      {"a varint cut short", Bytes{0x80}, 100, delta::DeltaResult::kCorrupt},
      {"an eleven-byte varint", Bytes(11, 0xff), 100, delta::DeltaResult::kCorrupt},
      {"no controls for a new file", Bytes{}, 100, delta::DeltaResult::kCorrupt},
      {"diff bytes missing", Controls({{100, 0, 0}}), 99, delta::DeltaResult::kShortData},
      {"extra bytes missing", Controls({{0, 100, 0}}), 10, delta::DeltaResult::kShortData},
  };
  for (const Hostile& c : cases) {
    const Bytes data(c.data_size, 0);
    delta::MemoryReader reader(data.data(), data.size());
    // Guard bytes around the new file show any write outside it.
    Bytes guarded(100 + 64, 0xee);
    const delta::DeltaResult result =
        delta::DecodeDelta(old_file.data(), old_file.size(), c.controls.data(),
                           c.controls.size(), reader, guarded.data() + 32, 100);
    EXPECT_EQ(result, c.expected) << c.name;
    for (size_t i = 0; i < 32; ++i) {
      ASSERT_EQ(guarded[i], 0xee) << c.name;
      ASSERT_EQ(guarded[guarded.size() - 1 - i], 0xee) << c.name;
    }
  }
}

}  // namespace
