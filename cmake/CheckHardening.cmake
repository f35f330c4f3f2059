# Configures (does not build) a release tree of the sources in SOURCE at PROBE and fails unless
# every compile command carries the hardening flags (-fPI: -fPIE for programs, -fPIC for the
# libraries linked into them) and the program's link the hardening options.
# Run as a test from any build, the sanitizer build of ./test.sh included, so that the flags of
# the build people run cannot silently go.
file(REMOVE_RECURSE "${PROBE}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${PROBE}" -G "${GENERATOR}"
          -DCMAKE_BUILD_TYPE=Release -DQK_SANITIZE=OFF -DQK_FUZZ=OFF -DQK_BUILD_TESTS=OFF
          -DQK_BUILD_GUI=OFF -DQK_BUILD_BENCH=OFF
  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "a release build cannot be configured: ${errors}")
endif()

file(STRINGS "${PROBE}/compile_commands.json" commands REGEX "^ *\"command\": ")
list(LENGTH commands count)
if(count EQUAL 0)
  message(FATAL_ERROR "no compile commands in ${PROBE}/compile_commands.json")
endif()
foreach(flag -fstack-protector-strong -fcf-protection -fstack-clash-protection -D_FORTIFY_SOURCE=
             -fPI -Werror=format-security)
  foreach(command IN LISTS commands)
    string(FIND "${command}" " ${flag}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "a release compile lacks ${flag}: ${command}")
    endif()
  endforeach()
endforeach()

# The link of qk-cli: Ninja keeps it in build.ninja, the Makefile generators in link.txt.
if(EXISTS "${PROBE}/build.ninja")
  file(STRINGS "${PROBE}/build.ninja" lines)
  set(link "")
  set(inside FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^build bin/qk-cli:")
      set(inside TRUE)
    elseif(inside AND line MATCHES "^  LINK_FLAGS = ")
      set(link "${line}")
      break()
    elseif(inside AND NOT line MATCHES "^  ")
      set(inside FALSE)
    endif()
  endforeach()
else()
  file(READ "${PROBE}/src/qk-cli/CMakeFiles/qk-cli.dir/link.txt" link)
endif()
foreach(option -Wl,-z,relro -Wl,-z,now -pie)
  string(FIND "${link}" "${option}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the release link of qk-cli lacks ${option}: ${link}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PROBE}")
message(STATUS "release flags hold: ${count} compile commands and the link of qk-cli")
