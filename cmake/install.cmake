# Installs gleanhex like any other terminal tool: the program, its manual page
# compressed as man(1) expects, and the package's copyright and changelog under
# the usual GNU directories. CPack packages the same tree.

include(GNUInstallDirs)

# The manual page carries the project version, so it is generated rather than kept.
set(GLEANHEX_MAN_PAGE ${PROJECT_BINARY_DIR}/man/gleanhex.1)
configure_file(${PROJECT_SOURCE_DIR}/man/gleanhex.1.in ${GLEANHEX_MAN_PAGE} @ONLY)

install(TARGETS gleanhex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (the package's) also drops the compilers' version notes.
if(CMAKE_OBJCOPY AND NOT WIN32)
  # The prefix as given at install time, which may not be the configured one.
  set(installed_bindir "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}")
  if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
    set(installed_bindir "${CMAKE_INSTALL_BINDIR}")
  endif()
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                              \"\$ENV{DESTDIR}${installed_bindir}/gleanhex\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()")
endif()

if(NOT WIN32)
  # -n leaves out the name and time stamp, so the same page compresses to the same bytes.
  find_program(GLEANHEX_GZIP gzip)
  set(docs ${PROJECT_SOURCE_DIR}/cmake/debian/copyright)
  if(GLEANHEX_GZIP)
    set(compressed ${GLEANHEX_MAN_PAGE}.gz ${PROJECT_BINARY_DIR}/doc/changelog.gz)
    add_custom_command(OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
      COMMAND ${GLEANHEX_GZIP} -9nc ${GLEANHEX_MAN_PAGE} > ${GLEANHEX_MAN_PAGE}.gz
      COMMAND ${GLEANHEX_GZIP} -9nc ${PROJECT_SOURCE_DIR}/cmake/debian/changelog > ${PROJECT_BINARY_DIR}/doc/changelog.gz
      DEPENDS ${GLEANHEX_MAN_PAGE} ${PROJECT_SOURCE_DIR}/cmake/debian/changelog
      VERBATIM)
    add_custom_target(gleanhex_compressed_docs ALL DEPENDS ${compressed})
    install(FILES ${GLEANHEX_MAN_PAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    list(APPEND docs ${PROJECT_BINARY_DIR}/doc/changelog.gz)
  else()
    install(FILES ${GLEANHEX_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    list(APPEND docs ${PROJECT_SOURCE_DIR}/cmake/debian/changelog)
  endif()
  install(FILES ${docs} DESTINATION ${CMAKE_INSTALL_DOCDIR})
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
# The changelog must name this version, checked when a package is built.
set(CPACK_GLEANHEX_CHANGELOG ${PROJECT_SOURCE_DIR}/cmake/debian/changelog)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/check-changelog.cmake)
include(CPack)
