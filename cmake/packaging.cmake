# The manual page, and the Debian package that cpack builds from the install rules.
# The version comes from project() alone; dates honour SOURCE_DATE_EPOCH so that a package
# built twice from one commit comes out the same. The licence is stated once, in LICENSE, and
# the package quotes it from there.

include(GNUInstallDirs)

string(TIMESTAMP KESTROWAN_MAN_DATE "%Y-%m-%d" UTC)
configure_file(${PROJECT_SOURCE_DIR}/man/kestrowan.1.in ${PROJECT_BINARY_DIR}/man/kestrowan.1
               @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/man/kestrowan.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package is for Debian and its derivatives only.
if(WIN32)
  return()
endif()

# The package is maintained by the project as a whole; a bug report goes to the project.
set(KESTROWAN_PACKAGE_MAINTAINER "The kestrowan project <maintainers@kestrowan.invalid>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrowan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "filter between a chess GUI and a UCI chess engine")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTROWAN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
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
