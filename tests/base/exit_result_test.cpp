#include "base/exit_result.h"

#include <gtest/gtest.h>

namespace {

// The updater and release tooling read these numbers; they must never move.
TEST(ExitResult, CodesHaveTheirTableNumbers) {
  struct Row {
    uint32_t code;
    uint32_t number;
  };
  const Row rows[] = {
      {EXIT_OK, 0},
      {EXIT_SETTINGS_FAILED, 101},
      {EXIT_COMMAND_LINE_TOO_LONG, 105},
      {EXIT_WAIT_FAILED, 107},
      {EXIT_PATH_TOO_LONG, 108},
      {EXIT_WORK_DIR_FAILED, 109},
      {EXIT_SETUP_KEY_UNREADABLE, 110},
      {EXIT_SETUP_VERSION_MISMATCH, 111},
      {EXIT_ARCHIVE_UNPACK_FAILED, 112},
      {EXIT_SETUP_UNPACK_FAILED, 115},
      {EXIT_SETUP_WRITE_FAILED, 116},
      {EXIT_WORK_DIR_SECURITY_FAILED, 117},
      {EXIT_UNSUPPORTED_SWITCH, 118},
      {EXIT_PATCH_SETUP_NOT_FOUND, 119},
      {EXIT_PATCH_SETUP_PATH_NOT_FOUND, 120},
      {EXIT_PATCH_SETUP_LAUNCH_FAILED, 121},
      {EXIT_SETUP_NOT_FOUND, 122},
      {EXIT_SETUP_PATH_NOT_FOUND, 123},
      {EXIT_SETUP_LAUNCH_FAILED, 124},
      {EXIT_OWN_DIRECTORY_UNKNOWN, 125},
  };
  for (const Row& row : rows) EXPECT_EQ(row.code, row.number);
}

TEST(ExitResult, FreshResultIsSuccess) {
  const ExitResult result;
  EXPECT_EQ(result.code, 0u);
  EXPECT_EQ(result.extra, 0u);
  static_assert(sizeof(ExitResult) == 8, "two unsigned 32-bit values");
}

}  // namespace
