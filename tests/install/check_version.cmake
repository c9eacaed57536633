# Checks that the module and the tool tell the same version, and that it is
# the project's: the module's real file name (libtavrin.so.X.Y.Z), the
# string embedded in it ("Tavrin module version X.Y.Z") and the output of
# `tavrin --version`.
#   cmake -DMODULE=<libtavrin.so or one of its links> -DVERSION=X.Y.Z
#         [-DTOOL=<tavrin tool>] -P check_version.cmake
# Without TOOL, or with TOOL naming no file, the tool part prints "SKIPPED:".
if(NOT MODULE OR NOT VERSION)
  message(FATAL_ERROR "usage: cmake -DMODULE=... -DVERSION=... [-DTOOL=...] -P check_version.cmake")
endif()

set(version_regex "[0-9]+\\.[0-9]+\\.[0-9]+")

file(REAL_PATH "${MODULE}" module_file)
get_filename_component(module_name "${module_file}" NAME)
if(NOT module_name MATCHES "^libtavrin\\.so\\.(${version_regex})$")
  message(FATAL_ERROR "module file ${module_file} does not carry a version in its name")
endif()
set(file_version ${CMAKE_MATCH_1})

# A debug build holds the string twice (.rodata and the debug information).
file(STRINGS "${module_file}" embedded REGEX "Tavrin module version ${version_regex}")
list(REMOVE_DUPLICATES embedded)
list(LENGTH embedded embedded_count)
if(NOT embedded_count EQUAL 1)
  message(FATAL_ERROR "expected one \"Tavrin module version\" string in ${module_file}, found: ${embedded}")
endif()
string(REGEX MATCH "Tavrin module version (${version_regex})" _ "${embedded}")
set(embedded_version ${CMAKE_MATCH_1})

message(STATUS "project version ${VERSION}, module file name ${file_version}, embedded string ${embedded_version}")
if(NOT file_version STREQUAL VERSION OR NOT embedded_version STREQUAL VERSION)
  message(FATAL_ERROR "module versions disagree with the project version ${VERSION}")
endif()

if(NOT TOOL OR NOT EXISTS "${TOOL}")
  message(STATUS "SKIPPED: the tavrin tool is not built, its --version is not checked")
  return()
endif()
execute_process(COMMAND "${TOOL}" --version
  OUTPUT_VARIABLE tool_output ERROR_VARIABLE tool_error RESULT_VARIABLE tool_result)
if(NOT tool_result EQUAL 0)
  message(FATAL_ERROR "${TOOL} --version failed (${tool_result}): ${tool_error}")
endif()
if(NOT tool_output MATCHES "(${version_regex})")
  message(FATAL_ERROR "${TOOL} --version printed no version: ${tool_output}")
endif()
set(tool_version ${CMAKE_MATCH_1})
message(STATUS "tavrin --version ${tool_version}")
if(NOT tool_version STREQUAL file_version)
  message(FATAL_ERROR "tavrin --version says ${tool_version}, the module is ${file_version}")
endif()
