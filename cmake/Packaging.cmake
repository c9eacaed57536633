# Installation and packaging. driver/CMakeLists.txt installs the module and
# its public headers into the export set TavrinTargets; this file adds what
# lets another project use them: the CMake package (find_package(Tavrin)
# gives the target Tavrin::tavrin), its version file, the pkg-config file,
# the tavrin tool, and the Debian package made by cpack.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TAVRIN_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tavrin)

# CMake package.
install(EXPORT TavrinTargets
  NAMESPACE Tavrin::
  FILE TavrinTargets.cmake
  DESTINATION ${TAVRIN_CMAKE_PACKAGE_DIR})
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/TavrinConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TavrinConfig.cmake
  INSTALL_DESTINATION ${TAVRIN_CMAKE_PACKAGE_DIR})
# A new major version changes the SONAME, so only the same major is compatible.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/TavrinConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/TavrinConfig.cmake
  ${PROJECT_BINARY_DIR}/TavrinConfigVersion.cmake
  DESTINATION ${TAVRIN_CMAKE_PACKAGE_DIR})

# pkg-config file. Its prefix is found from the file's own place
# (${pcfiledir}), so the same file serves /usr, /usr/local and a staging
# prefix given to cmake --install --prefix.
set(TAVRIN_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH TAVRIN_PC_TO_PREFIX /prefix/${TAVRIN_PC_DIR} /prefix)
set(TAVRIN_PC_QT_CORE ${TAVRIN_QT}Core)
configure_file(${CMAKE_CURRENT_LIST_DIR}/tavrin.pc.in ${PROJECT_BINARY_DIR}/tavrin.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tavrin.pc DESTINATION ${TAVRIN_PC_DIR})

# The tool. tool/ defines it; it may be switched off (TAVRIN_BUILD_HOST). It
# loads the module from beside itself (runtime/CMakeLists.txt), in any prefix,
# a staging one included.
if(TARGET tavrin_tool)
  install(TARGETS tavrin_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsPackage.cmake)
  return()
endif()

# Debian package: the module, headers, CMake and pkg-config files, and the
# tool, in one package. Qt dependencies come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tavrin developers")
set(CPACK_PACKAGE_CONTACT "Tavrin developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Mitsubishi FX-series PLC driver module for Qt HMI runtimes")
set(CPACK_PACKAGE_DESCRIPTION
  "Tavrin is a communication driver for Mitsubishi FX-series PLCs over the programming-port \
protocol, loaded as a shared library by an HMI runtime built on Qt ${TAVRIN_QT_MAJOR}. \
The package holds the module, its public headers, CMake and pkg-config files, and the \
tavrin command-line tool.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tavrin developers")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A cross build (the 32-bit module, cmake/toolchain-i686-linux-gnu.cmake)
# is packaged for its own architecture, not the build machine's.
if(CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE STREQUAL "i386-linux-gnu")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
endif()
# The shlibs file tells packages built against libtavrin.so.1 to depend on
# this one; it also resolves the tool's own need for the module.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)
