# Tests that use the whole build rather than one test program: installing
# into a staging prefix and building outside consumers, the Debian package,
# and the agreement of the versions the module and the tool tell.

add_test(NAME install.consumers
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/test-install.sh --no-deb ${PROJECT_BINARY_DIR})
set_tests_properties(install.consumers PROPERTIES LABELS install TIMEOUT 600)

# cpack builds the whole tree (its preinstall step) before it packages.
find_program(TAVRIN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TAVRIN_DPKG_SHLIBDEPS)
  add_test(NAME install.debian_package
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install/check_debian_package.sh ${PROJECT_BINARY_DIR})
  # Alone: should the preinstall step relink anything, no other test runs it meanwhile.
  set_tests_properties(install.debian_package PROPERTIES LABELS install TIMEOUT 600 RUN_SERIAL TRUE)
endif()

if(TARGET tavrin_tool)
  set(tavrin_tool_file $<TARGET_FILE:tavrin_tool>)
else()
  set(tavrin_tool_file "")
endif()
add_test(NAME install.version
  COMMAND ${CMAKE_COMMAND}
    -DMODULE=$<TARGET_FILE:tavrin>
    -DVERSION=${PROJECT_VERSION}
    -DTOOL=${tavrin_tool_file}
    -P ${CMAKE_CURRENT_SOURCE_DIR}/install/check_version.cmake)
# Without the tool the module half still runs and the test reports a skip.
set_tests_properties(install.version PROPERTIES LABELS install SKIP_REGULAR_EXPRESSION "SKIPPED:")
