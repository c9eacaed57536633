#!/usr/bin/env bash
# Installs a built tree into a staging prefix and proves that projects
# outside the tree can use it:
#   - the prefix holds the module with its SONAME links, the public headers,
#     the CMake package, the pkg-config file and the tavrin tool;
#   - tests/install/consumer builds and runs through find_package(Tavrin),
#     and a request for the next major version is refused;
#   - the same program builds and runs through pkg-config;
#   - the installed tool and module tell the same version;
#   - cpack makes a Debian package holding the module, headers and tool
#     (tests/install/check_debian_package.sh; left out with --no-deb).
# Usage: scripts/test-install.sh [--no-deb] [BUILD_DIR]
#   Without BUILD_DIR, build/ is configured and built first (scripts/build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
check_deb=yes
if [ "${1:-}" = --no-deb ]; then
  check_deb=no
  shift
fi
if [ $# -ge 1 ]; then
  build=$(cd "$1" && pwd)
else
  build=$root/build
  "$root/scripts/build.sh" "$build"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tavrin-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() { echo "test-install: $*" >&2; exit 1; }
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

cxx=$(cache_value CMAKE_CXX_COMPILER)
# A toolchain file sets the compiler without caching it; CMake's record of
# the compiler it found has it then.
if [ -z "$cxx" ]; then
  cxx=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$build"/CMakeFiles/*/CMakeCXXCompiler.cmake | head -n1)
fi
# A cross-built tree (the 32-bit module) has its consumers built the same
# way: its toolchain file for CMake, its architecture's .pc files for
# pkg-config.
consumer_toolchain=()
toolchain=$(cache_value CMAKE_TOOLCHAIN_FILE)
[ -n "$toolchain" ] && consumer_toolchain=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
multiarch=$("$cxx" -print-multiarch 2>/dev/null || true)
if [ -n "$multiarch" ] && [ "$multiarch" != "$(gcc -print-multiarch 2>/dev/null || true)" ]; then
  export PKG_CONFIG_LIBDIR=/usr/lib/$multiarch/pkgconfig:/usr/share/pkgconfig
fi
libdir=$(cache_value CMAKE_INSTALL_LIBDIR)
libdir=${libdir:-lib}
# The tool is expected in the prefix when the build has an install rule for it.
tool_built=no
grep -q 'TYPE EXECUTABLE FILES' "$build/cmake_install.cmake" && tool_built=yes

echo "== install into $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

version=$(sed -n 's/^#define TAVRIN_VERSION_STRING "\(.*\)"/\1/p' "$prefix/include/tavrin/tavrin_version.h")
[ -n "$version" ] || fail "include/tavrin/tavrin_version.h carries no version"
major=${version%%.*}
echo "   version $version"

expect_file() { [ -e "$prefix/$1" ] || fail "missing in the prefix: $1"; }
expect_link() {
  [ -L "$prefix/$1" ] || fail "not a symbolic link: $1"
  [ "$(readlink "$prefix/$1")" = "$2" ] || fail "$1 points to $(readlink "$prefix/$1"), not $2"
}
expect_file "$libdir/libtavrin.so.$version"
expect_link "$libdir/libtavrin.so.$major" "libtavrin.so.$version"
expect_link "$libdir/libtavrin.so" "libtavrin.so.$major"
for header in tavrin.h tavrin_export.h tavrin_port_bytes.h tavrin_version.h; do
  expect_file "include/tavrin/$header"
done
for file in TavrinConfig.cmake TavrinConfigVersion.cmake TavrinTargets.cmake; do
  expect_file "$libdir/cmake/Tavrin/$file"
done
expect_file "$libdir/pkgconfig/tavrin.pc"
if [ $tool_built = yes ]; then
  expect_file bin/tavrin
fi

echo "== consumer through find_package(Tavrin $major.0)"
cmake -S "$root/tests/install/consumer" -B "$work/consumer-cmake" \
  -DCMAKE_CXX_COMPILER="$cxx" "${consumer_toolchain[@]}" -DCMAKE_PREFIX_PATH="$prefix" \
  -DTAVRIN_WANTED_VERSION="$major.0" >/dev/null
cmake --build "$work/consumer-cmake" >/dev/null
"$work/consumer-cmake/tavrin_consumer"

echo "== find_package(Tavrin $((major + 1)).0) must be refused"
if cmake -S "$root/tests/install/consumer" -B "$work/consumer-wrong-major" \
     -DCMAKE_CXX_COMPILER="$cxx" "${consumer_toolchain[@]}" -DCMAKE_PREFIX_PATH="$prefix" \
     -DTAVRIN_WANTED_VERSION="$((major + 1)).0" >/dev/null 2>&1; then
  fail "find_package accepted version $((major + 1)).0 from a $version package"
fi

echo "== consumer through pkg-config"
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
[ "$(pkg-config --modversion tavrin)" = "$version" ] || fail "pkg-config reports $(pkg-config --modversion tavrin)"
# -fPIC: Qt built with reduced relocations requires position-independent code.
# shellcheck disable=SC2046
"$cxx" -std=c++17 -fPIC -o "$work/consumer-pkgconfig" "$root/tests/install/consumer/main.cpp" \
  $(pkg-config --cflags --libs tavrin) -Wl,-rpath,"$(pkg-config --variable=libdir tavrin)"
"$work/consumer-pkgconfig"

echo "== installed module and tool tell the same version"
installed_tool=""
if [ $tool_built = yes ]; then
  installed_tool=$prefix/bin/tavrin
fi
cmake -DMODULE="$prefix/$libdir/libtavrin.so" -DVERSION="$version" -DTOOL="$installed_tool" \
  -P "$root/tests/install/check_version.cmake"
if [ -n "$installed_tool" ]; then
  echo "== the installed tool loads the installed module"
  "$installed_tool" read D0 | grep -qx "D0 = 0" || fail "the installed tool cannot read D0 through the installed module"
fi

if [ $check_deb = yes ]; then
  echo "== Debian package"
  "$root/tests/install/check_debian_package.sh" "$build"
fi
echo "test-install: all checks passed"
