// The installer's exit codes as the starter sees them: the bare stub, run as a child process,
// ends with the code of the table for what it met, whole, as a 32-bit value.
#include "base/exit_result.h"

#include <gtest/gtest.h>

#include <string>

#include "base/client_state_key.h"
#include "support/case_name.h"
#include "support/child_process.h"
#include "support/client_state_scratch.h"
#include "support/scratch_directory.h"

namespace {

struct CodeCase {
  const char* name;
  const wchar_t* arguments;
  uint32_t code;  // the number the updater and the release tooling read
};

// The bare stub carries no payload, so a run that gets as far as unpacking finds no archive.
const CodeCase kCodes[] = {
    {"unsupported switch", L"--cleanup", 118},
    {"unsupported frame switch in capitals", L"--LUMORA-FRAME", 118},
    {"no archive among the resources", L"--keep-going", 112},
};

class ExitCodeOfTheBareStub : public ::testing::TestWithParam<CodeCase> {
 protected:
  // Absent, as on a machine the updater never saw; the runs must not create it.
  scratch::ClientStateKey state_{false, kDefaultAppId};
};

TEST_P(ExitCodeOfTheBareStub, IsTheTablesNumber) {
  ScratchDirectory directory;
  ASSERT_TRUE(directory.Ok());
  const std::wstring installer = directory / L"installer.exe";
  ASSERT_TRUE(CopyFileW(LUMORA_BARE_STUB, installer.c_str(), FALSE));
  EXPECT_EQ(RunChild(installer, GetParam().arguments), GetParam().code);
  EXPECT_EQ(ListTree(directory.Path()), std::vector<std::wstring>{L"installer.exe"})
      << "the work directory is gone";
  EXPECT_FALSE(state_.Exists(scratch::kView32));
}

INSTANTIATE_TEST_SUITE_P(Runs, ExitCodeOfTheBareStub, ::testing::ValuesIn(kCodes), NameOfRow());

}  // namespace
