#include "launch/setup_command_line.h"

#include <gtest/gtest.h>

#include <string>

#include "launch/sample_setup_record.h"

namespace {

using launch_test::SetPath;
using launch_test::SetupRecord;
using launch_test::SetupRun;

std::wstring Tail(const wchar_t* command_line) {
  CommandBuffer command;
  EXPECT_TRUE(CopyBounded(command.text, command.capacity, L"\"C:\\s.exe\""));
  AppendInvocationTail(command, command_line);
  return std::wstring(command.text).substr(10);
}

TEST(AppendInvocationTail, PassesOnWhatFollowsTheProgramName) {
  struct Case {
    const wchar_t* own_command_line;
    const wchar_t* tail;
  };
  const Case cases[] = {
      // The name alone, quoted or not, or an empty command line: no tail.
      {L"C:\\dir\\installer.exe", L""},
      {L"\"C:\\dir with blank\\installer.exe\"", L""},
      {L"\"\"", L""},
      {L"", L""},
      // A leading quote that is never closed swallows everything.
      {L"\"C:\\dir\\installer.exe --system-level --x", L""},
      {L"\"", L""},
      // An argument glued to the closing quote gets one separating space.
      {L"\"C:\\installer.exe\"--system-level", L" --system-level"},
      {L"\"C:\\installer.exe\"\"quoted arg\" b", L" \"quoted arg\" b"},
      {L"\"\"x", L" x"},
      // Blanks after the name are kept as they are: several, a tab, a lone trailing one.
      {L"C:\\installer.exe   --a  \"b c\"\t--d", L"   --a  \"b c\"\t--d"},
      {L"C:\\installer.exe\t--a", L"\t--a"},
      {L"\"C:\\installer.exe\" \t --a", L" \t --a"},
      {L"C:\\installer.exe ", L" "},
      // An unquoted name ends at the first blank, even inside a quoted stretch.
      {L"C:\\my\"dir with\"\\installer.exe --a", L" with\"\\installer.exe --a"},
      {L"C:\\my\"dir\"\\installer.exe --a", L" --a"},
      // Control characters other than tab do not end a name.
      {L"C:\\a\x01" L"b\nc\rd\x0b" L"e.exe --a", L" --a"},
      {L"C:\\installer.exe\n--a", L""},
      // The installer's own switches go on like any other argument.
      {L"installer.exe --system-level --lumora-dev --cleanup", L" --system-level --lumora-dev --cleanup"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '[' << c.own_command_line << ']');
    EXPECT_EQ(Tail(c.own_command_line), c.tail);
  }
}

TEST(AppendInvocationTail, NullCommandLineAddsNothing) { EXPECT_EQ(Tail(nullptr), L""); }

// Fills a command buffer with `used` units, so that room for the tail is 1039 - used.
void FillTo(CommandBuffer& command, uint32_t used) {
  const std::wstring fill(used, L'f');
  ASSERT_TRUE(CopyBounded(command.text, command.capacity, fill.c_str()));
}

TEST(AppendInvocationTail, ATailThatDoesNotFitIsLeftOutWhole) {
  struct Case {
    uint32_t used;
    const wchar_t* own_command_line;
    const wchar_t* appended;
  };
  const Case cases[] = {
      {1035, L"i.exe --a", L" --a"},       // exactly fills 1039 units
      {1036, L"i.exe --a", L""},           // one unit short: nothing at all
      {1039, L"i.exe --a", L""},           // full buffer
      {1035, L"\"i.exe\"--a", L" --a"},    // space and argument fit exactly
      {1036, L"\"i.exe\"--a", L" "},       // only the inserted space fits
      {1038, L"\"i.exe\"--a", L" "},       // the space takes the last unit
      {1039, L"\"i.exe\"--a", L""},        // not even the space
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.used << " [" << c.own_command_line << ']');
    CommandBuffer command;
    FillTo(command, c.used);
    AppendInvocationTail(command, c.own_command_line);
    const std::wstring text = command.text;
    ASSERT_GE(text.size(), c.used);
    EXPECT_EQ(text.substr(0, c.used), std::wstring(c.used, L'f'));
    EXPECT_EQ(text.substr(c.used), c.appended);
  }
}

// The install invocation runs the real sample setup program, which writes down the command line
// it received.
class InstallWithSetupTest : public testing::Test {
 protected:
  void SetUp() override {
    SetPath(setup_, sample_);
    SetPath(archive_, archive_text_);
  }
  ScratchDirectory scratch_;
  SetupRecord record_{scratch_};
  const std::wstring sample_ = launch_test::SampleSetupPath();
  const std::wstring archive_text_ = scratch_.Path() + L"LUMORA.PACKED.7Z";
  PathBuffer setup_;
  PathBuffer archive_;
};

TEST_F(InstallWithSetupTest, TheChildReceivesExactlyThisCommandLine) {
  const std::wstring program = L"\"" + sample_ + L"\"";
  const std::wstring compressed = program + L" --install-archive=\"" + archive_text_ + L"\"";
  const std::wstring uncompressed = program + L" --uncompressed-archive=\"" + archive_text_ + L"\"";
  struct Case {
    const wchar_t* previous_version;
    bool compressed_archive;
    const wchar_t* own_command_line;
    std::wstring expected;
    uint32_t exit_code;
  };
  const Case cases[] = {
      {nullptr, true, L"installer.exe", compressed, 0},
      {nullptr, false, L"installer.exe", uncompressed, 0},
      {L"12.0.3.4", true, L"installer.exe", compressed + L" --previous-version=\"12.0.3.4\"", 0},
      {L"12.0.3.4", false, L"installer.exe",
       uncompressed + L" --previous-version=\"12.0.3.4\"", 0},
      {L"", true, L"installer.exe", compressed + L" --previous-version=\"\"", 0},
      // Nothing is escaped: a version with blanks and quotes goes in as it stands.
      {L"1 \"2\"", true, L"installer.exe", compressed + L" --previous-version=\"1 \"2\"\"", 0},
      {nullptr, true, L"\"C:\\dir x\\installer.exe\" --system-level --lumora-dev --test-exit-code=5",
       compressed + L" --system-level --lumora-dev --test-exit-code=5", 5},
      {L"9", false, L"\"installer.exe\"--test-exit-code=0x8000007A",
       uncompressed + L" --previous-version=\"9\" --test-exit-code=0x8000007A", 0x8000007Au},
      {nullptr, true, L"installer.exe  \t--test-exit-code=122",
       compressed + L"  \t--test-exit-code=122", 122},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '[' << c.expected << ']');
    record_.Clear();
    const ExitResult result =
        InstallWithSetup(c.previous_version, c.own_command_line, archive_, setup_,
                         c.compressed_archive);
    EXPECT_EQ(result.code, c.exit_code);
    EXPECT_EQ(result.extra, 0u);
    const std::vector<SetupRun> runs = record_.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].command, L"command=" + c.expected);
    launch_test::ExpectHiddenInheritingRun(runs[0]);
  }
}

// The fixed part is 1 + setup + 1 + 3 + 15 + 2 + archive + 1 + 3 + 16 + 2 + version + 1 units; the
// version (unbounded, from the installer's resource) is what can make it too long.
std::wstring VersionMakingFixedPart(uint32_t length, const std::wstring& setup,
                                    const std::wstring& archive) {
  const size_t others = 1 + setup.size() + 1 + 3 + 15 + 2 + archive.size() + 1 + 3 + 16 + 2 + 1;
  return std::wstring(length - others, L'7');
}

TEST_F(InstallWithSetupTest, TheFixedPartMayFillTheBufferExactly) {
  struct Case {
    uint32_t fixed_length;
    const wchar_t* own_command_line;
    const wchar_t* expected_tail;  // null: nothing may be started
    uint32_t exit_code;            // 3 when the tail arrived
  };
  const Case cases[] = {
      {1039, L"installer.exe", L"", 0},
      {1039, L"installer.exe --test-exit-code=3", L"", 0},  // tail dropped, launch goes on
      {1038, L"\"installer.exe\"--test-exit-code=3", L" ", 0},
      {1021, L"installer.exe --test-exit-code=3", L"", 0},
      {1020, L"installer.exe --test-exit-code=3", L" --test-exit-code=3", 3},
      {1040, L"installer.exe", nullptr, 0},
      {1041, L"installer.exe", nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fixed_length << " [" << c.own_command_line << ']');
    record_.Clear();
    const std::wstring version = VersionMakingFixedPart(c.fixed_length, sample_, archive_text_);
    const ExitResult result =
        InstallWithSetup(version.c_str(), c.own_command_line, archive_, setup_, true);
    const std::vector<SetupRun> runs = record_.Runs();
    if (c.expected_tail == nullptr) {
      EXPECT_EQ(result.code, EXIT_COMMAND_LINE_TOO_LONG);
      EXPECT_EQ(result.extra, 0u);
      EXPECT_TRUE(runs.empty()) << "nothing started";
      continue;
    }
    const std::wstring fixed = L"\"" + sample_ + L"\" --install-archive=\"" + archive_text_ +
                               L"\" --previous-version=\"" + version + L"\"";
    ASSERT_EQ(fixed.size(), c.fixed_length);
    const std::wstring tail = c.expected_tail;
    EXPECT_EQ(result.code, c.exit_code);
    EXPECT_EQ(result.extra, 0u);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].command, L"command=" + fixed + tail);
  }
}

TEST_F(InstallWithSetupTest, ASetupProgramThatCannotStartGivesTheInstallCodes) {
  const std::wstring not_a_program = scratch_.Path() + L"setup.exe";
  ASSERT_TRUE(ScratchDirectory::WriteFile(not_a_program, "MZ but nothing more"));
  struct Case {
    const char* what;
    std::wstring setup;
    ExitResult expected;
  };
  const Case cases[] = {
      {"missing file", scratch_.Path() + L"missing.exe",
       {EXIT_SETUP_NOT_FOUND, INVALID_FILE_ATTRIBUTES}},
      {"missing directory", scratch_.Path() + L"gone\\setup.exe",
       {EXIT_SETUP_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES}},
      {"not an executable", not_a_program, {EXIT_SETUP_LAUNCH_FAILED, ERROR_BAD_EXE_FORMAT}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PathBuffer setup;
    SetPath(setup, c.setup);
    const ExitResult result = InstallWithSetup(nullptr, L"installer.exe", archive_, setup, true);
    EXPECT_EQ(result.code, c.expected.code);
    EXPECT_EQ(result.extra, c.expected.extra);
  }
  EXPECT_TRUE(record_.Runs().empty());
}

}  // namespace

namespace {

// A version that the setup command line cannot carry between its double quotes ends the run
// with 105 before any program starts; what it can carry, however odd, goes on.
TEST(CheckPreviousVersion, RefusesWhatTheCommandLineCannotCarryIntact) {
  struct Case {
    const wchar_t* version;
    uint32_t code;
  };
  const Case cases[] = {
      {nullptr, EXIT_OK},
      {L"", EXIT_OK},
      {L"1.2.3.4", EXIT_OK},
      {L"C:\\versions\\1.2", EXIT_OK},
      {L"\\1.2", EXIT_OK},
      {L"1.2 beta", EXIT_OK},
      {L"2.0 \x03B2", EXIT_OK},
      // A quote ends the argument: the rest becomes switches of the attacker's choosing.
      {L"1.0.0.0\" --system-level --uncompressed-archive=\"C:\\evil.7z", EXIT_COMMAND_LINE_TOO_LONG},
      {L"\"", EXIT_COMMAND_LINE_TOO_LONG},
      // A final backslash escapes the closing quote.
      {L"1.2\\", EXIT_COMMAND_LINE_TOO_LONG},
      {L"\\", EXIT_COMMAND_LINE_TOO_LONG},
      // Control characters of C0, DEL and C1.
      {L"1.2\t", EXIT_COMMAND_LINE_TOO_LONG},
      {L"1.2\r\n--x", EXIT_COMMAND_LINE_TOO_LONG},
      {L"\x1B[2J", EXIT_COMMAND_LINE_TOO_LONG},
      {L"1.2\x7F", EXIT_COMMAND_LINE_TOO_LONG},
      {L"1.2\x0085", EXIT_COMMAND_LINE_TOO_LONG},
      {L"1.2\x009F", EXIT_COMMAND_LINE_TOO_LONG},
      {L"1.2\x00A0", EXIT_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '[' << (c.version != nullptr ? c.version : L"(none)") << ']');
    const ExitResult result = CheckPreviousVersion(c.version);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(result.extra, 0u);
  }
}

}  // namespace
