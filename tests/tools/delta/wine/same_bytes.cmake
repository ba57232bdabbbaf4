# Two releases of a small application made of this tree's own programs (a program replaced by
# another, one unchanged, a text changed, a file added, one removed, one moved), diffed by both
# builds of lumora-delta; the archives must be equal byte for byte, and the Windows build's apply
# must give the new release exactly.
file(REMOVE_RECURSE ${WORK})
set(_old ${WORK}/old)
set(_new ${WORK}/new)
file(MAKE_DIRECTORY ${_old}/bin ${_old}/lib ${_new}/bin ${_new}/docs ${_new}/lib/moved)
file(COPY_FILE ${PROGRAMS}/lumora-setup.exe ${_old}/bin/app.exe)
file(COPY_FILE ${PROGRAMS}/lumora-stub.exe ${_new}/bin/app.exe)
file(COPY_FILE ${PROGRAMS}/lumora-launch.exe ${_old}/bin/tool.exe)
file(COPY_FILE ${PROGRAMS}/lumora-launch.exe ${_new}/bin/tool.exe)
file(COPY_FILE ${PROGRAMS}/lumora-launch.exe ${_old}/lib/helper.dll)
file(COPY_FILE ${PROGRAMS}/lumora-launch.exe ${_new}/lib/moved/helper.dll)
file(WRITE ${_old}/VERSION "1.0.0.0\r\n")
file(WRITE ${_new}/VERSION "1.0.1.0\r\n")
file(WRITE ${_old}/obsolete.txt "gone in the next release\n")
file(WRITE ${_new}/docs/readme.txt "new in this release\n")

function(run_checked)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE _result OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "${ARGN}\nfailed (${_result}):\n${_out}${_err}")
  endif()
endfunction()

# Windows paths: Wine maps the Unix root to Z:.
function(wine_path var path)
  string(REPLACE "/" "\\" _windows "Z:${path}")
  set(${var} "${_windows}" PARENT_SCOPE)
endfunction()
wine_path(_wold ${_old})
wine_path(_wnew ${_new})
wine_path(_warchive ${WORK}/windows.lpatch)
wine_path(_wapplied ${WORK}/applied)
set(_wine /usr/bin/env LUMORA_WINEPREFIX=${WINEPREFIX_DIR} ${WINE_RUN} ${WINDOWS_DELTA})

run_checked(${HOST_DELTA} make ${_old} ${_new} ${WORK}/linux.lpatch)
run_checked(${_wine} make ${_wold} ${_wnew} ${_warchive})
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/linux.lpatch
  ${WORK}/windows.lpatch RESULT_VARIABLE _differ)
if(_differ)
  message(FATAL_ERROR "The Linux and Windows builds wrote different patch archives: "
    "${WORK}/linux.lpatch, ${WORK}/windows.lpatch")
endif()

run_checked(${_wine} apply ${_wold} ${_warchive} ${_wapplied})
file(GLOB_RECURSE _expected RELATIVE ${_new} ${_new}/*)
file(GLOB_RECURSE _applied RELATIVE ${WORK}/applied ${WORK}/applied/*)
list(SORT _expected)
list(SORT _applied)
if(NOT _expected STREQUAL _applied)
  message(FATAL_ERROR "Applied tree has ${_applied}, expected ${_expected}")
endif()
foreach(_file ${_expected})
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${_new}/${_file}
    ${WORK}/applied/${_file} RESULT_VARIABLE _differ)
  if(_differ)
    message(FATAL_ERROR "${_file} applied by the Windows build differs from the new release")
  endif()
endforeach()
message(STATUS "Same archive from both builds (${WORK}/linux.lpatch); applied exactly.")
