# Installer images for the end-to-end runs: the installer's code linked with payload resources
# generated at build time, one image per payload layout. The setup program inside them is
# tools/sample_setup, which records what it was given.
set(RUN_PAYLOAD ${CMAKE_CURRENT_BINARY_DIR}/run_payload)
set(RUN_IMAGES ${CMAKE_BINARY_DIR}/run_images)
file(MAKE_DIRECTORY ${RUN_PAYLOAD}/cab)

# Members whose contents the installer never looks into: it only writes them to disk.
file(WRITE ${RUN_PAYLOAD}/archive.7z "sample archive: the setup program installs from this file\n")
file(WRITE ${RUN_PAYLOAD}/setup.patch "sample patch: the installed setup program rebuilds setup.exe\n")
file(WRITE ${RUN_PAYLOAD}/not_a_program.exe "plain text, not a Windows program\n")
file(WRITE ${RUN_PAYLOAD}/not_a_cabinet.cab "MSCF but nothing else that a cabinet needs\n")

set(SAMPLE_SETUP $<TARGET_FILE:lumora_setup>)
add_custom_command(
  OUTPUT ${RUN_PAYLOAD}/setup_mszip.cab ${RUN_PAYLOAD}/setup_truncated.cab
  COMMAND ${CMAKE_COMMAND} -E copy ${SAMPLE_SETUP} ${RUN_PAYLOAD}/cab/setup.exe
  COMMAND ${LUMORA_GCAB} -c -z --nopath ${RUN_PAYLOAD}/setup_mszip.cab ${RUN_PAYLOAD}/cab/setup.exe
  COMMAND head -c 3000 ${RUN_PAYLOAD}/setup_mszip.cab > ${RUN_PAYLOAD}/setup_truncated.cab
  DEPENDS lumora_setup
  COMMENT "Cabinets of the sample setup program")
add_custom_target(run_payload DEPENDS ${RUN_PAYLOAD}/setup_mszip.cab)

# Two versions of a small application as stored 7z archives that the sample setup program installs
# from: the genuine one the installer carries, and the one another user swaps in.
foreach(version 1.0.0.0 6.6.6.6)
  file(MAKE_DIRECTORY ${RUN_PAYLOAD}/app-${version})
  file(WRITE ${RUN_PAYLOAD}/app-${version}/VERSION "${version}\r\n")
  file(WRITE ${RUN_PAYLOAD}/app-${version}/README.txt "Sample application ${version}\n")
endforeach()
add_custom_command(OUTPUT ${RUN_PAYLOAD}/genuine.7z ${RUN_PAYLOAD}/attacker.7z
  COMMAND ${CMAKE_COMMAND} -E rm -f ${RUN_PAYLOAD}/genuine.7z ${RUN_PAYLOAD}/attacker.7z
  COMMAND ${CMAKE_COMMAND} -E chdir ${RUN_PAYLOAD}/app-1.0.0.0 7zz a -bso0 -mx0 -mhc=off ../genuine.7z VERSION README.txt
  COMMAND ${CMAKE_COMMAND} -E chdir ${RUN_PAYLOAD}/app-6.6.6.6 7zz a -bso0 -mx0 -mhc=off ../attacker.7z VERSION README.txt
  COMMENT "7z archives of the swap races")
add_custom_target(run_archives DEPENDS ${RUN_PAYLOAD}/genuine.7z ${RUN_PAYLOAD}/attacker.7z)

set(RUN_IMAGE_TARGETS "")
# run_image(NAME "resource lines...")
function(run_image name body)
  set(rc ${RUN_PAYLOAD}/${name}.rc)
  string(REPLACE "@P@" "${RUN_PAYLOAD}" body "${body}")
  string(REPLACE "@SETUP@" "${CMAKE_BINARY_DIR}/bin/lumora-setup.exe" body "${body}")
  file(WRITE ${rc}.in "1 24 \"${CMAKE_SOURCE_DIR}/src/installer/resources/stub.manifest\"\n${body}\n")
  configure_file(${rc}.in ${rc} COPYONLY)
  lumora_stub_image(run_${name} OUTPUT_NAME ${name} OUTPUT_DIRECTORY ${RUN_IMAGES} RESOURCES ${rc})
  add_dependencies(run_${name} run_payload run_archives)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
    "${RUN_PAYLOAD}/setup_mszip.cab;${RUN_PAYLOAD}/genuine.7z")
  set(RUN_IMAGE_TARGETS ${RUN_IMAGE_TARGETS} run_${name} PARENT_SCOPE)
endfunction()

string(REPEAT "X" 244 long_tail)
string(REPEAT "9" 900 long_version)

run_image(shipped_mszip "LUMORA.PACKED.7Z B7 \"@P@/archive.7z\"\nSETUP.EX_ BL \"@P@/setup_mszip.cab\"")
run_image(members_bn "LUMORA.ARCHIVE BN \"@P@/archive.7z\"\nSETUP.EXE BN \"@SETUP@\"")
run_image(patch "LUMORA.PACKED.7Z B7 \"@P@/archive.7z\"\nSETUP.PATCH B7 \"@P@/setup.patch\"\n1 RCDATA { L\"1.2.3.4\\0\" }")
run_image(patch_short_names "LUMORA B7 \"@P@/archive.7z\"\nSETUP B7 \"@P@/setup.patch\"\n1 RCDATA { L\"1.2.3.4\\0\" }")
run_image(no_archive "SETUP.EXE BN \"@SETUP@\"")
run_image(no_setup "LUMORA.PACKED.7Z B7 \"@P@/archive.7z\"")
run_image(unknown_name_with_archive "LUMORA.PACKED.7Z B7 \"@P@/archive.7z\"\nREADME.TXT B7 \"@P@/archive.7z\"\nSETUP.EX_ BL \"@P@/setup_mszip.cab\"")
run_image(unknown_name_after_archive "LUMORA.PACKED.7Z B7 \"@P@/archive.7z\"\nREADME.TXT BL \"@P@/archive.7z\"")
run_image(two_archives_one_type "LUMORA.A B7 \"@P@/archive.7z\"\nLUMORA.B B7 \"@P@/archive.7z\"\nSETUP.EX_ BL \"@P@/setup_mszip.cab\"")
run_image(two_archives_two_types "LUMORA.PACKED.7Z B7 \"@P@/archive.7z\"\nSETUP.EX_ BL \"@P@/setup_mszip.cab\"\nLUMORA.OTHER BN \"@P@/archive.7z\"")
run_image(corrupt_cabinet "LUMORA.PACKED.7Z B7 \"@P@/archive.7z\"\nSETUP.EX_ BL \"@P@/not_a_cabinet.cab\"")
run_image(truncated_cabinet "LUMORA.PACKED.7Z B7 \"@P@/archive.7z\"\nSETUP.EX_ BL \"@P@/setup_truncated.cab\"")
run_image(long_archive_name "LUMORA${long_tail} B7 \"@P@/archive.7z\"\nSETUP.EXE BN \"@SETUP@\"")
# Names that lead into a directory: refused before anything is written.
run_image(archive_name_invalid "LUMORA\\NOWHERE.7Z B7 \"@P@/archive.7z\"\nSETUP.EXE BN \"@SETUP@\"")
run_image(setup_name_invalid "LUMORA.PACKED.7Z B7 \"@P@/archive.7z\"\nSETUP\\NOWHERE.EX_ BL \"@P@/setup_mszip.cab\"")
run_image(setup_not_a_program "LUMORA.ARCHIVE BN \"@P@/archive.7z\"\nSETUP.EXE BN \"@P@/not_a_program.exe\"")
# A real archive for the sample setup program to install from (the swap races).
run_image(sample_archive "LUMORA.PACKED.7Z B7 \"@P@/genuine.7z\"\nSETUP.EX_ BL \"@P@/setup_mszip.cab\"")
run_image(version_too_long "LUMORA.ARCHIVE BN \"@P@/archive.7z\"\nSETUP.EXE BN \"@SETUP@\"\n1 RCDATA { L\"${long_version}\\0\" }")
# Previous versions that the setup command line cannot carry intact: refused before any program
# starts, the installed one that would apply a patch included.
run_image(version_with_tab "LUMORA.ARCHIVE BN \"@P@/archive.7z\"\nSETUP.EXE BN \"@SETUP@\"\n1 RCDATA { L\"1.2\\t3\\0\" }")
run_image(patch_version_backslash "LUMORA.PACKED.7Z B7 \"@P@/archive.7z\"\nSETUP.PATCH B7 \"@P@/setup.patch\"\n1 RCDATA { L\"1.2.3.4\\\\\\0\" }")

# The same payloads as resource-only images, for the whole runs made in the test's own process by
# the fault sweep (installer_fault_sweep_test): a "BN" setup program, a "BL" cabinet and a "B7"
# patch. Loaded as a module, each serves as the installer's own image.
set(SWEEP_IMAGE_TARGETS "")
function(sweep_image name body)
  set(rc ${RUN_PAYLOAD}/sweep_${name}.rc)
  string(REPLACE "@P@" "${RUN_PAYLOAD}" body "${body}")
  string(REPLACE "@SETUP@" "${CMAKE_BINARY_DIR}/bin/lumora-setup.exe" body "${body}")
  file(WRITE ${rc}.in "${body}\n")
  configure_file(${rc}.in ${rc} COPYONLY)
  lumora_resource_image(sweep_${name} ${rc})
  add_dependencies(sweep_${name} run_payload lumora_setup)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${RUN_PAYLOAD}/setup_mszip.cab)
  set(SWEEP_IMAGE_TARGETS ${SWEEP_IMAGE_TARGETS} sweep_${name} PARENT_SCOPE)
endfunction()

sweep_image(bn "LUMORA.ARCHIVE BN \"@P@/archive.7z\"\nSETUP.EXE BN \"@SETUP@\"")
sweep_image(bl "LUMORA.PACKED.7Z B7 \"@P@/archive.7z\"\nSETUP.EX_ BL \"@P@/setup_mszip.cab\"")
sweep_image(b7 "LUMORA.PACKED.7Z B7 \"@P@/archive.7z\"\nSETUP.PATCH B7 \"@P@/setup.patch\"\n1 RCDATA { L\"1.2.3.4\\0\" }")
