# Checks the release zip the build packed: exactly the exe, the README and
# the licence in one folder, each the same bytes as the file it was packed
# from and stamped with the commit's time, a SHA-256 file that matches, and
# an exe that passes the checks of it as a file and an end-to-end scenario.
# Run by CTest with BUILD_DIR, PACKAGE_NAME, EPOCH, SOURCE_DIR, BUILT_EXE,
# EMULATOR (empty on Windows), E2E and EXE_TESTS.

set(work ${BUILD_DIR}/release-check)
file(REMOVE_RECURSE ${work})
set(zip ${BUILD_DIR}/${PACKAGE_NAME}.zip)
if(NOT EXISTS ${zip})
  message(FATAL_ERROR "the build packed no ${PACKAGE_NAME}.zip")
endif()

file(READ ${zip}.sha256 sums)
file(SHA256 ${zip} digest)
if(NOT sums STREQUAL "${digest}  ${PACKAGE_NAME}.zip\n")
  message(FATAL_ERROR "the checksum file says '${sums}', the zip's is ${digest}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zip} OUTPUT_VARIABLE listing)
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" entries "${listing}")
list(FILTER entries EXCLUDE REGEX "/$")
list(SORT entries)
set(want "${PACKAGE_NAME}/LICENSE;${PACKAGE_NAME}/README.md;${PACKAGE_NAME}/winprobe.exe")
if(NOT entries STREQUAL want)
  message(FATAL_ERROR "the zip holds '${entries}', not '${want}'")
endif()

file(ARCHIVE_EXTRACT INPUT ${zip} DESTINATION ${work}/unpacked)
# A zip entry keeps its time to two seconds.
math(EXPR want_time "${EPOCH} / 2 * 2")
set(source_LICENSE ${SOURCE_DIR}/LICENSE)
set(source_README.md ${SOURCE_DIR}/README.md)
set(source_winprobe.exe ${BUILT_EXE})
foreach(entry LICENSE README.md winprobe.exe)
  set(unpacked ${work}/unpacked/${PACKAGE_NAME}/${entry})
  file(TIMESTAMP ${unpacked} got_time "%s" UTC)
  if(NOT got_time EQUAL want_time)
    message(FATAL_ERROR "${entry} in the zip is stamped ${got_time}, the commit ${want_time}")
  endif()
  file(SHA256 ${unpacked} got)
  file(SHA256 ${source_${entry}} want_digest)
  if(NOT got STREQUAL want_digest)
    message(FATAL_ERROR "${entry} in the zip is not ${source_${entry}}")
  endif()
endforeach()
set(ENV{WINPROBE_EXE} ${work}/unpacked/${PACKAGE_NAME}/winprobe.exe)
unset(ENV{WINPROBE_SAMPLE_DIR})
# Every check of the exe as a file, then a run of it.
execute_process(COMMAND ${EMULATOR} ${EXE_TESTS}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(NOT rc EQUAL 0 OR NOT out MATCHES "\\[  PASSED  \\] [1-9]")
  message(FATAL_ERROR "the packed exe failed its checks as a file")
endif()
execute_process(COMMAND ${EMULATOR} ${E2E} --gtest_filter=*FramedTopmostWindowToFile
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(NOT rc EQUAL 0 OR NOT out MATCHES "PASSED  \\] 1 test")
  message(FATAL_ERROR "the packed exe did not pass the end-to-end scenario")
endif()
