#include "launch/invocation_tail.h"

namespace {

bool IsBlank(wchar_t unit) { return unit == L' ' || unit == L'\t'; }

}  // namespace

void AppendInvocationTail(CommandBuffer& command, const wchar_t* command_line) {
  if (command_line == nullptr) return;
  const wchar_t* p = command_line;
  if (*p == L'"') {
    ++p;
    while (*p != 0 && *p != L'"') ++p;
    if (*p == 0) return;
    ++p;
  } else {
    // A quote inside an unquoted name protects nothing: the platform ends the name at the first
    // blank all the same.
    while (*p != 0 && !IsBlank(*p)) ++p;
  }
  if (*p == 0) return;
  if (!IsBlank(*p)) {
    // "C:\x.exe"--arg: the platform's own splitter reads a new argument here, so the setup
    // program must see a separator too.
    if (!AppendBounded(command.text, command.capacity, L" ")) return;
  }
  (void)AppendBounded(command.text, command.capacity, p);
}
