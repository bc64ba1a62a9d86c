# Installation: the library (static, or shared with BUILD_SHARED_LIBS=ON),
# its two public headers and the export header they include, a CMake package
# (find_package(aes128 CONFIG) -> aes128::aes128) and a pkg-config file.
# Headers go under include/aes128/ and that directory is the include path, so
# consumers write `#include "cbc/aes_cbc.hpp"` as the project itself does.
# The installed library carries no RPATH: it needs nothing of its own prefix.
option(AES_INSTALL "Generate the install rules of the aes128 library" ${PROJECT_IS_TOP_LEVEL})
if(NOT AES_INSTALL)
  return()
endif()

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(AES128_INCLUDE_SUBDIR aes128)
set(AES128_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/aes128)

target_include_directories(
  aes128 PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/${AES128_INCLUDE_SUBDIR}>)
set_target_properties(aes128 PROPERTIES EXPORT_NAME aes128)

install(TARGETS aes128 EXPORT aes128Targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES include/cipher/rijndael.hpp include/cipher/aes128_export.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${AES128_INCLUDE_SUBDIR}/cipher)
install(FILES include/cbc/aes_cbc.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${AES128_INCLUDE_SUBDIR}/cbc)

install(EXPORT aes128Targets NAMESPACE aes128:: DESTINATION ${AES128_CMAKE_DIR})
configure_package_config_file(cmake/aes128Config.cmake.in
                              ${PROJECT_BINARY_DIR}/aes128Config.cmake
                              INSTALL_DESTINATION ${AES128_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/aes128ConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/aes128Config.cmake ${PROJECT_BINARY_DIR}/aes128ConfigVersion.cmake
        DESTINATION ${AES128_CMAKE_DIR})

# The .pc file finds the prefix from its own location, so it stays right when
# the prefix is chosen at install time (cmake --install --prefix) or moved.
set(AES128_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${AES128_PC_DIR}")
  set(AES128_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH AES128_PC_UP /prefix/${AES128_PC_DIR} /prefix)
  string(REGEX REPLACE "/$" "" AES128_PC_UP "${AES128_PC_UP}")
  set(AES128_PC_PREFIX "\${pcfiledir}/${AES128_PC_UP}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(AES128_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(AES128_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
# Users of the static library must not see its functions as imported from a
# DLL (cipher/aes128_export.hpp).
if(AES128_TYPE STREQUAL "SHARED_LIBRARY")
  set(AES128_PC_CFLAGS "")
else()
  set(AES128_PC_CFLAGS " -DAES128_STATIC")
endif()
configure_file(cmake/aes128.pc.in ${PROJECT_BINARY_DIR}/aes128.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/aes128.pc DESTINATION ${AES128_PC_DIR})
