# What is installed, and the release package that cpack builds from it: a zip archive for
# Windows, a Debian package everywhere else. The version comes from project() alone. The
# licence is stated once, in LICENSE, and each package quotes it.
#
# A package built twice from one commit is the same file, wherever and whenever it is built, so
# that anyone can rebuild a release and compare it with the published one. Every date in it is
# the commit's: SOURCE_DATE_EPOCH as Debian's tools read it, or else the last commit's time from
# git. cpack leaves the builder's user, the time zone and the file system's order of names in a
# zip archive, and the umask and the file system's sizes of folders (in Installed-Size) in a
# Debian package; a script after cpack writes each package again without them
# (canonical-package.cmake.in).

include(GNUInstallDirs)

if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(KESTROWAN_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  # Only a checkout of this project counts: sources unpacked inside some other repository would
  # otherwise take that one's last commit.
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse --show-toplevel
                    WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}" ERROR_QUIET
                    OUTPUT_VARIABLE KESTROWAN_GIT_TOP OUTPUT_STRIP_TRAILING_WHITESPACE)
    file(REAL_PATH "${PROJECT_SOURCE_DIR}" KESTROWAN_SOURCE_TOP)
  endif()
  if(GIT_FOUND AND KESTROWAN_GIT_TOP STREQUAL KESTROWAN_SOURCE_TOP)
    execute_process(COMMAND "${GIT_EXECUTABLE}" log -1 --format=%ct
                    WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}" ERROR_QUIET
                    OUTPUT_VARIABLE KESTROWAN_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(NOT KESTROWAN_SOURCE_DATE_EPOCH)
    # An unpacked source archive, say: the packages' dates are this run's, and another run's
    # packages differ from these.
    string(TIMESTAMP KESTROWAN_SOURCE_DATE_EPOCH "%s" UTC)
    message(STATUS "No SOURCE_DATE_EPOCH and no git checkout: the packages carry the time of "
                   "this run and are not reproducible")
  endif()
  # string(TIMESTAMP) reads it, for the dates in the manual page and the Debian changelog.
  set(ENV{SOURCE_DATE_EPOCH} "${KESTROWAN_SOURCE_DATE_EPOCH}")
endif()
if(NOT KESTROWAN_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is no number of seconds: ${KESTROWAN_SOURCE_DATE_EPOCH}")
endif()

set(CPACK_PACKAGE_NAME kestrowan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "filter between a chess GUI and a UCI chess engine")
set(CPACK_STRIP_FILES ON)
# cpack reads this before it installs anything. The strip that cpack runs stamps a Windows
# program's PE header with SOURCE_DATE_EPOCH, or else with the time of the run.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/cpack-environment.cmake
     CONTENT "set(ENV{SOURCE_DATE_EPOCH} \"@KESTROWAN_SOURCE_DATE_EPOCH@\")\n" @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack-environment.cmake)
configure_file(${CMAKE_CURRENT_LIST_DIR}/canonical-package.cmake.in
               ${PROJECT_BINARY_DIR}/canonical-package.cmake @ONLY)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_BINARY_DIR}/canonical-package.cmake)

if(WIN32)
  # Unpacked anywhere, the archive is the installation: the program and its two text files
  # side by side at its top, the text in CR LF so that every Windows editor shows it right.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(KESTROWAN_WINDOWS_ARCH win64)
    set(KESTROWAN_WINDOWS_BITS 64)
  else()
    set(KESTROWAN_WINDOWS_ARCH win32)
    set(KESTROWAN_WINDOWS_BITS 32)
  endif()
  # The README quotes the error messages, umlauts and all; with a byte order mark every
  # Windows editor reads it as UTF-8, not in the local code page.
  string(ASCII 239 187 191 KESTROWAN_UTF8_BOM)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/LICENSE.txt @ONLY
                 NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/docs/windows/README.txt.in
                 ${PROJECT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(TARGETS kestrowan RUNTIME DESTINATION .)
  install(FILES ${PROJECT_BINARY_DIR}/LICENSE.txt ${PROJECT_BINARY_DIR}/README.txt
          DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME kestrowan-${PROJECT_VERSION}-${KESTROWAN_WINDOWS_ARCH})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  include(CPack)
  return()
endif()

string(TIMESTAMP KESTROWAN_MAN_DATE "%Y-%m-%d" UTC)
configure_file(${PROJECT_SOURCE_DIR}/man/kestrowan.1.in ${PROJECT_BINARY_DIR}/man/kestrowan.1
               @ONLY)
install(TARGETS kestrowan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/man/kestrowan.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The package is maintained by the project as a whole; a bug report goes to the project.
set(KESTROWAN_PACKAGE_MAINTAINER "The kestrowan project <maintainers@kestrowan.invalid>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTROWAN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(CMAKE_CROSSCOMPILING)
  # dpkg-shlibdeps would find the target's libc in the cross sysroot, which belongs to Debian's
  # libc6-<arch>-cross, and name that package. The program needs libc alone (the C++ runtime is
  # linked in), so the dependency is stated: libc6 from the newest GLIBC_ symbol version that
  # the program uses (arc4random, from the C++ runtime), which .ci/stage-arm.sh checks.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.36)")
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
# cpack takes the synopsis from the summary and indents these lines itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "kestrowan is started by a chess GUI in place of a UCI engine, with the
engine's path as its argument, and relays the protocol both ways. It drops
the engine's early search output for a configurable time after each go,
non-protocol output and stray stop commands, gives the engine a bounded time
to end after quit, and adds five options of its own to the engine's list.")

# The copyright file in Debian's machine-readable format, from LICENSE: its copyright line,
# and its terms as a licence text (each line indented by one space, an empty line a lone
# dot). Debian's name for the MIT licence with exactly these terms is Expat.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE KESTROWAN_LICENSE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
if(NOT KESTROWAN_LICENSE MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(Permission is hereby[^\r]*)$")
  message(FATAL_ERROR "LICENSE has no copyright line followed by the MIT licence's terms")
endif()
set(KESTROWAN_COPYRIGHT "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" KESTROWAN_LICENSE_TERMS)
string(REPLACE "\n\n" "\n.\n" KESTROWAN_LICENSE_TERMS "${KESTROWAN_LICENSE_TERMS}")
string(REPLACE "\n" "\n " KESTROWAN_LICENSE_TERMS "${KESTROWAN_LICENSE_TERMS}")

# Debian wants a copyright file and a changelog beside every package, and compressed manual
# pages and changelogs; a plain `cmake --install` gets neither, so they are added to the
# package's staging tree only.
string(TIMESTAMP KESTROWAN_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(KESTROWAN_DEBIAN_DIR ${PROJECT_BINARY_DIR}/debian)
file(CONFIGURE OUTPUT ${KESTROWAN_DEBIAN_DIR}/copyright CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: kestrowan
Comment: kestrowan is under the MIT licence, called Expat in this format.

Files: *
Copyright: ${KESTROWAN_COPYRIGHT}
License: Expat
 ${KESTROWAN_LICENSE_TERMS}
")
file(CONFIGURE OUTPUT ${KESTROWAN_DEBIAN_DIR}/changelog CONTENT
"kestrowan (${PROJECT_VERSION}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- ${KESTROWAN_PACKAGE_MAINTAINER}  ${KESTROWAN_CHANGELOG_DATE}
")
set(KESTROWAN_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/kestrowan)
set(KESTROWAN_MAN_PAGE ${CMAKE_INSTALL_MANDIR}/man1/kestrowan.1)
set(KESTROWAN_BINARY ${CMAKE_INSTALL_BINDIR}/kestrowan)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian-staging.cmake.in
               ${KESTROWAN_DEBIAN_DIR}/staging.cmake @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${KESTROWAN_DEBIAN_DIR}/staging.cmake)

include(CPack)
