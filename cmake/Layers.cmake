# Helpers for the source folders: one folder, one target. Most folders gather their files with
# qk_folder_sources; crypto gathers its own, for the processor-level files that take flags of
# their own, and engine and platform gather only their .cpp files.

# The programs and their manual share one folder of the build tree, laid out as an installed copy
# is: <build>/bin/qk, <build>/bin/qk-cli, <build>/bin/manual/.
set(QK_PROGRAM_DIR ${PROJECT_BINARY_DIR}/bin)

# Every .cpp and .h file directly in the calling folder, in ${out}.
function(qk_folder_sources out)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

# A layer below the windows: the build stops when one of the folder's files includes a Qt header
# (an include of a name beginning with Q in angle brackets or quotes). The target does not link
# Qt either, so such an include could not compile anyway; this says why.
function(qk_forbid_qt target)
  qk_folder_sources(sources)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}_no_qt.stamp)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} "-DFILES=${sources}" -P ${PROJECT_SOURCE_DIR}/cmake/CheckNoQt.cmake
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${sources} ${PROJECT_SOURCE_DIR}/cmake/CheckNoQt.cmake
    COMMENT "No Qt below the windows: ${target}"
    VERBATIM)
  add_custom_target(${target}_no_qt DEPENDS ${stamp})
  add_dependencies(${target} ${target}_no_qt)
endfunction()
