# What every piece of the stub is compiled with: no exceptions, no RTTI, no unwind tables, no
# static initialisation guards, no stack protector runtime. The same libraries link into the test
# programs, which bring their own C runtime; only the stub itself goes without one.
set(LUMORA_STUB_COMPILE_OPTIONS
  -Os -Wall -Wextra -Werror=return-type
  -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-threadsafe-statics -fno-stack-protector -fno-stack-check
  -ffunction-sections -fdata-sections
  # Loops that clear or copy memory must stay loops, not calls into a runtime we do not link.
  -fno-tree-loop-distribute-patterns
  # No build paths inside the image.
  "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=."
)

# A static library of stub code, compiled for the stub and usable by the tests.
function(lumora_stub_library name)
  add_library(${name} STATIC ${ARGN})
  target_compile_options(${name} PRIVATE ${LUMORA_STUB_COMPILE_OPTIONS})
  target_compile_definitions(${name} PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00)
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
endfunction()
