#include "installer/client_state_report.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "support/client_state_scratch.h"
#include "base/client_state_key.h"

namespace {

using scratch::DwordBytes;
using scratch::kView32;
using scratch::kView64;
using scratch::TextBytes;

// Not a real channel: other tests may use those at the same time.
constexpr wchar_t kScratchAppId[] = L"{0B5E7A11-6C1D-4E0A-9F3B-2E6D5C4B3A02}";

class ClientStateReportTest : public ::testing::TestWithParam<bool> {
 protected:
  ClientStateReportTest() {
    settings_.system_level = GetParam();
    settings_.app_id = kScratchAppId;
  }
  void Fresh() {
    scratch_.Remove();
    ASSERT_TRUE(scratch_.Create(kView32));
  }
  void TearDown() override {
    // The updater's 32-bit view is the only place the installer may write.
    if (GetParam()) EXPECT_FALSE(scratch_.Exists(kView64));
  }
  scratch::Value Get(const wchar_t* name) const { return scratch_.Get(name); }

  InstallerSettings settings_;
  scratch::ClientStateKey scratch_{GetParam(), kScratchAppId};
};

INSTANTIATE_TEST_SUITE_P(BothHives, ClientStateReportTest, ::testing::Bool(),
                         [](const auto& info) { return scratch::HiveName(info.param); });

struct ApCase {
  const char* what;
  bool present;
  DWORD type;
  std::vector<uint8_t> stored;
  std::vector<uint8_t> expected;  // REG_SZ bytes; the stored bytes and type when unchanged
  bool unchanged;
};

std::vector<uint8_t> Text(const std::wstring& text) { return TextBytes(text, true); }
std::wstring Units(size_t count) { return std::wstring(count, L'a'); }

TEST_P(ClientStateReportTest, TagFullInstallAppendsTheSuffixOnce) {
  const ApCase cases[] = {
      {"missing", false, REG_SZ, {}, Text(L"-full"), false},
      {"empty", true, REG_SZ, Text(L""), Text(L"-full"), false},
      {"zero bytes", true, REG_SZ, {}, Text(L"-full"), false},
      {"a tag", true, REG_SZ, Text(L"x64-stable"), Text(L"x64-stable-full"), false},
      {"suffix without its hyphen", true, REG_SZ, Text(L"full"), Text(L"full-full"), false},
      {"suffix in the middle", true, REG_SZ, Text(L"-full-x"), Text(L"-full-x-full"), false},
      {"stored without terminator", true, REG_SZ, TextBytes(L"beta", false), Text(L"beta-full"),
       false},
      {"122 units grow to 127", true, REG_SZ, Text(Units(122)), Text(Units(122) + L"-full"), false},
      {"already tagged", true, REG_SZ, Text(L"x-full"), {}, true},
      {"just the suffix", true, REG_SZ, Text(L"-full"), {}, true},
      {"tagged in capitals", true, REG_SZ, Text(L"x-FULL"), {}, true},
      {"tagged in mixed case", true, REG_SZ, Text(L"x-Full"), {}, true},
      {"123 units: no room", true, REG_SZ, Text(Units(123)), {}, true},
      {"127 units: no room", true, REG_SZ, Text(Units(127)), {}, true},
      {"128 units: unreadable", true, REG_SZ, Text(Units(128)), {}, true},
      {"128 units unterminated: unreadable", true, REG_SZ, TextBytes(Units(128), false), {}, true},
      {"a dword", true, REG_DWORD, DwordBytes(7), {}, true},
      {"an expandable string", true, REG_EXPAND_SZ, Text(L"%x%"), {}, true},
      {"a multi-string", true, REG_MULTI_SZ, Text(std::wstring(L"a\0", 2)), {}, true},
  };
  for (const ApCase& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    if (c.present) ASSERT_TRUE(scratch_.Set(kApValue, c.type, c.stored));

    TagFullInstall(settings_);

    const scratch::Value ap = Get(kApValue);
    ASSERT_TRUE(ap.present);
    EXPECT_EQ(ap.type, c.unchanged ? c.type : static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(ap.bytes, c.unchanged ? c.stored : c.expected);
    EXPECT_EQ(scratch_.ValueCount(), 1);
  }
}

// Nothing that a failure record holds is read as "ap" or touched by the tag.
TEST_P(ClientStateReportTest, TagFullInstallLeavesOtherValuesAlone) {
  Fresh();
  ASSERT_TRUE(scratch_.SetDword(kInstallerResultValue, 1));
  ASSERT_TRUE(scratch_.SetDword(kInstallerErrorValue, EXIT_SETUP_WRITE_FAILED));
  ASSERT_TRUE(scratch_.SetText(kUninstallStringValue, L"\"C:\\x\\setup.exe\""));
  TagFullInstall(settings_);
  EXPECT_EQ(Get(kApValue).bytes, Text(L"-full"));
  EXPECT_EQ(Get(kInstallerResultValue).bytes, DwordBytes(1));
  EXPECT_EQ(Get(kInstallerErrorValue).bytes, DwordBytes(EXIT_SETUP_WRITE_FAILED));
  EXPECT_EQ(Get(kUninstallStringValue).bytes, Text(L"\"C:\\x\\setup.exe\""));
  EXPECT_EQ(scratch_.ValueCount(), 4);
}

struct PriorResult {
  const char* what;
  bool present;
  DWORD type;
  std::vector<uint8_t> stored;
  bool kept;  // a failure is already recorded: nothing is written
};

TEST_P(ClientStateReportTest, StoreInstallerResultRecordsOnlyTheFirstFailure) {
  const PriorResult cases[] = {
      {"missing", false, REG_DWORD, {}, false},
      {"zero", true, REG_DWORD, DwordBytes(0), false},
      {"a string", true, REG_SZ, Text(L"1"), false},
      {"a longer string", true, REG_SZ, Text(L"failed"), false},
      {"a two-byte dword", true, REG_DWORD, {2, 0}, false},
      {"binary", true, REG_BINARY, DwordBytes(2), false},
      {"already 2", true, REG_DWORD, DwordBytes(2), true},
      {"already 1", true, REG_DWORD, DwordBytes(1), true},
      {"already all bits", true, REG_DWORD, DwordBytes(0xFFFFFFFF), true},
  };
  const ExitResult failure{EXIT_SETUP_LAUNCH_FAILED, 0x80070005};
  for (const PriorResult& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    if (c.present) ASSERT_TRUE(scratch_.Set(kInstallerResultValue, c.type, c.stored));
    if (c.kept) {
      ASSERT_TRUE(scratch_.SetDword(kInstallerErrorValue, 77));
      ASSERT_TRUE(scratch_.SetDword(kInstallerExtraCode1Value, 88));
    }

    StoreInstallerResult(settings_, failure);

    const scratch::Value result = Get(kInstallerResultValue);
    const scratch::Value error = Get(kInstallerErrorValue);
    const scratch::Value extra = Get(kInstallerExtraCode1Value);
    if (c.kept) {
      EXPECT_EQ(result.type, c.type);
      EXPECT_EQ(result.bytes, c.stored);
      EXPECT_EQ(error.bytes, DwordBytes(77));
      EXPECT_EQ(extra.bytes, DwordBytes(88));
    } else {
      EXPECT_EQ(result.type, static_cast<DWORD>(REG_DWORD));
      EXPECT_EQ(result.bytes, DwordBytes(1));
      EXPECT_EQ(error.type, static_cast<DWORD>(REG_DWORD));
      EXPECT_EQ(error.bytes, DwordBytes(failure.code));
      EXPECT_EQ(extra.type, static_cast<DWORD>(REG_DWORD));
      EXPECT_EQ(extra.bytes, DwordBytes(failure.extra));
    }
    EXPECT_EQ(scratch_.ValueCount(), 3);
  }
}

TEST_P(ClientStateReportTest, StoreInstallerResultOfSuccessTouchesNothing) {
  for (uint32_t extra : {0u, 5u}) {
    SCOPED_TRACE(extra);
    Fresh();
    ASSERT_TRUE(scratch_.SetDword(kInstallerResultValue, 0));
    StoreInstallerResult(settings_, ExitResult{EXIT_OK, extra});
    EXPECT_EQ(Get(kInstallerResultValue).bytes, DwordBytes(0));
    EXPECT_EQ(scratch_.ValueCount(), 1);
  }
}

TEST_P(ClientStateReportTest, SecondFailureOfARunKeepsTheFirst) {
  Fresh();
  StoreInstallerResult(settings_, ExitResult{EXIT_SETUP_WRITE_FAILED, ERROR_DISK_FULL});
  StoreInstallerResult(settings_, ExitResult{EXIT_SETUP_LAUNCH_FAILED, ERROR_ACCESS_DENIED});
  EXPECT_EQ(Get(kInstallerResultValue).bytes, DwordBytes(1));
  EXPECT_EQ(Get(kInstallerErrorValue).bytes, DwordBytes(EXIT_SETUP_WRITE_FAILED));
  EXPECT_EQ(Get(kInstallerExtraCode1Value).bytes, DwordBytes(ERROR_DISK_FULL));
}

TEST_P(ClientStateReportTest, StoreRetryCountWritesTheMarkerAndTheRetries) {
  const struct {
    int32_t max_attempts;
    uint32_t word;
  } cases[] = {
      {std::numeric_limits<int32_t>::min(), 0x30000},
      {-1, 0x30000},
      {0, 0x30000},
      {1, 0x30000},
      {2, 0x30001},
      {3, 0x30002},
      {100, 0x30063},
      // Only the low 16 bits of the count fit beside the marker.
      {0x10001, 0x30000},
      {0x10003, 0x30002},
      {std::numeric_limits<int32_t>::max(), 0x3FFFE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.max_attempts);
    Fresh();
    StoreRetryCount(settings_, c.max_attempts);
    const scratch::Value extra = Get(kInstallerExtraCode1Value);
    EXPECT_EQ(extra.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(extra.bytes, DwordBytes(c.word));
    EXPECT_EQ(scratch_.ValueCount(), 1);
  }
}

TEST_P(ClientStateReportTest, SuccessAfterARecordedFailureKeepsTheFailure) {
  Fresh();
  StoreInstallerResult(settings_, ExitResult{EXIT_WORK_DIR_FAILED, ERROR_ALREADY_EXISTS});
  StoreRetryCount(settings_, 3);
  EXPECT_EQ(Get(kInstallerResultValue).bytes, DwordBytes(1));
  EXPECT_EQ(Get(kInstallerErrorValue).bytes, DwordBytes(EXIT_WORK_DIR_FAILED));
  EXPECT_EQ(Get(kInstallerExtraCode1Value).bytes, DwordBytes(0x30002));
  EXPECT_EQ(scratch_.ValueCount(), 3);
}

// The updater creates the key; the installer must not, in either view, whatever it reports.
TEST_P(ClientStateReportTest, MissingKeyGetsNothing) {
  scratch_.Remove();
  TagFullInstall(settings_);
  StoreInstallerResult(settings_, ExitResult{EXIT_SETUP_LAUNCH_FAILED, 2});
  StoreRetryCount(settings_, 3);
  EXPECT_FALSE(scratch_.Exists(kView32));
  EXPECT_FALSE(scratch_.Exists(kView64));
}

TEST_P(ClientStateReportTest, KeyOnlyInTheSixtyFourBitViewGetsNothing) {
  if (!GetParam()) GTEST_SKIP() << "HKEY_CURRENT_USER\\Software is the same in both views";
  scratch_.Remove();
  ASSERT_TRUE(scratch_.Create(kView64));
  TagFullInstall(settings_);
  StoreInstallerResult(settings_, ExitResult{EXIT_SETUP_LAUNCH_FAILED, 2});
  StoreRetryCount(settings_, 3);
  EXPECT_EQ(scratch_.ValueCount(kView64), 0);
  EXPECT_FALSE(scratch_.Exists(kView32));
  scratch_.Remove();  // so that TearDown's check is about the code under test only
}

}  // namespace
