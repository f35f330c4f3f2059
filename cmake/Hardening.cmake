# Hardened as Debian builds its packages: the flags dpkg-buildflags gives with every hardening
# feature on (stack protector, format checks, fortified library calls, relocations read-only and
# resolved at start), and what it leaves out on this system: control-flow protection
# (-fcf-protection), stack clash protection and position-independent executables. Taken by the
# builds people run (./run.sh, packages); the sanitizer and fuzzing builds keep their own
# instrumentation, and the tests check the flags of a release configuration from there.
if(NOT QK_FUZZ AND NOT QK_SANITIZE)
  set(QK_HARDENING_COMPILE)
  set(QK_HARDENING_DEFINES)
  set(QK_HARDENING_LINK)
  find_program(DPKG_BUILDFLAGS dpkg-buildflags)
  if(DPKG_BUILDFLAGS)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
      execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${DPKG_BUILDFLAGS} --get ${kind}
        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      separate_arguments(flags UNIX_COMMAND "${flags}")
      foreach(flag IN LISTS flags)
        if(flag MATCHES "^-D(_FORTIFY_SOURCE=[0-9]+)$")
          list(APPEND QK_HARDENING_DEFINES ${CMAKE_MATCH_1})
        elseif(flag MATCHES "^-f(stack-protector|stack-clash-protection|cf-protection)"
               OR flag MATCHES "^-Wformat" OR flag STREQUAL "-Werror=format-security")
          list(APPEND QK_HARDENING_COMPILE ${flag})
        elseif(flag MATCHES "^-Wl,-z,")
          list(APPEND QK_HARDENING_LINK ${flag})
        endif()
      endforeach()
    endforeach()
  endif()
  if(NOT QK_HARDENING_DEFINES)
    set(QK_HARDENING_DEFINES _FORTIFY_SOURCE=2)
  endif()
  include(CheckCXXCompilerFlag)
  foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "QK_HAS${flag}" known)
    list(FILTER QK_HARDENING_COMPILE EXCLUDE REGEX "^${flag}$")
    check_cxx_compiler_flag(${flag} ${known})
    if(${known})
      list(APPEND QK_HARDENING_COMPILE ${flag})
    endif()
  endforeach()
  foreach(flag -Wl,-z,relro -Wl,-z,now)
    if(NOT flag IN_LIST QK_HARDENING_LINK)
      list(APPEND QK_HARDENING_LINK ${flag})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES QK_HARDENING_COMPILE)
  add_compile_options(${QK_HARDENING_COMPILE})
  add_link_options(${QK_HARDENING_LINK})
  # Fortified calls need the optimiser's knowledge of sizes.
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:${QK_HARDENING_DEFINES}>)
  include(CheckPIESupported)
  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  message(STATUS "Hardening: ${QK_HARDENING_COMPILE} ${QK_HARDENING_LINK} PIE")
endif()
