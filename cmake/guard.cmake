# Which guarded-access routines a build gets, chosen here and nowhere else: the
# processor's own assembly routine where there is one, else (POSIX only) the
# portable routines built on sigsetjmp. A routine for another processor is one
# file and one line in the table below.
#
# Sets, as absolute paths:
#   GLEANHEX_GUARD_SOURCES           the guard the program links
#   GLEANHEX_GUARD_PORTABLE_SOURCES  the guard with the portable routines (POSIX)
# and GLEANHEX_GUARD_IS_PORTABLE when the program's guard is the portable one.

# Takes the first line that matches the system, the processor as
# CMAKE_SYSTEM_PROCESSOR names it (uname -m, or the first part of a cross
# triple) and the pointer width: the width tells a 64-bit processor's 32-bit
# builds apart.
set(GLEANHEX_GUARD_ROUTINE "")
macro(gleanhex_guard_routine system processors pointer_bytes file)
  if(NOT GLEANHEX_GUARD_ROUTINE AND CMAKE_SYSTEM_NAME STREQUAL "${system}"
     AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(${processors})$" AND CMAKE_SIZEOF_VOID_P EQUAL ${pointer_bytes})
    set(GLEANHEX_GUARD_ROUTINE ${file})
  endif()
endmacro()

#                     system  processor                   bytes  routine
gleanhex_guard_routine(Linux   "x86_64|amd64"                   8  probe/guard_access_x86_64_linux.cpp)
gleanhex_guard_routine(Linux   "x86_64|amd64|i[3-6]86|x86"      4  probe/guard_access_i386_linux.cpp)
gleanhex_guard_routine(Linux   "aarch64|arm64"                  8  probe/guard_access_aarch64_linux.cpp)
gleanhex_guard_routine(Linux   "arm.*"                          4  probe/guard_access_armhf_linux.cpp)
gleanhex_guard_routine(Linux   "riscv64"                        8  probe/guard_access_riscv64_linux.cpp)
gleanhex_guard_routine(Linux   "ppc64le|powerpc64le"            8  probe/guard_access_ppc64el_linux.cpp)
gleanhex_guard_routine(Linux   "s390x"                          8  probe/guard_access_s390x_linux.cpp)
gleanhex_guard_routine(Linux   "mips64|mips64el"                8  probe/guard_access_mips64el_linux.cpp)
gleanhex_guard_routine(Windows "x86_64|AMD64|amd64"             8  probe/guard_access_x86_64_win32.cpp)
gleanhex_guard_routine(Windows "x86|X86|i[3-6]86"               4  probe/guard_access_i386_win32.cpp)
gleanhex_guard_routine(Windows "aarch64|ARM64|arm64"            8  probe/guard_access_arm64_win32.cpp)

if(WIN32)
  if(NOT GLEANHEX_GUARD_ROUTINE)
    message(FATAL_ERROR "No guarded-access routine for Windows on ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
  set(GLEANHEX_GUARD_SOURCES probe/guard.cpp probe/guard_handler_win32.cpp ${GLEANHEX_GUARD_ROUTINE})
  set(GLEANHEX_GUARD_PORTABLE_SOURCES "")
  set(GLEANHEX_GUARD_IS_PORTABLE OFF)
else()
  set(GLEANHEX_GUARD_PORTABLE_SOURCES probe/guard.cpp probe/guard_handler_posix.cpp probe/guard_access_portable_posix.cpp)
  if(GLEANHEX_GUARD_ROUTINE AND NOT GLEANHEX_PORTABLE_GUARD)
    # The routines' faults are resumed by program counter, which is per system.
    set(GLEANHEX_GUARD_SOURCES probe/guard.cpp probe/guard_handler_posix.cpp ${GLEANHEX_GUARD_ROUTINE}
                               probe/guard_resume_linux.cpp)
    set(GLEANHEX_GUARD_IS_PORTABLE OFF)
  else()
    set(GLEANHEX_GUARD_SOURCES ${GLEANHEX_GUARD_PORTABLE_SOURCES})
    set(GLEANHEX_GUARD_IS_PORTABLE ON)
  endif()
endif()
list(TRANSFORM GLEANHEX_GUARD_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
list(TRANSFORM GLEANHEX_GUARD_PORTABLE_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
