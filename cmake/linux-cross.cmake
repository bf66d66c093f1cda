# Cross build for Linux on another processor, with Debian's cross compilers
# (g++-<triple>) and their libraries under /usr/<triple>:
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/linux-cross.cmake \
#         -DGLEANHEX_TRIPLE=arm-linux-gnueabihf
# Running the results (qemu-user, or natively) is the caller's business.
set(GLEANHEX_TRIPLE "${GLEANHEX_TRIPLE}" CACHE STRING "GNU triple of the target, as in g++-<triple>")
if(NOT GLEANHEX_TRIPLE)
  message(FATAL_ERROR "linux-cross.cmake: set GLEANHEX_TRIPLE, for example aarch64-linux-gnu")
endif()
# The checks CMake compiles in projects of their own need it too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES GLEANHEX_TRIPLE)

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${GLEANHEX_TRIPLE}")

set(CMAKE_C_COMPILER ${GLEANHEX_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${GLEANHEX_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${GLEANHEX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
