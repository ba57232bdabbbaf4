// The suffix array built here against libdivsufsort's on texts that exercise induced sorting:
// runs, periods (many equal LMS substrings, hence recursion), small and full alphabets, and a
// real program.
#include <divsufsort.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "delta/engine/suffix_array.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> Repeated(const std::string& unit, size_t size) {
  std::vector<uint8_t> out;
  while (out.size() < size) out.push_back(static_cast<uint8_t>(unit[out.size() % unit.size()]));
  return out;
}

std::vector<uint8_t> Random(size_t size, int alphabet, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>(random() % alphabet);
  return out;
}

std::vector<uint8_t> FilePrefix(const char* path, size_t size) {
  std::ifstream file(path, std::ios::binary);
  std::vector<uint8_t> out((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (out.size() > size) out.resize(size);
  return out;
}

struct Case {
  const char* name;
  std::vector<uint8_t> text;
};

TEST(SuffixArray, MatchesLibdivsufsort) {
  std::vector<uint8_t> fibonacci_word = Bytes("a"), previous = Bytes("b");
  while (fibonacci_word.size() < 50000) {
    std::vector<uint8_t> next = fibonacci_word;
    next.insert(next.end(), previous.begin(), previous.end());
    previous = fibonacci_word;
    fibonacci_word = next;
  }
  const Case cases[] = {
      {"one byte", Bytes("x")},
      {"two equal bytes", Bytes("xx")},
      {"banana", Bytes("banana")},
      {"mississippi", Bytes("mississippi")},
      {"descending", Bytes("zyxwvutsrqponmlkjihgfedcba")},
      {"one byte repeated", Repeated("a", 10000)},
      {"period three", Repeated("abc", 10001)},
      {"period with a run", Repeated("aab", 9999)},
      {"fibonacci word", fibonacci_word},
      {"all byte values", Repeated(std::string("\xff\x00\x80\x01\x7f", 5), 4099)},
      {"two letters, random", Random(100000, 2, 1)},
      {"four letters, random", Random(100000, 4, 2)},
      {"every byte, random", Random(200000, 256, 3)},
      {"a real program", FilePrefix("/bin/ls", 1 << 20)},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> ours;
    ASSERT_TRUE(delta::BuildSuffixArray(c.text.data(), c.text.size(), ours)) << c.name;
    std::vector<saidx_t> oracle(c.text.size());
    ASSERT_EQ(0, divsufsort(c.text.data(), oracle.data(), static_cast<saidx_t>(c.text.size())));
    ASSERT_EQ(ours.size(), oracle.size()) << c.name;
    EXPECT_TRUE(std::equal(ours.begin(), ours.end(), oracle.begin())) << c.name;
  }
}

TEST(SuffixArray, EmptyTextHasNoSuffixes) {
  std::vector<int32_t> suffixes{1, 2, 3};
  ASSERT_TRUE(delta::BuildSuffixArray(nullptr, 0, suffixes));
  EXPECT_TRUE(suffixes.empty());
}

}  // namespace
