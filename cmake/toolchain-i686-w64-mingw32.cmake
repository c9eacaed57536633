# 32-bit Windows with Debian's mingw-w64 cross compiler (posix threads,
# DWARF exceptions) against Qt 5 Core cross-built from Debian's source by
# scripts/build-qt5-mingw.sh. Pass that Qt's prefix as TAVRIN_MINGW_QT
# (cmake -DTAVRIN_MINGW_QT=...) or in the environment.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TAVRIN_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVRIN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVRIN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVRIN_MINGW_TRIPLET}-windres)

if(NOT TAVRIN_MINGW_QT AND DEFINED ENV{TAVRIN_MINGW_QT})
  set(TAVRIN_MINGW_QT $ENV{TAVRIN_MINGW_QT})
endif()
# try_compile projects see the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAVRIN_MINGW_QT)

# Libraries and packages from the mingw target folder and the Qt prefix;
# programs (moc, rcc) are the build machine's ones in that prefix.
set(CMAKE_FIND_ROOT_PATH /usr/${TAVRIN_MINGW_TRIPLET} ${TAVRIN_MINGW_QT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Prefixes given in CMAKE_PREFIX_PATH (an unpacked Tavrin zip, say) hold
# Windows files too: search them as roots.
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})
