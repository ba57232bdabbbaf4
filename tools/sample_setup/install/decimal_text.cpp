#include "install/decimal_text.h"

std::wstring DecimalText(unsigned long long value) {
  wchar_t digits[20];  // 2^64 - 1 has 20 digits
  size_t count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::wstring text;
  while (count != 0) text.push_back(digits[--count]);
  return text;
}
