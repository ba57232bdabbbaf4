# The LZMA SDK's C sources as Debian's lzma-dev installs them (/usr/include/lzma): the LZMA
# decoder and encoder with its match finder, compiled into every tree that needs them, for Linux
# and for Windows alike, and never copied into this repository. One static library,
# lumora_lzma_sdk; its headers are included by their own names ("LzmaDec.h").
if(TARGET lumora_lzma_sdk)
  return()
endif()
set(LUMORA_LZMA_SDK_DIR /usr/include/lzma CACHE PATH "Where lzma-dev installs the LZMA SDK's C sources")
foreach(_source LzmaDec.c LzmaEnc.c LzFind.c)
  if(NOT EXISTS ${LUMORA_LZMA_SDK_DIR}/${_source})
    message(FATAL_ERROR "${LUMORA_LZMA_SDK_DIR}/${_source} is missing: install Debian's lzma-dev.")
  endif()
endforeach()
enable_language(C)
add_library(lumora_lzma_sdk STATIC
  ${LUMORA_LZMA_SDK_DIR}/LzmaDec.c ${LUMORA_LZMA_SDK_DIR}/LzmaEnc.c ${LUMORA_LZMA_SDK_DIR}/LzFind.c)
# Only the SDK's own folder: /usr/include itself must not reach the Windows tree's compiler.
target_include_directories(lumora_lzma_sdk SYSTEM PUBLIC ${LUMORA_LZMA_SDK_DIR})
# The encoder without its second thread: the same output on every machine, and no thread library.
target_compile_definitions(lumora_lzma_sdk PUBLIC _7ZIP_ST)
# Optimised in every tree (the tests' and the fuzzing tree's too): the decoder's speed is the
# install's, the encoder's the packer's.
target_compile_options(lumora_lzma_sdk PRIVATE -O2 -w)
set_target_properties(lumora_lzma_sdk PROPERTIES POSITION_INDEPENDENT_CODE ON)
