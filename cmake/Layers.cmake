# Helpers for the source folders: one folder, one target. Most folders gather their files with
# qk_folder_sources; crypto gathers its own, for the processor-level files that take flags of
# their own, and engine and platform gather only their .cpp files.
# The build checks the files of a folder before its target: no Qt below the windows
# (qk_forbid_qt), and the floors inside platform and crypto (qk_floors).

# The programs and their manual share one folder of the build tree, laid out as an installed copy
# is: <build>/bin/qk, <build>/bin/qk-cli, <build>/bin/manual/.
set(QK_PROGRAM_DIR ${PROJECT_BINARY_DIR}/bin)

# Every .cpp and .h file directly in the calling folder, in ${out}.
function(qk_folder_sources out)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

# Runs the script cmake/${script} over the files of the calling folder (as FILES, with the -D
# definitions in ARGN) whenever one of them changes, before target is built; the script stops the
# build with the reason.
function(qk_check_folder target check script comment)
  qk_folder_sources(sources)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}_${check}.stamp)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} "-DFILES=${sources}" ${ARGN} -P ${PROJECT_SOURCE_DIR}/cmake/${script}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${sources} ${PROJECT_SOURCE_DIR}/cmake/${script}
    COMMENT "${comment}"
    VERBATIM)
  add_custom_target(${target}_${check} DEPENDS ${stamp})
  add_dependencies(${target} ${target}_${check})
endfunction()

# A layer below the windows: the build stops when one of the folder's files includes a Qt header
# (an include of a name beginning with Q in angle brackets or quotes). The target does not link
# Qt either, so such an include could not compile anyway; this says why.
function(qk_forbid_qt target)
  qk_check_folder(${target} no_qt CheckNoQt.cmake "No Qt below the windows: ${target}")
endfunction()

# Floors inside a folder: each argument after target is one floor, lowest first, naming its units
# separated by commas (a unit is a file pair X.h and X.cpp; a file without a header is a unit of
# its own). The build stops when a file includes a unit of the folder that does not stand on a
# lower floor than its own, or when a file of the folder stands on no floor.
function(qk_floors target)
  list(JOIN ARGN "|" floors)
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  qk_check_folder(${target} floors CheckFloors.cmake "Floors of src/${folder}" -DFOLDER=${folder}
                  -DFLOORS=${floors})
endfunction()
