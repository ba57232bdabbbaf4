#include "base/bounded_string.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Repeat(wchar_t unit, size_t count) { return std::wstring(count, unit); }

// A buffer pre-filled with a marker, so that writes beyond the expected units show.
struct Marked {
  wchar_t units[1100];
  Marked() {
    for (wchar_t& u : units) u = L'#';
  }
};

TEST(CopyBounded, Cases) {
  struct Case {
    const char* what;
    std::wstring source;
    uint32_t capacity;
    bool ok;
    std::wstring reads;
  };
  const Case cases[] = {
      {"259 units into 260", Repeat(L'a', 259), 260, true, Repeat(L'a', 259)},
      {"260 units into 260", Repeat(L'a', 260), 260, false, L""},
      {"empty text", L"", 260, true, L""},
      {"capacity 1, empty", L"", 1, true, L""},
      {"capacity 1, one unit", L"x", 1, false, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Marked buffer;
    EXPECT_EQ(CopyBounded(buffer.units, c.capacity, c.source.c_str()), c.ok);
    EXPECT_EQ(std::wstring(buffer.units), c.reads);
    EXPECT_EQ(buffer.units[c.capacity], L'#') << "wrote past the capacity";
  }
}

TEST(CopyBounded, RefusesNullOrZeroCapacityWithoutWriting) {
  Marked buffer;
  EXPECT_FALSE(CopyBounded(nullptr, 10, L"x"));
  EXPECT_FALSE(CopyBounded(buffer.units, 0, L"x"));
  EXPECT_EQ(buffer.units[0], L'#');
}

TEST(CopyBounded, OverflowKeepsCopiedUnitsButReadsEmpty) {
  Marked buffer;
  EXPECT_FALSE(CopyBounded(buffer.units, 4, L"abcdef"));
  EXPECT_EQ(buffer.units[0], 0);
  EXPECT_EQ(buffer.units[1], L'b');
  EXPECT_EQ(buffer.units[3], L'd');
  EXPECT_EQ(buffer.units[4], L'#');
}

TEST(CopyBounded, OverlappingCopyShiftsTowardsTheFront) {
  wchar_t text[16] = L"\"C:\\a b\\s.exe\"";
  ASSERT_TRUE(CopyBounded(text, 16, text + 1));
  EXPECT_EQ(std::wstring(text), L"C:\\a b\\s.exe\"");
}

TEST(AppendBounded, Cases) {
  struct Case {
    const char* what;
    std::wstring initial;
    uint32_t capacity;
    std::wstring source;
    bool ok;
    std::wstring reads;
  };
  const Case cases[] = {
      {"122 units + -full in 128", Repeat(L'x', 122), 128, L"-full", true, Repeat(L'x', 122) + L"-full"},
      {"123 units + -full in 128", Repeat(L'x', 123), 128, L"-full", false, Repeat(L'x', 123)},
      {"empty onto full buffer", Repeat(L'x', 127), 128, L"", true, Repeat(L'x', 127)},
      {"one unit onto full buffer", Repeat(L'x', 127), 128, L"y", false, Repeat(L'x', 127)},
      {"exactly fills capacity - 1", L"ab", 5, L"cd", true, L"abcd"},
      {"one unit too many", L"ab", 5, L"cde", false, L"ab"},
      {"into empty", L"", 3, L"B7", true, L"B7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Marked buffer;
    ASSERT_TRUE(CopyBounded(buffer.units, c.capacity, c.initial.c_str()));
    EXPECT_EQ(AppendBounded(buffer.units, c.capacity, c.source.c_str()), c.ok);
    EXPECT_EQ(std::wstring(buffer.units), c.reads);
    EXPECT_EQ(buffer.units[c.capacity], L'#') << "wrote past the capacity";
  }
}

TEST(AppendBounded, UnterminatedBufferCountsAsFull) {
  Marked buffer;  // no terminator anywhere in the first capacity - 1 units
  EXPECT_FALSE(AppendBounded(buffer.units, 6, L"z"));
  EXPECT_EQ(buffer.units[5], 0) << "a terminator stands at capacity - 1";
  Marked other;
  EXPECT_TRUE(AppendBounded(other.units, 6, L""));
  EXPECT_EQ(other.units[5], 0);
  EXPECT_EQ(other.units[6], L'#');
}

TEST(AppendBounded, RefusesNullAndZeroCapacity) {
  Marked buffer;
  EXPECT_FALSE(AppendBounded(nullptr, 10, L""));
  EXPECT_FALSE(AppendBounded(buffer.units, 0, L""));
  EXPECT_EQ(buffer.units[0], L'#');
}

TEST(LengthBounded, Cases) {
  Marked unterminated;
  wchar_t text[] = L"abc";
  struct Case {
    const char* what;
    const wchar_t* text;
    uint32_t capacity;
    uint32_t length;
  };
  const Case cases[] = {
      {"terminated", text, 10, 3},
      {"terminator at capacity - 1 is not read", text, 4, 3},
      {"capacity cuts the scan", text, 3, 2},
      {"no terminator", unterminated.units, 8, 7},
      {"capacity 1", text, 1, 0},
      {"capacity 0", text, 0, 0},
      {"null", nullptr, 10, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(LengthBounded(c.text, c.capacity), c.length);
  }
}

TEST(NoCaseComparisons, Ends) {
  struct Case {
    const wchar_t* text;
    const wchar_t* suffix;
    bool ends;
  };
  const Case cases[] = {
      {L"SETUP.EX_", L"setup", false},
      {L"x-FULL", L"-full", true},
      {L"full", L"-full", false},
      {L"", L"", true},
      {L"abc", L"", true},
      // Only A-Z fold: the neighbours @ and [ stay as they are, and so does a non-ASCII pair.
      {L"@", L"`", false},
      {L"[", L"{", false},
      {L"\u00C9tape", L"\u00E9tape", false},
      {L"AZ", L"az", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "text " << c.text << " suffix " << c.suffix);
    EXPECT_EQ(EndsWithNoCase(c.text, c.suffix), c.ends);
  }
  EXPECT_FALSE(EndsWithNoCase(nullptr, L""));
  EXPECT_FALSE(EndsWithNoCase(L"", nullptr));
}

TEST(NoCaseComparisons, FoldsExactlyAToZ) {
  for (wchar_t unit = 1; unit < 0x180; ++unit) {
    const wchar_t text[] = {L'x', unit, 0};
    const bool capital = unit >= L'A' && unit <= L'Z';
    const wchar_t lower[] = {static_cast<wchar_t>(unit | 0x20), 0};
    EXPECT_EQ(EndsWithNoCase(text, lower), capital || (unit | 0x20) == unit) << int(unit);
  }
}

TEST(FindNoCase, Cases) {
  const wchar_t* hay = L"aaab";
  EXPECT_EQ(FindNoCase(hay, L"AAB"), hay + 1);
  EXPECT_EQ(FindNoCase(hay, L""), hay);
  EXPECT_EQ(FindNoCase(hay, nullptr), hay);
  EXPECT_EQ(FindNoCase(L"", L"a"), nullptr);
  EXPECT_EQ(FindNoCase(hay, L"aaabc"), nullptr);
  const wchar_t* path = L"C:\\Program Files\\Lumora\\1.2.3\\SETUP.EXE";
  EXPECT_EQ(FindNoCase(path, L"lumora\\1.2.3"), path + 17);
}

TEST(ToHexUpper, Cases) {
  const uint8_t bytes[] = {0x3A, 0x05, 0xFF, 0x00};
  Marked buffer;
  EXPECT_FALSE(ToHexUpper(bytes, 4, buffer.units, 8));
  EXPECT_EQ(buffer.units[0], L'#') << "nothing written on refusal";
  EXPECT_TRUE(ToHexUpper(bytes, 4, buffer.units, 9));
  EXPECT_EQ(std::wstring(buffer.units), L"3A05FF00");
  EXPECT_EQ(buffer.units[9], L'#');
  EXPECT_TRUE(ToHexUpper(bytes, 0, buffer.units, 1));
  EXPECT_EQ(buffer.units[0], 0);
}

TEST(FileNamePart, Cases) {
  struct Case {
    const wchar_t* path;
    uint32_t length;
    size_t position;
  };
  const Case cases[] = {
      {L"C:\\dir\\setup.exe", 16, 7},
      {L"C:\\dir\\", 7, 7},
      {L"\\name", 5, 1},
      {L"name", 4, 0},
      {L"\\name", 0, 0},
      {L"C:/dir/setup.exe", 16, 0},
      {L"C:\\a\\b", 4, 3},  // only the first length units count
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.path << " " << c.length);
    EXPECT_EQ(FileNamePart(c.path, c.length) - c.path, static_cast<ptrdiff_t>(c.position));
  }
}

TEST(BoundedOperations, LeaveTheLastErrorAlone) {
  SetLastError(12345);
  Marked buffer;
  CopyBounded(buffer.units, 3, L"abcdef");
  AppendBounded(buffer.units, 3, L"abcdef");
  LengthBounded(buffer.units, 3);
  FindNoCase(L"abc", L"x");
  ToHexUpper(reinterpret_cast<const uint8_t*>("x"), 1, buffer.units, 1);
  EXPECT_EQ(GetLastError(), 12345u);
}

TEST(BoundedString, ConstructionTerminatesFirstAndLastUnit) {
  PathBuffer path;
  EXPECT_EQ(path.text[0], 0);
  EXPECT_EQ(path.text[260], 0);
  EXPECT_EQ(PathBuffer::capacity, 260u);
  EXPECT_EQ(CommandBuffer::capacity, 1040u);
}

}  // namespace
