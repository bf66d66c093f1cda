# Installs gleanhex like any other terminal tool (program and manual page, under
# the usual GNU directories) and packages the same tree with CPack.

include(GNUInstallDirs)

# The manual page carries the project version, so it is generated rather than kept.
set(GLEANHEX_MAN_PAGE ${CMAKE_BINARY_DIR}/man/gleanhex.1)
configure_file(${CMAKE_SOURCE_DIR}/man/gleanhex.1.in ${GLEANHEX_MAN_PAGE} @ONLY)

install(TARGETS gleanhex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(NOT WIN32)
  install(FILES ${GLEANHEX_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME gleanhex)
set(CPACK_PACKAGE_VENDOR "gleanhex maintainers")
set(CPACK_PACKAGE_CONTACT "gleanhex maintainers <maintainers@users.noreply.c-seed-e096e643.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "An interactive terminal browser for the memory of its own process: it shows one
block of 240 bytes at a time as hexadecimal and characters, pages and scans
through the address space, and writes single bytes. Unreadable memory shows as
3f instead of ending the process.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Let dpkg-shlibdeps name the libraries the program links against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
