// The failure functions that the standard library's header templates call when a container is
// asked for more than it can hold or an index is out of range. The C++ runtime library defines
// them to throw; the setup program is compiled without exceptions and links no C++ runtime, so
// they are defined here, all ending the process the same way. Only the ones the setup program's
// templates reach are needed; the link fails, naming the function, when new code reaches another
// (see the rules in tools/sample_setup/CMakeLists.txt).
#include "runtime/fatal_failure.h"

namespace std {

[[noreturn]] void __throw_bad_alloc() { EndOnFatalFailure(); }
[[noreturn]] void __throw_bad_array_new_length() { EndOnFatalFailure(); }
[[noreturn]] void __throw_length_error(const char*) { EndOnFatalFailure(); }
[[noreturn]] void __throw_logic_error(const char*) { EndOnFatalFailure(); }
[[noreturn]] void __throw_out_of_range(const char*) { EndOnFatalFailure(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { EndOnFatalFailure(); }
[[noreturn]] void __throw_invalid_argument(const char*) { EndOnFatalFailure(); }

}  // namespace std
