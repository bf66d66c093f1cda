# Hardening on ELF systems, the package's build among them: the library's
# buffer functions checked wherever the compiler knows a buffer's size (in the
# optimised builds, which that needs), and the relocations resolved at start and
# then made read-only. Applies to everything built here, tests included.
if(WIN32 OR APPLE)
  return()
endif()

# Level 3 sizes buffers at run time too; older compilers take level 2.
if((CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12) OR
   (CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 9))
  set(GLEANHEX_FORTIFY_LEVEL 3)
else()
  set(GLEANHEX_FORTIFY_LEVEL 2)
endif()
# Undefined first: some compilers define a level of their own. Not under a
# sanitizer, which checks those calls itself, and only the unfortified ones.
if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize=")
  add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=${GLEANHEX_FORTIFY_LEVEL}>")
endif()
add_link_options(LINKER:-z,relro LINKER:-z,now)
