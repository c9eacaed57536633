# 32-bit x86 Linux with Debian's cross compiler and the i386 packages of
# multiarch (qtbase5-dev:i386, libgtest-dev:i386): the host's own 32-bit
# layout on Linux. Use with -DTAVRIN_QT_VERSION=5.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

# Libraries and CMake packages are found in the i386 folders (through
# CMAKE_LIBRARY_ARCHITECTURE) before any other; programs (moc, rcc) are the
# build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/lib/i386-linux-gnu /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# pkg-config answers for the i386 libraries.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
