# The release's time stamp, so that one commit links to one exe and packs
# to one zip: SOURCE_DATE_EPOCH where the caller gives it, else the commit's
# time, from git or from what `git archive` wrote into .commit-time (see
# .gitattributes). git looks no higher than the source folder: a source
# archive unpacked inside another checkout must not take that one's time.
# Without any, the release stops at configure and says why.
cmake_path(GET CMAKE_SOURCE_DIR PARENT_PATH source_parent)
execute_process(COMMAND ${CMAKE_COMMAND} -E env GIT_CEILING_DIRECTORIES=${source_parent}
                        git log -1 --format=%ct
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
  OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_VARIABLE git_error ERROR_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE git_rc)
file(STRINGS ${CMAKE_SOURCE_DIR}/.commit-time archived_time LIMIT_COUNT 1)
set(WINPROBE_SOURCE_DATE_WHY)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(WINPROBE_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
  if(NOT WINPROBE_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH is '${WINPROBE_SOURCE_DATE_EPOCH}': it takes "
                        "seconds since 1970 (git log -1 --format=%ct gives the commit's)")
  elseif(git_rc EQUAL 0 AND NOT commit_time STREQUAL WINPROBE_SOURCE_DATE_EPOCH)
    message(WARNING "SOURCE_DATE_EPOCH=${WINPROBE_SOURCE_DATE_EPOCH} from the environment, "
                    "not the commit's time ${commit_time}: the exe and the zip will not be the "
                    "bytes of a build from the commit. Unset it to build those.")
  endif()
elseif(git_rc EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
  set(WINPROBE_SOURCE_DATE_EPOCH ${commit_time})
elseif(archived_time MATCHES "^[0-9]+$")
  set(WINPROBE_SOURCE_DATE_EPOCH ${archived_time})
else()
  set(WINPROBE_SOURCE_DATE_EPOCH)
  string(REPLACE "\n" " " git_error "${git_error}")
  if(git_error MATCHES "dubious ownership")
    string(CONCAT WINPROBE_SOURCE_DATE_WHY "git refuses this repository, which belongs to "
           "another user. Run 'git config --global --add safe.directory ${CMAKE_SOURCE_DIR}' "
           "if you trust it")
  elseif(NOT EXISTS ${CMAKE_SOURCE_DIR}/.git)
    string(CONCAT WINPROBE_SOURCE_DATE_WHY "${CMAKE_SOURCE_DIR} is no git checkout, nor an "
           "archive that 'git archive' made. Build from a clone")
  else()
    string(CONCAT WINPROBE_SOURCE_DATE_WHY "git cannot read the commit (a clone whose history "
           "stops short of it?): '${git_error}'. Build from a clone that holds the commit "
           "('git clone --depth 1' will do)")
  endif()
endif()
if(NOT WINPROBE_SOURCE_DATE_EPOCH)
  message(FATAL_ERROR "The release takes its time stamp from the commit, and there is none "
                      "to read: ${WINPROBE_SOURCE_DATE_WHY}; or give the time as "
                      "SOURCE_DATE_EPOCH (seconds since 1970: the commit's is "
                      "'git log -1 --format=%ct' wherever its history is whole).")
endif()
message(STATUS "Time stamp: ${WINPROBE_SOURCE_DATE_EPOCH}")
# A new commit configures the release anew.
if(EXISTS ${CMAKE_SOURCE_DIR}/.git/logs/HEAD)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${CMAKE_SOURCE_DIR}/.git/logs/HEAD)
endif()

