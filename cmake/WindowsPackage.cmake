# The integrators' zip of the Windows DLL (cpack -G ZIP): tavrin.dll with
# the DLLs it needs at run time beside it in bin/ (Qt5Core.dll and the mingw
# runtime: libstdc++-6.dll, libgcc_s_dw2-1.dll or libgcc_s_seh-1.dll,
# libwinpthread-1.dll), the import library and the export list (.def) in lib/,
# the public headers in include/tavrin/, the CMake package, and the page on
# loading the DLL from a Qt 5 host.

# Qt Core as the module links it.
get_target_property(tavrin_qt_core_dll ${TAVRIN_QT}::Core IMPORTED_LOCATION_RELEASE)
if(NOT tavrin_qt_core_dll)
  get_target_property(tavrin_qt_core_dll ${TAVRIN_QT}::Core LOCATION)
endif()
if(NOT EXISTS "${tavrin_qt_core_dll}")
  message(FATAL_ERROR "Tavrin: no Qt Core DLL found for the Windows package (${tavrin_qt_core_dll})")
endif()

# The compiler's runtime DLLs, from the compiler's own folders.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(tavrin_gcc_runtime libgcc_s_dw2-1.dll) # DWARF exceptions
else()
  set(tavrin_gcc_runtime libgcc_s_seh-1.dll)
endif()
set(tavrin_runtime_dlls "${tavrin_qt_core_dll}")
foreach(dll libstdc++-6.dll ${tavrin_gcc_runtime} libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "Tavrin: ${CMAKE_CXX_COMPILER} knows no ${dll}")
  endif()
  file(REAL_PATH "${path}" path)
  # Debian's copies carry their debug information (libstdc++-6.dll is 21 MB
  # with it, 3.9 without); the zip gets them without.
  set(stripped ${PROJECT_BINARY_DIR}/runtime/${dll})
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/runtime)
  execute_process(COMMAND ${CMAKE_STRIP} --strip-debug -o ${stripped} ${path} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "Tavrin: ${CMAKE_STRIP} could not strip ${path}")
  endif()
  list(APPEND tavrin_runtime_dlls "${stripped}")
endforeach()
install(FILES ${tavrin_runtime_dlls} DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/host-integration.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(tavrin_windows_arch win32)
else()
  set(tavrin_windows_arch win64)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tavrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tavrin developers")
set(CPACK_PACKAGE_FILE_NAME tavrin-${PROJECT_VERSION}-${tavrin_windows_arch}-mingw-qt5)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
