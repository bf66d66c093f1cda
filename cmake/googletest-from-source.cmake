# GoogleTest built from the distribution's sources (Debian's googletest package),
# for builds where no installed GTest matches the target: cross builds, or a
# machine with the sources but no library. find_package(GTest) then finds these
# targets instead of searching.
include(FetchContent)
set(GLEANHEX_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources to build the tests with")
if(NOT EXISTS ${GLEANHEX_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  return()
endif()
FetchContent_Declare(GTest SOURCE_DIR ${GLEANHEX_GOOGLETEST_SOURCE_DIR} OVERRIDE_FIND_PACKAGE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
FetchContent_MakeAvailable(GTest)
# Built only for the tests that link it, with its own warnings: the project's
# strict set, and warnings as errors, are for the project's code.
foreach(target gtest gtest_main)
  set_target_properties(${target} PROPERTIES COMPILE_WARNING_AS_ERROR OFF EXCLUDE_FROM_ALL ON)
endforeach()
