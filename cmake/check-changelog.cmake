# Run by CPack before it builds a package: the package's changelog names the
# version it is released as, one more place a version bump has to reach. A
# build that packages nothing never looks.
file(STRINGS "${CPACK_GLEANHEX_CHANGELOG}" latest LIMIT_COUNT 1)
if(NOT latest MATCHES "^gleanhex \\(${CPACK_PACKAGE_VERSION}\\)")
  message(FATAL_ERROR "cmake/debian/changelog has no entry for version ${CPACK_PACKAGE_VERSION} at its top")
endif()
