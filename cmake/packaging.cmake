# What is installed, and the release package that cpack builds from it: a zip archive for
# Windows, a Debian package everywhere else. The version comes from project() alone. The
# Debian package's dates honour SOURCE_DATE_EPOCH, so that one built twice from one commit
# comes out the same. The licence is stated once, in LICENSE, and each package quotes it.

include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME kestrowan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "filter between a chess GUI and a UCI chess engine")
set(CPACK_STRIP_FILES ON)

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
