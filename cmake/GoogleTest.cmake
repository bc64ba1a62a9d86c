# GoogleTest: the installed package on the host, or built from Debian's source
# package for the target when cross compiling (or when asked to).
option(AES_GTEST_FROM_SOURCE "Build GoogleTest from source instead of find_package" ${CMAKE_CROSSCOMPILING})
set(AES_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree")

if(AES_GTEST_FROM_SOURCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  # Linked into the test programs even where the library is a DLL: a GoogleTest
  # DLL would have to lie beside every test program, and its automatic export
  # of everything, the statically linked runtime included, clashes with the
  # programs' own copy of that runtime.
  block(SCOPE_FOR VARIABLES)
    set(BUILD_SHARED_LIBS OFF)
    add_subdirectory(${AES_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  endblock()
else()
  find_package(GTest REQUIRED)
endif()
