#include "seven_zip/safe_entry_name.h"

#include <cstddef>

namespace {

bool IsRefusedUnit(char16_t unit) {
  if (unit < 0x20) return true;
  for (const char16_t refused : u"<>:\"|?*") {
    if (refused != 0 && unit == refused) return true;
  }
  return false;
}

char16_t FoldAscii(char16_t unit) {
  return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit | 0x20) : unit;
}

bool EqualsNoCase(const char16_t* text, size_t length, const char16_t* lower) {
  size_t i = 0;
  for (; i < length && lower[i] != 0; ++i) {
    if (FoldAscii(text[i]) != lower[i]) return false;
  }
  return i == length && lower[i] == 0;
}

bool IsPortDigit(char16_t unit) {
  // U+00B9, U+00B2 and U+00B3: Windows counts "COM\u00B9" as the port "COM1" does.
  return (unit >= u'0' && unit <= u'9') || unit == 0x00B9 || unit == 0x00B2 || unit == 0x00B3;
}

// The device is found from the part before the first dot, spaces before that dot ignored:
// "nul", "NUL.txt" and "nul .tar.gz" all open the null device.
bool IsDeviceName(const char16_t* part, size_t length) {
  size_t stem = 0;
  while (stem < length && part[stem] != u'.') ++stem;
  while (stem > 0 && part[stem - 1] == u' ') --stem;
  for (const char16_t* device : {u"con", u"prn", u"aux", u"nul", u"conin$", u"conout$"}) {
    if (EqualsNoCase(part, stem, device)) return true;
  }
  return stem == 4 && (EqualsNoCase(part, 3, u"com") || EqualsNoCase(part, 3, u"lpt")) &&
         IsPortDigit(part[3]);
}

}  // namespace

bool IsSafeEntryName(const std::u16string& name) {
  if (name.empty()) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find(u'\\', start);
    if (end == std::u16string::npos) end = name.size();
    const char16_t* part = name.data() + start;
    const size_t length = end - start;
    if (length == 0) return false;  // a leading, doubled or trailing backslash
    for (size_t i = 0; i < length; ++i) {
      if (IsRefusedUnit(part[i])) return false;
    }
    // Trailing dots and spaces go, which also turns "." and ".." into names of other directories.
    if (part[length - 1] == u'.' || part[length - 1] == u' ') return false;
    if (IsDeviceName(part, length)) return false;
    start = end + 1;
  }
  return true;
}
