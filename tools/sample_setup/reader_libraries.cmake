# The setup program's libraries that need no Windows: decode/ (LZMA through the LZMA SDK, LZMA2,
# the branch filters, a folder's coders joined) and seven_zip/ (the archive's header, its folders
# and files, a folder's files decoded in order) above it. Included by every tree that reads 7z
# archives: the setup program's, the packer's host tree, the fuzzing tree.
#
# Each library's headers are included by their folder ("decode/folder.h"), and only by the
# libraries that link it: its include directory holds a link to its own folder alone.
if(TARGET lumora_setup_seven_zip)
  return()
endif()
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/LzmaSdk.cmake)

function(lumora_setup_library name folder)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  set(dir ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${folder})
  list(TRANSFORM ARG_SOURCES PREPEND ${dir}/)
  add_library(${name} STATIC ${ARG_SOURCES})
  set(include_root ${CMAKE_BINARY_DIR}/setup_include/${name})
  file(MAKE_DIRECTORY ${include_root})
  file(CREATE_LINK ${dir} ${include_root}/${folder} SYMBOLIC)
  target_include_directories(${name} PUBLIC ${include_root})
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  target_compile_options(${name} PRIVATE -Wall -Wextra)
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

lumora_setup_library(lumora_setup_decode decode
  SOURCES byte_source.cpp input_buffer.cpp lzma_stream.cpp branch_filters.cpp bcj2_stream.cpp
    folder_decoder.cpp)
target_link_libraries(lumora_setup_decode PRIVATE lumora_lzma_sdk)

lumora_setup_library(lumora_setup_seven_zip seven_zip
  SOURCES crc32.cpp safe_entry_name.cpp header_parser.cpp open_archive.cpp folder_extraction.cpp
    install_check.cpp
  DEPENDS lumora_setup_decode lumora_shared)
