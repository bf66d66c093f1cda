# GoogleTest built from the distribution's sources, for builds where no GTest
# package matches the target (the Windows cross build). find_package(GTest)
# then finds these targets instead of searching.
include(FetchContent)
set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources to build the tests with")
FetchContent_Declare(GTest SOURCE_DIR ${GOOGLETEST_SOURCE_DIR} OVERRIDE_FIND_PACKAGE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
FetchContent_MakeAvailable(GTest)
# Its own code, its own warnings: the project's strict set does not apply.
# Built only for the tests that link it.
foreach(target gtest gtest_main gmock gmock_main)
  if(TARGET ${target})
    set_target_properties(${target} PROPERTIES COMPILE_OPTIONS "" COMPILE_WARNING_AS_ERROR OFF EXCLUDE_FROM_ALL ON)
  endif()
endforeach()
