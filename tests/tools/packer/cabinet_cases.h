// The setup programs that the cabinet writer's tests put into cabinets: the edges of the 32 KiB
// data block, and a few MiB that deflate cannot shrink and that it shrinks to almost nothing.
// Shared by the host tests, by lumora-cabinet-fixtures (which writes the cabinets that the
// Windows tests expand) and by those Windows tests.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace cabinet_cases {

enum class Content {
  kRandom,  // no deflate match anywhere: stored deflate blocks
  kText,    // words from a small vocabulary: matches within blocks and across their edges
  kZeros,   // one long match after another
};

struct Case {
  const char* name;
  size_t size;
  Content content;
  int64_t time;  // given to the writer
  // The cabinet's date and time as a reader shows them: UTC fields, rounded down to two seconds,
  // and clamped to the years 1980 to 2107. Written out by hand, not computed.
  const char* shown_time;  // "YYYY-MM-DD HH:MM:SS"
};

constexpr size_t kBlock = 32768;

constexpr Case kCases[] = {
    {"empty", 0, Content::kZeros, 1700000000, "2023-11-14 22:13:20"},
    {"random_block_less_1", kBlock - 1, Content::kRandom, 1700000001, "2023-11-14 22:13:20"},
    {"random_block", kBlock, Content::kRandom, 951825599, "2000-02-29 11:59:58"},
    {"random_block_plus_1", kBlock + 1, Content::kRandom, 4107542400, "2100-03-01 00:00:00"},
    {"text_block_less_1", kBlock - 1, Content::kText, -1, "1980-01-01 00:00:00"},
    {"text_block", kBlock, Content::kText, 315532800, "1980-01-01 00:00:00"},
    {"text_block_plus_1", kBlock + 1, Content::kText, 4354819199, "2107-12-31 23:59:58"},
    {"random_3mib", 3 * 1024 * 1024 + 5, Content::kRandom, 1234567890, "2009-02-13 23:31:30"},
    {"text_3mib", 3 * 1024 * 1024 + 12345, Content::kText, 1700000000, "2023-11-14 22:13:20"},
    {"zeros_4mib", 4 * 1024 * 1024, Content::kZeros, 99999999999, "2107-12-31 23:59:58"},
};

// The same bytes on every platform: a fixed xorshift generator, no library randomness.
inline std::vector<uint8_t> Bytes(const Case& c) {
  std::vector<uint8_t> bytes(c.size, 0);
  uint64_t state = 0x9E3779B97F4A7C15u ^ c.size;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  static const char* const kWords[] = {"setup ", "install ", "archive ", "cabinet ", "block ",
                                       "window ", "lumora ", "deflate ", "\r\n", "0x20 "};
  size_t at = 0;
  while (at < c.size) {
    if (c.content == Content::kRandom) {
      bytes[at++] = static_cast<uint8_t>(next() >> 56);
    } else if (c.content == Content::kText) {
      for (const char* word = kWords[next() % 10]; *word != '\0' && at < c.size; ++word) {
        bytes[at++] = static_cast<uint8_t>(*word);
      }
    } else {
      ++at;
    }
  }
  return bytes;
}

}  // namespace cabinet_cases
