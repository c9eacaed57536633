# Every target of the project builds warning-free at this level under g++ and clang++.
function(tavrin_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(TAVRIN_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
option(TAVRIN_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)
