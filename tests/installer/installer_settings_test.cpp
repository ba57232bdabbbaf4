#include "installer/installer_settings.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

#include "installer/settings_calls.h"
#include "installer/split_seam.h"
#include "lumora/payload_resources.h"
#include "support/heap_blocks.h"
#include "support/resource_image.h"

namespace {

constexpr const wchar_t* kVelmarKey = L"Software\\Velmar";
constexpr const wchar_t* kCleanupValue = L"LumoraInstallerCleanup";
constexpr const wchar_t* kMachineVariable = L"VelmarUpdateIsMachine";

std::wstring FixturePath(const wchar_t* name) {
  return std::wstring(LUMORA_FIXTURE_DIR) + L"\\" + name;
}

// A resource-only fixture image, loaded where the installer's own image would be.
struct FixtureImage : ResourceImage {
  explicit FixtureImage(const wchar_t* name) : ResourceImage(FixturePath(name)) {}
};

struct CleanupValue {
  CleanupValue() { Remove(); }
  ~CleanupValue() { Remove(); }
  static void Remove() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kVelmarKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegDeleteValueW(key, kCleanupValue);
      RegCloseKey(key);
    }
  }
  static DWORD StoredBytes() {
    HKEY key;
    DWORD bytes = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kVelmarKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
      RegQueryValueExW(key, kCleanupValue, nullptr, nullptr, nullptr, &bytes);
      RegCloseKey(key);
    }
    return bytes;
  }
  static void Set(DWORD type, const void* data, DWORD bytes) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kVelmarKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, kCleanupValue, 0, type, static_cast<const BYTE*>(data), bytes),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
};

struct MachineVariable {
  explicit MachineVariable(const wchar_t* value) { SetEnvironmentVariableW(kMachineVariable, value); }
  ~MachineVariable() { SetEnvironmentVariableW(kMachineVariable, nullptr); }
};

TEST(ParseSwitches, SwitchTable) {
  struct Case {
    const wchar_t* command_line;
    const wchar_t* app_id;
    bool system_level;
    bool unsupported;
  };
  const Case cases[] = {
      {L"installer.exe", kDefaultAppId, false, false},
      {L"\"C:\\dir with blank\\installer.exe\"", kDefaultAppId, false, false},
      {L"installer.exe --lumora-dev --lumora-beta", kBetaAppId, false, false},
      {L"installer.exe --lumora-beta --lumora-dev", kDevAppId, false, false},
      {L"installer.exe --LUMORA-SXS", kSxsAppId, false, false},
      {L"installer.exe --system-level", kDefaultAppId, true, false},
      {L"installer.exe --System-Level --lumora-sxs", kSxsAppId, true, false},
      {L"installer.exe --system-level=1", kDefaultAppId, false, false},
      {L"installer.exe --lumora-dev=1 -lumora-dev lumora-dev", kDefaultAppId, false, false},
      {L"installer.exe --cleanup", kDefaultAppId, false, true},
      {L"installer.exe --lumora-frame", kDefaultAppId, false, true},
      {L"installer.exe \"--cleanup\"", kDefaultAppId, false, true},
      {L"--cleanup", kDefaultAppId, false, false},              // index 0 is never a switch
      {L"--cleanup --lumora-beta", kBetaAppId, false, false},
      {L"installer.exe --cleanup --lumora-dev", kDevAppId, false, true},
      {L"installer.exe --verbose --do-not-launch-lumora", kDefaultAppId, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.command_line);
    InstallerSettings settings;
    ASSERT_TRUE(ParseSwitches(settings, c.command_line));
    EXPECT_EQ(settings.command_line, c.command_line) << "kept, not copied";
    EXPECT_EQ(settings.app_id, c.app_id);
    EXPECT_EQ(settings.system_level, c.system_level);
    EXPECT_EQ(settings.unsupported_switch, c.unsupported);
    EXPECT_NE(settings.argv.Get(), nullptr);
    EXPECT_GE(settings.argc, 1);
  }
}

TEST(ParseSwitches, MachineVariable) {
  struct Case {
    const wchar_t* value;  // null: absent
    const wchar_t* command_line;
    bool system_level;
  };
  const Case cases[] = {
      {L"1", L"x", true},
      {L"0", L"x", false},
      {L"10", L"x", false},
      {L"11", L"x", false},
      {L"", L"x", false},
      {L" 1", L"x", false},
      {nullptr, L"x", false},
      {L"0", L"x --system-level", true},
      {nullptr, L"x --system-level", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.value ? c.value : L"(absent)") << " / " << c.command_line);
    MachineVariable variable(c.value);
    InstallerSettings settings;
    ASSERT_TRUE(ParseSwitches(settings, c.command_line));
    EXPECT_EQ(settings.system_level, c.system_level);
  }
}

// The real CommandLineToArgvW rarely fails; the seam makes it fail the way it would.
TEST(Load, FailedSplitReturnsFalseWithTheErrorAndIgnoresTheEnvironment) {
  MachineVariable variable(L"1");
  FixtureImage image(L"version_none.dll");
  ASSERT_NE(image.module, nullptr);
  SplitSeam seam(FailingSplit);
  InstallerSettings settings;
  const bool loaded = Load(settings, image.module, true);
  const DWORD error = GetLastError();
  EXPECT_FALSE(loaded);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(settings.argv.Get(), nullptr);
  EXPECT_FALSE(settings.system_level);
  EXPECT_NE(settings.command_line, nullptr);
}

const wchar_t* g_canned_command_line = nullptr;
wchar_t** WINAPI CannedSplit(const wchar_t*, int* count) {
  return CommandLineToArgvW(g_canned_command_line, count);
}

// A second Load releases what the first split and starts from every default again: what the first
// read from the image, the registry and the command line is gone.
TEST(Load, SecondLoadStartsClean) {
  FixtureImage versioned(L"version_8_terminated.dll");
  FixtureImage unversioned(L"version_none.dll");
  ASSERT_NE(versioned.module, nullptr);
  ASSERT_NE(unversioned.module, nullptr);
  SplitSeam seam(CannedSplit);
  InstallerSettings settings;
  {
    CleanupValue value;
    CleanupValue::Set(REG_SZ, L"0", 4);
    g_canned_command_line = L"x --cleanup --lumora-dev --system-level";
    ASSERT_TRUE(Load(settings, versioned.module, true));
  }
  EXPECT_TRUE(settings.unsupported_switch);
  EXPECT_TRUE(settings.system_level);
  EXPECT_EQ(settings.app_id, kDevAppId);
  EXPECT_FALSE(settings.remove_extracted);
  ASSERT_NE(settings.previous_version, nullptr);
  EXPECT_EQ(settings.argc, 4);
  ASSERT_TRUE(IsAllocated(settings.argv.Get()));
  void* const first_argv = settings.argv.Get();

  g_canned_command_line = L"x";
  ASSERT_TRUE(Load(settings, unversioned.module, true));
  // Given back (its block may serve the second split).
  EXPECT_TRUE(!IsAllocated(first_argv) || settings.argv.Get() == first_argv);
  EXPECT_FALSE(settings.unsupported_switch);
  EXPECT_FALSE(settings.system_level);
  EXPECT_EQ(settings.app_id, kDefaultAppId);
  EXPECT_TRUE(settings.remove_extracted);
  EXPECT_EQ(settings.previous_version, nullptr);
  EXPECT_NE(settings.argv.Get(), nullptr);
  EXPECT_EQ(settings.argc, 1);
  EXPECT_EQ(settings.command_line, GetCommandLineW());
}

TEST(Load, CleanupRegistryValue) {
  struct Case {
    const char* what;
    DWORD type;
    std::wstring data;
    DWORD bytes;  // as stored
    bool remove_extracted;
  };
  const Case cases[] = {
      {"REG_SZ 0 with terminator", REG_SZ, std::wstring(L"0", 2), 4, false},
      // The registry stores a terminator by itself when the unit after the data is 0, so an
      // unterminated value needs a non-zero unit after it in memory.
      {"REG_SZ 0 without terminator", REG_SZ, L"0X", 2, false},
      {"REG_SZ 00", REG_SZ, std::wstring(L"00", 3), 6, true},
      {"REG_SZ 1", REG_SZ, std::wstring(L"1", 2), 4, true},
      {"REG_SZ empty", REG_SZ, std::wstring(1, L'\0'), 2, true},
      {"REG_SZ of 0 bytes", REG_SZ, L"", 0, true},
      {"REG_EXPAND_SZ 0", REG_EXPAND_SZ, std::wstring(L"0", 2), 4, true},
  };
  FixtureImage image(L"version_none.dll");
  ASSERT_NE(image.module, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CleanupValue value;
    CleanupValue::Set(c.type, c.data.data(), c.bytes);
    ASSERT_EQ(CleanupValue::StoredBytes(), c.bytes);
    InstallerSettings settings;
    ASSERT_TRUE(Load(settings, image.module, true));
    EXPECT_EQ(settings.remove_extracted, c.remove_extracted);
  }
  {
    SCOPED_TRACE("REG_DWORD 0");
    CleanupValue value;
    const DWORD zero = 0;
    CleanupValue::Set(REG_DWORD, &zero, 4);
    InstallerSettings settings;
    ASSERT_TRUE(Load(settings, image.module, true));
    EXPECT_TRUE(settings.remove_extracted);
  }
  {
    SCOPED_TRACE("absent");
    CleanupValue value;
    InstallerSettings settings;
    settings.remove_extracted = false;
    ASSERT_TRUE(Load(settings, image.module, true));
    EXPECT_TRUE(settings.remove_extracted);
  }
}

TEST(Load, PreviousVersionResource) {
  struct Case {
    const wchar_t* image;
    const wchar_t* version;  // null: none taken
    DWORD size;              // the fixture's resource size, checked so that the case is what it says
  };
  const Case cases[] = {
      {L"version_none.dll", nullptr, 0},
      {L"version_7_bytes.dll", nullptr, 7},
      {L"version_8_unterminated.dll", nullptr, 8},
      {L"version_8_terminated.dll", L"1.2", 8},
      {L"version_empty_text.dll", L"", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.image);
    FixtureImage image(c.image);
    ASSERT_NE(image.module, nullptr);
    HRSRC found = FindResourceW(image.module, MAKEINTRESOURCEW(kPreviousVersionId),
                                MAKEINTRESOURCEW(kPreviousVersionType));
    EXPECT_EQ(found == nullptr ? 0 : SizeofResource(image.module, found), c.size);
    InstallerSettings settings;
    ASSERT_TRUE(Load(settings, image.module, true));
    if (c.version == nullptr) {
      EXPECT_EQ(settings.previous_version, nullptr);
    } else {
      ASSERT_NE(settings.previous_version, nullptr);
      EXPECT_STREQ(settings.previous_version, c.version);
      // Used in place: it points into the image, not at a copy.
      EXPECT_EQ(settings.previous_version,
                LockResource(LoadResource(image.module, found)));
    }
  }
}

TEST(ReadRegistryString, TerminatesAndRefuses) {
  CleanupValue value;
  // Stored without terminator, filling the buffer exactly: nowhere to put one.
  CleanupValue::Set(REG_SZ, L"abX", 4);  // the X keeps the registry from adding a terminator
  ASSERT_EQ(CleanupValue::StoredBytes(), 4u) << "stored without terminator";
  wchar_t buffer[3] = {L'#', L'#', L'#'};
  EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, kVelmarKey, kCleanupValue, buffer, 2));
  EXPECT_TRUE(ReadRegistryString(HKEY_CURRENT_USER, kVelmarKey, kCleanupValue, buffer, 3));
  EXPECT_STREQ(buffer, L"ab");
  // Longer than the buffer: the query itself refuses.
  CleanupValue::Set(REG_SZ, L"abcdef", 14);
  EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, kVelmarKey, kCleanupValue, buffer, 3));
  EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, L"Software\\NoSuchKeyAnywhere", kCleanupValue,
                                  buffer, 3));
}

}  // namespace
