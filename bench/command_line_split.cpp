// A command-line splitter of our own, for the benchmark only: what the installer would gain if it
// did not load shell32, whose one export it uses is CommandLineToArgvW. Loading shell32 brings
// user32, gdi32 and six more libraries into every run; this file lets bench/ measure a stub
// without them. The product keeps the platform's own splitter: it is the one definition of how
// Windows programs read their arguments, and a copy could drift from it.
//
// The rules, as Windows documents them for CommandLineToArgvW, and as it behaves where the
// documentation is silent (bench/split_check.cpp compares the two on a table of command lines):
// - An empty command line gives one argument, the program's own path.
// - The first argument, the program's name, ends at the next quote when it starts with one, and
//   at the next space or tab otherwise; backslashes in it are plain characters.
// - After it, spaces and tabs outside quotes separate arguments; a run of them is one separator.
// - 2n backslashes followed by a quote give n backslashes, and the quote opens or closes a quoted
//   part, which is not copied. 2n + 1 backslashes followed by a quote give n backslashes and a
//   literal quote. Backslashes not followed by a quote are copied as they are.
// - Undocumented: a quote that follows at once the quote closing a quoted part is a literal quote,
//   and the part stays closed.
// The array and its strings are one block from LocalAlloc, released with LocalFree, with a null
// pointer after the last argument.
#include "command_line_split.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Appends c to text, or only counts it when text is null (the sizing pass).
void Put(wchar_t* text, size_t& units, wchar_t c) {
  if (text != nullptr) text[units] = c;
  ++units;
}

// Splits what follows the program name. With text null it only counts: the arguments, and the
// units their text takes with terminators. Otherwise it also copies each argument into text and
// its start into argv. count and units go on from what the caller has already placed.
void SplitTail(const wchar_t* p, int& count, size_t& units, wchar_t** argv, wchar_t* text) {
  // kJustClosed: the last character was the quote that closed a quoted part.
  enum Quoting { kOutside, kInside, kJustClosed };
  while (*p != 0) {
    while (IsBlank(*p)) ++p;
    if (*p == 0) return;
    if (argv != nullptr) argv[count] = text + units;
    ++count;
    Quoting quoting = kOutside;
    for (;;) {
      size_t backslashes = 0;
      while (p[backslashes] == L'\\') ++backslashes;
      if (backslashes != 0 && quoting == kJustClosed) quoting = kOutside;
      const bool quote_follows = p[backslashes] == L'"';
      const size_t kept = quote_follows ? backslashes / 2 : backslashes;
      for (size_t i = 0; i < kept; ++i) Put(text, units, L'\\');
      p += backslashes;
      if (quote_follows) {
        if (backslashes % 2 == 1) {
          Put(text, units, L'"');
        } else if (quoting == kOutside) {
          quoting = kInside;
        } else if (quoting == kInside) {
          quoting = kJustClosed;
        } else {
          Put(text, units, L'"');
          quoting = kOutside;
        }
        ++p;
        continue;
      }
      if (*p == 0 || (IsBlank(*p) && quoting != kInside)) break;
      Put(text, units, *p++);
      if (quoting == kJustClosed) quoting = kOutside;
    }
    Put(text, units, 0);
  }
}

// Finds the program name at the start of p (name, length) and returns what follows it.
const wchar_t* AfterProgramName(const wchar_t* p, const wchar_t*& name, size_t& length) {
  const bool quoted = *p == L'"';
  if (quoted) ++p;
  name = p;
  while (*p != 0 && (quoted ? *p != L'"' : !IsBlank(*p))) ++p;
  length = static_cast<size_t>(p - name);
  if (quoted && *p == L'"') ++p;
  return p;
}

wchar_t** SplitProgramPath(int* count) {
  // The path of the running program, as for an empty command line: at most MAX_PATH units.
  const size_t pointers = 2;
  auto** argv = static_cast<wchar_t**>(
      LocalAlloc(LMEM_FIXED, pointers * sizeof(wchar_t*) + MAX_PATH * sizeof(wchar_t)));
  if (argv == nullptr) return nullptr;
  auto* text = reinterpret_cast<wchar_t*>(argv + pointers);
  if (GetModuleFileNameW(nullptr, text, MAX_PATH) == 0) {
    const DWORD error = GetLastError();
    LocalFree(argv);
    SetLastError(error);
    return nullptr;
  }
  argv[0] = text;
  argv[1] = nullptr;
  *count = 1;
  return argv;
}

}  // namespace

wchar_t** WINAPI SplitCommandLine(const wchar_t* command_line, int* count) {
  if (count == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (command_line == nullptr || *command_line == 0) return SplitProgramPath(count);

  const wchar_t* name = nullptr;
  size_t name_length = 0;
  const wchar_t* tail = AfterProgramName(command_line, name, name_length);
  int arguments = 1;
  size_t units = name_length + 1;
  SplitTail(tail, arguments, units, nullptr, nullptr);

  const size_t pointers = static_cast<size_t>(arguments) + 1;
  auto** argv = static_cast<wchar_t**>(
      LocalAlloc(LMEM_FIXED, pointers * sizeof(wchar_t*) + units * sizeof(wchar_t)));
  if (argv == nullptr) return nullptr;
  auto* text = reinterpret_cast<wchar_t*>(argv + pointers);
  for (size_t i = 0; i < name_length; ++i) text[i] = name[i];
  text[name_length] = 0;
  argv[0] = text;
  int copied = 1;
  size_t used = name_length + 1;
  SplitTail(tail, copied, used, argv, text);
  argv[arguments] = nullptr;
  *count = arguments;
  return argv;
}
