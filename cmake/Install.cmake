# Installation and the Debian package (cpack -G DEB).
#
# Layout under the prefix (/usr in the package):
#   lib/qk/qk, lib/qk/qk-cli         the programs. Each finds manual/index.html beside its own
#                                    executable, through /proc/self/exe, which resolves links. An
#                                    installed copy keeps QK.ini in ~/.config/qk/ (only a portable
#                                    copy in a folder of the user's own keeps it beside itself).
#   lib/qk/manual/                   the manual (index.html Japanese, en.html English)
#   bin/qk, bin/qk-cli               relative symbolic links to the programs
#   share/applications/qk.desktop    the menu entry; qk-decrypt.desktop (the type of containers),
#                                    qk-encrypt.desktop and qk-wipe.desktop ("open with" for every
#                                    file and folder) stay out of the menu
#   share/kio/servicemenus/          KDE's context-menu actions (executable, as KDE requires)
#   share/mime/packages/qk.xml       the type application/x-qk-encrypted, known by its content
#   share/icons/hicolor/<n>x<n>/apps/qk.png   the icon, drawn at build time by qk-make-icons, and
#     .../mimetypes/application-x-qk-encrypted.png   the containers' icon beside it
#   share/man/man1/qk.1.gz, qk-cli.1.gz       the manual pages (man/), compressed at build time
#   share/doc/qk/copyright, changelog.Debian.gz
#   share/lintian/overrides/qk       the two warnings lintian gives for reasons of its own
#
# No maintainer scripts: Debian's shared-mime-info, desktop-file-utils and hicolor-icon-theme
# watch share/mime/packages, share/applications and share/icons/hicolor with file triggers and
# refresh their databases when the package is installed or removed.
#
# The desktop program is optional: without the target qk, only qk-cli and the manual are installed.

include(GNUInstallDirs)

# The programs' folder. The install(TARGETS) rules of qk (src/qk) and qk-cli (src/qk-cli) name the
# same folder.
set(QK_INSTALL_PKGDIR lib/qk)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/manual/ DESTINATION ${QK_INSTALL_PKGDIR}/manual)

# Links in bin. They are made in the build tree and installed as links (install(FILES) keeps a
# symbolic link a link), relative so that they hold under any prefix and DESTDIR.
set(QK_PROGRAMS qk-cli)
if(TARGET qk)
  list(APPEND QK_PROGRAMS qk)
endif()
set(QK_LINK_DIR ${PROJECT_BINARY_DIR}/install-links)
file(REMOVE_RECURSE ${QK_LINK_DIR})
file(MAKE_DIRECTORY ${QK_LINK_DIR})
foreach(program ${QK_PROGRAMS})
  cmake_path(RELATIVE_PATH QK_INSTALL_PKGDIR BASE_DIRECTORY ${CMAKE_INSTALL_BINDIR}
             OUTPUT_VARIABLE relative_dir)
  file(CREATE_LINK ${relative_dir}/${program} ${QK_LINK_DIR}/${program} SYMBOLIC)
  install(FILES ${QK_LINK_DIR}/${program} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

if(QK_BUILD_GUI)
  # Draws the icon files; runs headless on Qt's offscreen platform.
  add_executable(qk-make-icons ${PROJECT_SOURCE_DIR}/tools/make-icons.cpp
                               ${PROJECT_SOURCE_DIR}/src/windows/Pictures.cpp)
  target_include_directories(qk-make-icons PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(qk-make-icons PRIVATE Qt6::Gui qk_warnings)

  # The sizes of kIconSizes in src/windows/Pictures.h.
  set(QK_ICON_DIR ${PROJECT_BINARY_DIR}/icons/hicolor)
  set(QK_ICON_FILES)
  foreach(size 16 32 48 64 128 256)
    list(APPEND QK_ICON_FILES ${QK_ICON_DIR}/${size}x${size}/apps/qk.png
         ${QK_ICON_DIR}/${size}x${size}/mimetypes/application-x-qk-encrypted.png)
  endforeach()
  add_custom_command(
    OUTPUT ${QK_ICON_FILES}
    # Qt's font and plugin caches live as long as the process; they are not leaks worth failing
    # a sanitizer build for.
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:qk-make-icons> ${QK_ICON_DIR}
    DEPENDS qk-make-icons
    COMMENT "Drawing the program icon"
    VERBATIM)
  add_custom_target(qk-icons ALL DEPENDS ${QK_ICON_FILES})

  if(TARGET qk)
    install(DIRECTORY ${QK_ICON_DIR} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
    install(FILES ${PROJECT_SOURCE_DIR}/data/qk.desktop ${PROJECT_SOURCE_DIR}/data/qk-decrypt.desktop
                  ${PROJECT_SOURCE_DIR}/data/qk-encrypt.desktop
                  ${PROJECT_SOURCE_DIR}/data/qk-wipe.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(PROGRAMS ${PROJECT_SOURCE_DIR}/data/kio/qk-servicemenu.desktop
                     ${PROJECT_SOURCE_DIR}/data/kio/qk-decrypt-servicemenu.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/kio/servicemenus)
  endif()
endif()

install(FILES ${PROJECT_SOURCE_DIR}/data/qk.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)

# Manual pages and the Debian changelog, compressed as Debian wants them: gzip -9, without the
# name and time stamp (-n), so that every build gives the same bytes.
find_program(QK_GZIP gzip)
if(QK_GZIP)
  set(QK_DOC_BUILD_DIR ${PROJECT_BINARY_DIR}/doc)
  set(QK_COMPRESSED)
  foreach(pair "man/qk.1|qk.1.gz" "man/qk-cli.1|qk-cli.1.gz" "data/changelog|changelog.Debian.gz")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 source)
    list(GET pair 1 target)
    # Absolute paths and no working folder: generators differ in whether they create an
    # output's folder before its rule runs.
    add_custom_command(
      OUTPUT ${QK_DOC_BUILD_DIR}/${target}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${QK_DOC_BUILD_DIR}
      COMMAND sh -c "'${QK_GZIP}' -9nc '${PROJECT_SOURCE_DIR}/${source}' > '${QK_DOC_BUILD_DIR}/${target}'"
      DEPENDS ${PROJECT_SOURCE_DIR}/${source}
      COMMENT "Compressing ${source}"
      VERBATIM)
    list(APPEND QK_COMPRESSED ${QK_DOC_BUILD_DIR}/${target})
  endforeach()
  add_custom_target(qk-docs ALL DEPENDS ${QK_COMPRESSED})
  set(QK_MAN_PAGES ${QK_DOC_BUILD_DIR}/qk-cli.1.gz)
  if(TARGET qk)
    list(APPEND QK_MAN_PAGES ${QK_DOC_BUILD_DIR}/qk.1.gz)
  endif()
  install(FILES ${QK_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${QK_DOC_BUILD_DIR}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qk)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/data/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qk)
install(FILES ${PROJECT_SOURCE_DIR}/data/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME qk)

# The manual: well-formed, links resolve in both languages, and the qk-cli usage it quotes is the
# one the program prints.
if(QK_BUILD_TESTS)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_Interpreter_FOUND)
    add_test(NAME manual_check
             COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/check-manual.py
                     ${PROJECT_SOURCE_DIR}/manual $<TARGET_FILE:qk-cli>)
    # qk-cli(1) names the commands and options qk-cli --help prints, and no others. (qk(1) and
    # the desktop program's switches: ManualPage in the command-line tests.)
    add_test(NAME manpage_check
             COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/check-manpages.py
                     ${PROJECT_SOURCE_DIR}/man $<TARGET_FILE:qk-cli>)
    # Desktop entries and service menus valid; the type found by its content by GLib.
    add_test(NAME desktop_entries_check
             COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/check-desktop-integration.py
                     entries ${PROJECT_SOURCE_DIR}/data)
    add_test(NAME mime_type_check
             COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/check-desktop-integration.py
                     mime ${PROJECT_SOURCE_DIR}/data $<TARGET_FILE:qk-cli>
                     ${PROJECT_SOURCE_DIR}/tests/data/containers)
    set_tests_properties(desktop_entries_check mime_type_check PROPERTIES SKIP_RETURN_CODE 77)
  endif()
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The Debian revision: the package is not native, so its changelog is changelog.Debian.gz.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_VENDOR "QK developers")
set(CPACK_PACKAGE_CONTACT "QK developers <dev@qk.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "file encryption tool with a Japanese desktop interface")
# The summary above is the synopsis line; this is the extended description below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "QK encrypts files and folders into container files beside them with
Twofish, Rijndael or GOST 28147-89 in CBC mode under a key made from a
password, optionally with a tamper-detection code, and decrypts them back
under their stored names and dates. It can wipe files by overwriting them
before deleting them, and keeps a password hint and a verification hash.
.
The desktop program qk offers drop targets for encrypting, decrypting and
wiping; qk-cli runs the same engine from scripts. The manual is installed
in /usr/lib/qk/manual.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "QK developers <dev@qk.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Japanese standard buttons and fonts, the browser for the manual, the icon theme, and Qt's
# Wayland platform (without it the program runs on X11 through XWayland in a Wayland session).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "qt6-translations-l10n, fonts-noto-cjk, xdg-utils, hicolor-icon-theme, shared-mime-info, desktop-file-utils, qt6-wayland")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
