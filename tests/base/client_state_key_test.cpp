// Where the updater's key is and how it is opened: the hive, the 32-bit view whatever the caller
// asks, never a new key, and no path longer than a path buffer.
#include "base/client_state_key.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/client_state_scratch.h"
#include "base/registry_key.h"

namespace {

using scratch::DwordBytes;
using scratch::kProbe;
using scratch::kScratchAppId;
using scratch::kView32;
using scratch::kView64;

// Where a 32-bit program's HKEY_LOCAL_MACHINE\Software lands in a 64-bit system, seen unredirected.
const std::wstring kWow64MachinePrefix = L"Software\\Wow6432Node\\Velmar\\Update\\ClientState\\";

class ClientStateKeyTest : public ::testing::TestWithParam<bool> {
 protected:
  bool system_level() const { return GetParam(); }
  scratch::ClientStateKey scratch_{GetParam(), kScratchAppId};
};

INSTANTIATE_TEST_SUITE_P(BothHives, ClientStateKeyTest, ::testing::Bool(),
                         [](const auto& info) { return scratch::HiveName(info.param); });

TEST_P(ClientStateKeyTest, OpensTheUpdatersKeyForReadingAndWriting) {
  ASSERT_TRUE(scratch_.Create(kView32));
  ASSERT_TRUE(scratch_.SetDword(kProbe, 0x1234));

  RegistryKey key;
  ASSERT_EQ(OpenClientState(key, system_level(), kScratchAppId, KEY_QUERY_VALUE), 0u);
  ASSERT_NE(key.handle(), nullptr);
  uint32_t value = 0;
  EXPECT_EQ(key.ReadDword(kProbe, value), 0u);
  EXPECT_EQ(value, 0x1234u);
  // Read-only access is what was asked for, and the registry holds us to it.
  EXPECT_EQ(key.WriteDword(kProbe, 7), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(scratch_.Get(kProbe).bytes, DwordBytes(0x1234));

  ASSERT_EQ(OpenClientState(key, system_level(), kScratchAppId, KEY_QUERY_VALUE | KEY_SET_VALUE), 0u);
  EXPECT_EQ(key.WriteDword(kProbe, 7), 0u);
  EXPECT_EQ(scratch_.Get(kProbe).bytes, DwordBytes(7));
}

// The updater is a 32-bit program. Under HKEY_LOCAL_MACHINE a 64-bit process sees another key at
// the same path unless it asks for the 32-bit view; HKEY_CURRENT_USER\Software is shared.
TEST_P(ClientStateKeyTest, WritesLandInTheThirtyTwoBitView) {
  ASSERT_TRUE(scratch_.Create(kView32));
  RegistryKey key;
  ASSERT_EQ(OpenClientState(key, system_level(), kScratchAppId, KEY_QUERY_VALUE | KEY_SET_VALUE), 0u);
  ASSERT_EQ(key.WriteDword(kProbe, 0xC0FFEE), 0u);
  key.Close();

  EXPECT_EQ(scratch_.Get(kProbe, kView32).bytes, DwordBytes(0xC0FFEE));
  if (system_level()) {
    EXPECT_FALSE(scratch_.Exists(kView64));
    EXPECT_FALSE(scratch_.Get(kProbe, kView64).present);
    EXPECT_EQ(scratch_.GetAt(kWow64MachinePrefix + kScratchAppId, kProbe, kView64).bytes,
              DwordBytes(0xC0FFEE));
  }
}

TEST_P(ClientStateKeyTest, EveryOpenAsksForTheThirtyTwoBitView) {
  if (!system_level()) GTEST_SKIP() << "HKEY_CURRENT_USER\\Software is the same in both views";
  // Only the 64-bit view has the key: every kind of open must miss it and leave nothing behind.
  ASSERT_TRUE(scratch_.Create(kView64));
  ASSERT_TRUE(scratch_.Set(kProbe, REG_DWORD, DwordBytes(1), kView64));
  ASSERT_FALSE(scratch_.Exists(kView32));
  const uint32_t accesses[] = {KEY_QUERY_VALUE, KEY_QUERY_VALUE | KEY_SET_VALUE,
                               KEY_QUERY_VALUE | KEY_WOW64_64KEY};
  for (uint32_t access : accesses) {
    SCOPED_TRACE(access);
    RegistryKey key;
    EXPECT_EQ(OpenClientState(key, true, kScratchAppId, access),
              static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(key.handle(), nullptr);
  }
  EXPECT_FALSE(scratch_.Exists(kView32));

  // Once the 32-bit view has it, a caller's 64-bit flag still does not take the open elsewhere.
  ASSERT_TRUE(scratch_.Create(kView32));
  ASSERT_TRUE(scratch_.SetDword(kProbe, 32));
  RegistryKey key;
  ASSERT_EQ(OpenClientState(key, true, kScratchAppId, KEY_QUERY_VALUE | KEY_WOW64_64KEY), 0u);
  uint32_t value = 0;
  EXPECT_EQ(key.ReadDword(kProbe, value), 0u);
  EXPECT_EQ(value, 32u);
}

TEST_P(ClientStateKeyTest, MissingKeyIsNotCreated) {
  for (uint32_t access : {KEY_QUERY_VALUE, KEY_QUERY_VALUE | KEY_SET_VALUE}) {
    RegistryKey key;
    EXPECT_EQ(OpenClientState(key, system_level(), kScratchAppId, access),
              static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(key.handle(), nullptr);
  }
  EXPECT_FALSE(scratch_.Exists(kView32));
  EXPECT_FALSE(scratch_.Exists(kView64));
}

// "Software\Velmar\Update\ClientState\" is 35 units, so a 224-unit id makes the longest path a
// PathBuffer holds. Both keys exist: only the length decides, and the longer one never reaches the
// registry, so a key opened before stays open.
TEST_P(ClientStateKeyTest, PathLongerThanAPathBufferIsRefusedBeforeTheRegistry) {
  const std::wstring fits_id(224, L'f');
  const std::wstring too_long_id(225, L'g');
  scratch::ClientStateKey fits(system_level(), fits_id);
  scratch::ClientStateKey too_long(system_level(), too_long_id);
  ASSERT_TRUE(fits.Create());
  ASSERT_TRUE(too_long.Create());
  ASSERT_TRUE(fits.SetDword(kProbe, 224));

  RegistryKey key;
  ASSERT_EQ(OpenClientState(key, system_level(), fits.app_id(), KEY_QUERY_VALUE), 0u);
  const HKEY held = key.handle();
  EXPECT_EQ(OpenClientState(key, system_level(), too_long.app_id(), KEY_QUERY_VALUE),
            static_cast<uint32_t>(ERROR_BUFFER_OVERFLOW));
  EXPECT_EQ(key.handle(), held);
  uint32_t value = 0;
  EXPECT_EQ(key.ReadDword(kProbe, value), 0u);
  EXPECT_EQ(value, 224u);

  RegistryKey fresh;
  EXPECT_EQ(OpenClientState(fresh, system_level(), too_long.app_id(), KEY_QUERY_VALUE),
            static_cast<uint32_t>(ERROR_BUFFER_OVERFLOW));
  EXPECT_EQ(fresh.handle(), nullptr);
}

}  // namespace
