// One open registry key: strings and dwords read as the registry really holds them, written
// as the updater reads them, and a key closed once.
#include "base/registry_key.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/client_state_scratch.h"

namespace {

using scratch::DwordBytes;
using scratch::kProbe;
using scratch::kScratchAppId;
using scratch::kView32;
using scratch::TextBytes;

// The reads and writes on a scratch key, opened directly, in both hives.
class RegistryKeyTest : public ::testing::TestWithParam<bool> {
 protected:
  uint32_t OpenScratch(RegistryKey& key, uint32_t access) const {
    return key.Open(scratch_.root(), scratch_.path().c_str(), access | kView32);
  }
  // A fresh key holding the probe value as stored (or no value), opened for reading.
  void OpenWithProbe(RegistryKey& key, bool present, DWORD type,
                     const std::vector<uint8_t>& stored) const {
    scratch_.Remove();
    ASSERT_TRUE(scratch_.Create());
    if (present) ASSERT_TRUE(scratch_.Set(kProbe, type, stored));
    ASSERT_EQ(OpenScratch(key, KEY_QUERY_VALUE), 0u);
  }
  scratch::ClientStateKey scratch_{GetParam(), kScratchAppId};
};

INSTANTIATE_TEST_SUITE_P(BothHives, RegistryKeyTest, ::testing::Bool(),
                         [](const auto& info) { return scratch::HiveName(info.param); });

TEST_P(RegistryKeyTest, OpensOnlyAnExistingKeyWithTheAccessAskedFor) {
  RegistryKey key;
  EXPECT_EQ(OpenScratch(key, KEY_QUERY_VALUE), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(key.handle(), nullptr);
  EXPECT_FALSE(scratch_.Exists(kView32)) << "never created";

  ASSERT_TRUE(scratch_.Create());
  ASSERT_TRUE(scratch_.SetDword(kProbe, 0x1234));
  ASSERT_EQ(OpenScratch(key, KEY_QUERY_VALUE), 0u);
  uint32_t value = 0;
  EXPECT_EQ(key.ReadDword(kProbe, value), 0u);
  EXPECT_EQ(value, 0x1234u);
  EXPECT_EQ(key.WriteDword(kProbe, 7), static_cast<uint32_t>(ERROR_ACCESS_DENIED));

  // A second open replaces the first.
  ASSERT_EQ(OpenScratch(key, KEY_QUERY_VALUE | KEY_SET_VALUE), 0u);
  EXPECT_EQ(key.WriteDword(kProbe, 7), 0u);
  EXPECT_EQ(scratch_.Get(kProbe).bytes, DwordBytes(7));
  EXPECT_EQ(OpenScratch(key, KEY_QUERY_VALUE), 0u);
  EXPECT_EQ(key.WriteDword(kProbe, 8), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
}

struct StringCase {
  const char* what;
  DWORD type;
  std::vector<uint8_t> stored;  // empty with present = false: no value at all
  bool present;
  uint32_t capacity;
  uint32_t expected_error;
  std::wstring expected_text;  // checked when expected_error is 0
};

std::vector<uint8_t> Units(size_t count, bool terminated) {
  return TextBytes(std::wstring(count, L'a'), terminated);
}

TEST_P(RegistryKeyTest, ReadStringTakesOnlyPlainStringsThatFitWithTheirTerminator) {
  const std::vector<uint8_t> odd = {'a', 0, 'b'};
  const StringCase cases[] = {
      {"terminated", REG_SZ, TextBytes(L"beta", true), true, 128, 0, L"beta"},
      {"unterminated", REG_SZ, TextBytes(L"beta", false), true, 128, 0, L"beta"},
      {"zero bytes", REG_SZ, {}, true, 128, 0, L""},
      {"one byte", REG_SZ, {'x'}, true, 128, 0, L""},
      {"odd byte count keeps whole units", REG_SZ, odd, true, 128, 0, L"a"},
      {"only a terminator", REG_SZ, TextBytes(L"", true), true, 128, 0, L""},
      {"127 units and terminator: 256 bytes", REG_SZ, Units(127, true), true, 128, 0,
       std::wstring(127, L'a')},
      {"127 units unterminated", REG_SZ, Units(127, false), true, 128, 0, std::wstring(127, L'a')},
      {"128 units unterminated: no room for a terminator", REG_SZ, Units(128, false), true, 128,
       ERROR_MORE_DATA, L""},
      {"128 units and terminator: 258 bytes", REG_SZ, Units(128, true), true, 128, ERROR_MORE_DATA,
       L""},
      {"fills a small buffer exactly", REG_SZ, Units(1, true), true, 2, 0, L"a"},
      {"one unit unterminated in two", REG_SZ, Units(1, false), true, 2, 0, L"a"},
      {"two units unterminated in two", REG_SZ, Units(2, false), true, 2, ERROR_MORE_DATA, L""},
      {"expandable string", REG_EXPAND_SZ, TextBytes(L"%TEMP%", true), true, 128,
       ERROR_NOT_SUPPORTED, L""},
      {"multi-string", REG_MULTI_SZ, TextBytes(std::wstring(L"a\0b\0", 4), true), true, 128,
       ERROR_NOT_SUPPORTED, L""},
      {"dword", REG_DWORD, DwordBytes(1), true, 128, ERROR_NOT_SUPPORTED, L""},
      {"missing", REG_SZ, {}, false, 128, ERROR_FILE_NOT_FOUND, L""},
  };
  constexpr size_t kGuard = 4;
  constexpr wchar_t kFill = L'#';
  for (const StringCase& c : cases) {
    SCOPED_TRACE(c.what);
    RegistryKey key;
    ASSERT_NO_FATAL_FAILURE(OpenWithProbe(key, c.present, c.type, c.stored));
    // Filled, so that a missing terminator shows; guarded, so that a write past capacity shows.
    std::vector<wchar_t> buffer(c.capacity + kGuard, kFill);
    EXPECT_EQ(key.ReadString(kProbe, buffer.data(), c.capacity), c.expected_error);
    if (c.expected_error == 0) EXPECT_EQ(std::wstring(buffer.data()), c.expected_text);
    for (size_t i = c.capacity; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], kFill) << i;
  }
}

TEST_P(RegistryKeyTest, ReadStringRefusesABufferOfNoUnits) {
  ASSERT_TRUE(scratch_.Create());
  ASSERT_TRUE(scratch_.Set(kProbe, REG_SZ, {}));
  RegistryKey key;
  ASSERT_EQ(OpenScratch(key, KEY_QUERY_VALUE), 0u);
  wchar_t guard = L'#';
  EXPECT_EQ(key.ReadString(kProbe, &guard, 0), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(guard, L'#');
}

struct DwordCase {
  const char* what;
  DWORD type;
  std::vector<uint8_t> stored;
  bool present;
  uint32_t expected_error;
  uint32_t expected_value;  // checked when expected_error is 0
};

TEST_P(RegistryKeyTest, ReadDwordTakesOnlyFourByteDwords) {
  const DwordCase cases[] = {
      {"dword", REG_DWORD, DwordBytes(0x89ABCDEF), true, 0, 0x89ABCDEF},
      {"zero", REG_DWORD, DwordBytes(0), true, 0, 0},
      {"two-byte dword", REG_DWORD, {1, 0}, true, ERROR_NO_DATA, 0},
      {"empty dword", REG_DWORD, {}, true, ERROR_NO_DATA, 0},
      {"string of four bytes", REG_SZ, TextBytes(L"1", true), true, ERROR_NOT_SUPPORTED, 0},
      {"longer string: the query's own error", REG_SZ, TextBytes(L"12345", true), true,
       ERROR_MORE_DATA, 0},
      {"binary of four bytes", REG_BINARY, DwordBytes(1), true, ERROR_NOT_SUPPORTED, 0},
      {"big-endian dword", REG_DWORD_BIG_ENDIAN, DwordBytes(1), true, ERROR_NOT_SUPPORTED, 0},
      {"qword", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, true, ERROR_MORE_DATA, 0},
      {"missing", REG_DWORD, {}, false, ERROR_FILE_NOT_FOUND, 0},
  };
  for (const DwordCase& c : cases) {
    SCOPED_TRACE(c.what);
    RegistryKey key;
    ASSERT_NO_FATAL_FAILURE(OpenWithProbe(key, c.present, c.type, c.stored));
    uint32_t value = 0x5A5A5A5A;
    EXPECT_EQ(key.ReadDword(kProbe, value), c.expected_error);
    if (c.expected_error == 0) EXPECT_EQ(value, c.expected_value);
  }
}

TEST_P(RegistryKeyTest, WritesStoreTerminatedStringsAndLittleEndianDwords) {
  ASSERT_TRUE(scratch_.Create());
  ASSERT_TRUE(scratch_.Set(kProbe, REG_DWORD, DwordBytes(5)));
  RegistryKey key;
  ASSERT_EQ(OpenScratch(key, KEY_QUERY_VALUE | KEY_SET_VALUE), 0u);

  const struct {
    const wchar_t* text;
    std::vector<uint8_t> bytes;
  } strings[] = {
      {L"", {0, 0}},
      {L"x", {'x', 0, 0, 0}},
      {L"beta-full", TextBytes(L"beta-full", true)},
  };
  for (const auto& s : strings) {
    EXPECT_EQ(key.WriteString(kProbe, s.text), 0u);
    const scratch::Value stored = scratch_.Get(kProbe);
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored.bytes, s.bytes);
  }

  for (uint32_t number : {0u, 1u, 0x12345678u, 0xFFFFFFFFu}) {
    EXPECT_EQ(key.WriteDword(kProbe, number), 0u);
    const scratch::Value stored = scratch_.Get(kProbe);
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(stored.bytes, DwordBytes(number));
  }
}

TEST_P(RegistryKeyTest, CloseReleasesOnceAndKeepsTheLastError) {
  ASSERT_TRUE(scratch_.Create());
  RegistryKey key;
  key.Close();  // nothing held yet
  ASSERT_EQ(OpenScratch(key, KEY_QUERY_VALUE), 0u);
  ASSERT_NE(key.handle(), nullptr);

  SetLastError(ERROR_SHARING_VIOLATION);
  key.Close();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(key.handle(), nullptr);
  key.Close();
  EXPECT_EQ(key.handle(), nullptr);
  uint32_t value = 0;
  EXPECT_EQ(key.ReadDword(kProbe, value), static_cast<uint32_t>(ERROR_INVALID_HANDLE));
}

}  // namespace
