// The setup programs that the cabinet writer's tests put into cabinets, and the compressions
// they are put in with: the edges of the 32 KiB data block, a few MiB that no compressor can
// shrink and that every one shrinks to almost nothing, and for LZX the edges of each window, a
// file of three windows and x86 code full of calls. Shared by the host tests, by
// lumora-cabinet-fixtures (which writes the cabinets that the Windows tests expand) and by those
// Windows tests.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cabinet/cabinet_writer.h"

namespace cabinet_cases {

enum class Content {
  kRandom,  // nothing to find anywhere
  kText,    // words from a small vocabulary: matches within blocks and across their edges
  kZeros,   // one long match after another
  kRuns,    // runs of one byte, short and long
  kCode,    // x86-like code: calls (E8) to a few hundred functions between other instructions
  kMixed,   // all of the above in turns, pieces recurring far apart
};

struct Case {
  std::string name;
  size_t size;
  Content content;
  int64_t time;  // given to the writer
  // The cabinet's date and time as a reader shows them: UTC fields, rounded down to two seconds,
  // and clamped to the years 1980 to 2107. Written out by hand, not computed.
  const char* shown_time;  // "YYYY-MM-DD HH:MM:SS"
};

constexpr size_t kBlock = 32768;

inline const std::vector<Case>& BlockCases() {
  static const std::vector<Case> cases = {
      {"empty", 0, Content::kZeros, 1700000000, "2023-11-14 22:13:20"},
      {"random_block_less_1", kBlock - 1, Content::kRandom, 1700000001, "2023-11-14 22:13:20"},
      {"random_block", kBlock, Content::kRandom, 951825599, "2000-02-29 11:59:58"},
      {"random_block_plus_1", kBlock + 1, Content::kRandom, 4107542400, "2100-03-01 00:00:00"},
      {"text_block_less_1", kBlock - 1, Content::kText, -1, "1980-01-01 00:00:00"},
      {"text_block", kBlock, Content::kText, 315532800, "1980-01-01 00:00:00"},
      {"text_block_plus_1", kBlock + 1, Content::kText, 4354819199, "2107-12-31 23:59:58"},
      {"one_byte", 1, Content::kCode, 1700000000, "2023-11-14 22:13:20"},
  };
  return cases;
}

inline const std::vector<Case>& LargeCases() {
  static const std::vector<Case> cases = {
      {"random_3mib", 3 * 1024 * 1024 + 5, Content::kRandom, 1234567890, "2009-02-13 23:31:30"},
      {"text_3mib", 3 * 1024 * 1024 + 12345, Content::kText, 1700000000, "2023-11-14 22:13:20"},
      {"zeros_4mib", 4 * 1024 * 1024, Content::kZeros, 99999999999, "2107-12-31 23:59:58"},
      {"runs_1mib", 1024 * 1024 + 3, Content::kRuns, 1700000000, "2023-11-14 22:13:20"},
      {"code_2mib", 2 * 1024 * 1024 + 777, Content::kCode, 1700000000, "2023-11-14 22:13:20"},
  };
  return cases;
}

struct Compression {
  const char* name;
  CabinetCompression value;
};

inline const std::vector<Compression>& Compressions() {
  using Method = CabinetCompression::Method;
  static const std::vector<Compression> compressions = {
      {"none", {Method::kNone, 0}},   {"mszip", {Method::kMszip, 0}}, {"lzx15", {Method::kLzx, 15}},
      {"lzx16", {Method::kLzx, 16}},  {"lzx17", {Method::kLzx, 17}},  {"lzx18", {Method::kLzx, 18}},
      {"lzx19", {Method::kLzx, 19}},  {"lzx20", {Method::kLzx, 20}},  {"lzx21", {Method::kLzx, 21}},
  };
  return compressions;
}

// The cases of one compression: the block's edges for all; the large cases for the ones a
// release uses (none, MSZIP and LZX's default window); and for each LZX window its own edges
// and three windows of mixed content.
inline std::vector<Case> CasesFor(const Compression& compression) {
  std::vector<Case> cases = BlockCases();
  const CabinetCompression& c = compression.value;
  if (c.method != CabinetCompression::Method::kLzx || c.window_bits == 21) {
    cases.insert(cases.end(), LargeCases().begin(), LargeCases().end());
  }
  if (c.method == CabinetCompression::Method::kLzx) {
    const size_t window = size_t{1} << c.window_bits;
    const std::string name = compression.name;
    cases.push_back({name + "_window_less_1", window - 1, Content::kCode, 1700000000,
                     "2023-11-14 22:13:20"});
    cases.push_back({name + "_window", window, Content::kText, 1700000000, "2023-11-14 22:13:20"});
    cases.push_back({name + "_window_plus_1", window + 1, Content::kCode, 1700000000,
                     "2023-11-14 22:13:20"});
    cases.push_back({name + "_three_windows", 3 * window + 4321, Content::kMixed, 1700000000,
                     "2023-11-14 22:13:20"});
  }
  return cases;
}

// The same bytes on every platform: a fixed xorshift generator, no library randomness.
class Generator {
 public:
  explicit Generator(uint64_t seed) : state_(0x9E3779B97F4A7C15u ^ seed) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<uint32_t>(state_ >> 32);
  }

 private:
  uint64_t state_;
};

inline void AppendRandom(std::vector<uint8_t>& out, size_t size, Generator& g) {
  for (size_t i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(g.Next()));
}

inline void AppendText(std::vector<uint8_t>& out, size_t size, Generator& g) {
  static const char* const kWords[] = {"setup ", "install ", "archive ", "cabinet ", "block ",
                                       "window ", "lumora ", "deflate ", "\r\n",     "0x20 "};
  const size_t end = out.size() + size;
  while (out.size() < end) {
    for (const char* word = kWords[g.Next() % 10]; *word != '\0' && out.size() < end; ++word) {
      out.push_back(static_cast<uint8_t>(*word));
    }
  }
}

// Runs of one byte, from 1 to a few thousand long.
inline void AppendRuns(std::vector<uint8_t>& out, size_t size, Generator& g) {
  const size_t end = out.size() + size;
  while (out.size() < end) {
    const size_t run = 1 + g.Next() % (g.Next() % 4 == 0 ? 3000 : 12);
    out.insert(out.end(), std::min(run, end - out.size()), static_cast<uint8_t>(g.Next() % 5));
  }
}

// Calls (E8 and a 32-bit displacement) to a few hundred functions between short runs of other
// instruction bytes; some operands point outside the file, and some E8 bytes fall into the last
// bytes of a data block, which the call translation leaves alone.
inline void AppendCode(std::vector<uint8_t>& out, size_t size, Generator& g) {
  static const uint8_t kOther[] = {0x48, 0x89, 0x5C, 0x24, 0x08, 0x8B, 0x45, 0xFC, 0x0F, 0x1F,
                                   0x44, 0x00, 0xC3, 0xCC, 0x90, 0x33, 0xC0, 0x41, 0xFF, 0x15};
  const size_t end = out.size() + size;
  uint32_t targets[300];
  for (uint32_t& t : targets) t = g.Next() % static_cast<uint32_t>(end + 1000);
  while (out.size() < end) {
    const uint32_t kind = g.Next() % 8;
    if (kind < 3 && out.size() + 5 <= end) {
      const uint32_t at = static_cast<uint32_t>(out.size());
      const uint32_t target = kind == 0 && g.Next() % 16 == 0 ? g.Next() : targets[g.Next() % 300];
      const uint32_t relative = target - at - 5;
      out.push_back(0xE8);
      for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(relative >> (8 * b)));
    } else if (kind == 3 && out.size() % kBlock > kBlock - 12) {
      out.push_back(0xE8);
    } else {
      for (uint32_t n = 1 + g.Next() % 6; n > 0 && out.size() < end; --n) {
        out.push_back(kOther[g.Next() % sizeof(kOther)]);
      }
    }
  }
}

inline std::vector<uint8_t> Generate(Content content, size_t size, uint64_t seed) {
  std::vector<uint8_t> out;
  out.reserve(size);
  Generator g(seed);
  switch (content) {
    case Content::kRandom:
      AppendRandom(out, size, g);
      break;
    case Content::kText:
      AppendText(out, size, g);
      break;
    case Content::kZeros:
      out.resize(size, 0);
      break;
    case Content::kRuns:
      AppendRuns(out, size, g);
      break;
    case Content::kCode:
      AppendCode(out, size, g);
      break;
    case Content::kMixed:
      // Each kind in turn, in pieces of about 100 KB, and copies of earlier pieces.
      while (out.size() < size) {
        const size_t piece = std::min<size_t>(size - out.size(), 60000 + g.Next() % 80000);
        const uint32_t kind = g.Next() % 5;
        if (kind == 0) {
          AppendRandom(out, piece, g);
        } else if (kind == 1) {
          AppendRuns(out, piece, g);
        } else if (kind == 2 || out.size() <= piece) {
          AppendText(out, piece, g);
        } else if (kind == 3) {
          AppendCode(out, piece, g);
        } else {
          const size_t from = g.Next() % (out.size() - piece);
          for (size_t i = 0; i < piece; ++i) out.push_back(out[from + i]);
        }
      }
      break;
  }
  return out;
}

inline std::vector<uint8_t> Bytes(const Case& c) { return Generate(c.content, c.size, c.size); }

}  // namespace cabinet_cases
