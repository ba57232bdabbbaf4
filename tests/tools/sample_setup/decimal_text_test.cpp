// The decimal text the setup program writes into its staging folder's name and its holder child's
// command line: every digit, with no leading zeros, up to the largest 64-bit value.
#include <gtest/gtest.h>

#include <string>

#include "install/decimal_text.h"

namespace {

TEST(DecimalText, WritesEveryDigitWithoutLeadingZeros) {
  const struct {
    unsigned long long value;
    const wchar_t* text;
  } cases[] = {
      {0, L"0"},
      {7, L"7"},
      {10, L"10"},
      {4294967295ull, L"4294967295"},
      {1000000000000000000ull, L"1000000000000000000"},
      {18446744073709551615ull, L"18446744073709551615"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecimalText(c.value), c.text) << c.value;
}

}  // namespace
