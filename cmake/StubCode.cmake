# What every piece of the stub is compiled with: no exceptions, no RTTI, no unwind tables, no
# static initialisation guards, no stack protector runtime. The same libraries link into the test
# programs, which bring their own C runtime; only the stub itself goes without one.
set(LUMORA_STUB_COMPILE_OPTIONS
  -Os -Wall -Wextra -Werror
  -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-threadsafe-statics -fno-stack-protector -fno-stack-check
  -ffunction-sections -fdata-sections
  # Loops that clear or copy memory must stay loops, not calls into a runtime we do not link.
  -fno-tree-loop-distribute-patterns
  # No build paths inside the image.
  "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=."
  # No compiler identification string per object: lld keeps each one (.rdata$zzz), 32 bytes an
  # object, a kilobyte of the image that no loader or reader needs.
  -fno-ident
)

# A static library of stub code, compiled for the stub and usable by the tests.
function(lumora_stub_library name)
  add_library(${name} STATIC ${ARGN})
  target_compile_options(${name} PRIVATE ${LUMORA_STUB_COMPILE_OPTIONS})
  target_compile_definitions(${name} PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00)
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  # The only system libraries stub code may import from; named here so that they follow every
  # library on the link line.
  target_link_libraries(${name} PUBLIC lumora_shared kernel32 advapi32 shell32)
endfunction()

# lumora_stub_image(TARGET OUTPUT_NAME name OUTPUT_DIRECTORY dir RESOURCES file.rc ...)
# Links an installer image: the process entry, the installer's code and the given resources, as a
# GUI-subsystem PE32+ image with its own entry point and no C runtime. It imports from kernel32,
# advapi32 and shell32 only; libgcc supplies the stack probe for large frames. The bare stub is
# one such image; tests link others with payload resources of their choosing.
#
# The linker is LLVM's lld, not GNU ld: the image carries a load configuration
# (src/installer/load_configuration.cpp), and GNU ld 2.40 leaves the load configuration directory
# empty whatever the objects hold. Debian's mingw-w64 GCC always runs the GNU linker it was built
# with, whatever -fuse-ld says, so link-with-lld.gcc, a driver settings file given to GCC with
# -specs=, names the linker the driver runs instead; lld takes the GNU-style arguments the driver
# passes and ignores the LTO plugin options among them.
function(lumora_stub_image target)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME;OUTPUT_DIRECTORY" "RESOURCES" ${ARGN})
  add_executable(${target} WIN32 ${ARG_RESOURCES})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${ARG_OUTPUT_NAME}
    RUNTIME_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIRECTORY})
  target_link_options(${target} PRIVATE
    -specs=${CMAKE_CURRENT_FUNCTION_LIST_DIR}/link-with-lld.gcc
    -nostdlib -nostartfiles -Wl,-e,StubEntry -Wl,--subsystem,windows
    -Wl,--gc-sections -s
    # Reproducible: the same sources give the same bytes (lld writes no build id unless asked).
    -Wl,--no-insert-timestamp
    -Wl,--dynamicbase -Wl,--nxcompat -Wl,--high-entropy-va
    # The stack GNU ld gave the stub; lld's default is half of it.
    -Wl,--stack,0x200000)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
    ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/link-with-lld.gcc)
  # Import libraries after the stub's own objects, so that they resolve against them.
  target_link_libraries(${target} PRIVATE lumora_process_entry lumora_installer
    lumora_freestanding_runtime kernel32 advapi32 shell32 gcc)
  set_property(TARGET ${target} PROPERTY LINKER_LANGUAGE CXX)
endfunction()
