#include "runtime/fatal_failure.h"

#include <windows.h>

#include "lumora/setup_exit_codes.h"

void EndOnFatalFailure() {
  ExitProcess(SETUP_EXIT_WRITE_FAILED);
}
