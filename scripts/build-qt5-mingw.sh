#!/usr/bin/env bash
# Builds Qt 5 Core for Windows with the mingw-w64 cross compiler (posix
# threads) from Debian's own Qt 5 source package, and keeps it in a cache
# outside the clone, so that a machine builds it once:
#
#   ${TAVRIN_CACHE:-/var/cache/tavrin}/qt5-mingw-<arch>/<qt source version>_gcc-<compiler version>
#
# Only the Core module is built (no GUI): that is all the module links.
# Prints the installed prefix as its last line of output; CMake finds Qt5Core
# under <prefix>/lib/cmake. Usage: scripts/build-qt5-mingw.sh [i686|x86_64]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

arch=${1:-i686}
case "$arch" in
  i686|x86_64) ;;
  *) echo "build-qt5-mingw: architecture must be i686 or x86_64, not '$arch'" >&2; exit 2 ;;
esac
triplet=$arch-w64-mingw32
cache=${TAVRIN_CACHE:-/var/cache/tavrin}
jobs=${TAVRIN_JOBS:-2}

scripts/ensure-windows-deps.sh "$arch" >&2

version=$(scripts/qt5-source.sh version)
compiler=$("$triplet-g++" -dumpversion)
prefix=$cache/qt5-mingw-$arch/${version}_gcc-$compiler
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

say() { echo "build-qt5-mingw: $*" >&2; }
start=$(date +%s)
mkdir -p "$cache/src" "$cache/work"
src=
src=$(scripts/qt5-source.sh unpack "$cache/src")
work=$(mktemp -d "$cache/work/qt5-mingw-$arch.XXXXXX")
staging=$prefix.partial
rm -rf "$staging"
# A failed build leaves its folder for a look at its logs; the next run
# starts a new one.
trap 'rm -rf "$staging"; [ -z "$src" ] || rm -rf "$(dirname "$src")"' EXIT

# Each step's output goes to a log in the work folder; a failing step shows
# its end and leaves the folder for a look.
run() {
  local log=$work/$1; shift
  "$@" >> "$log" 2>&1 || { tail -40 "$log" >&2; say "failed: $*; logs in $work"; exit 1; }
}

say "configuring Qt $version Core for $triplet in $work"
cd "$work"
# configure builds qmake first; a parallel make halves its time.
run configure.log env MAKEFLAGS=-j"$jobs" "$src/configure" -prefix "$staging" \
  -opensource -confirm-license \
  -xplatform win32-g++ -device-option CROSS_COMPILE="$triplet-" \
  -release -shared -no-pch \
  -no-gui -no-widgets -no-opengl -no-dbus -no-icu -no-openssl -no-feature-sql \
  -qt-zlib -qt-pcre -qt-doubleconversion \
  -nomake examples -nomake tests
configured=$(date +%s)
say "configured in $(( configured - start )) s; building Core"

# Only the Core library and what it needs (the bootstrap library, moc, rcc,
# the WinMain helper); the mkspecs are installed too, since the CMake package
# of Qt5Core names the win32-g++ mkspec folder and checks that qmake is there.
run build.log make sub-src-qmake_all
run build.log make -C src -j"$jobs" sub-corelib sub-winmain
run build.log make -C src sub-moc-install_subtargets sub-rcc-install_subtargets \
  sub-corelib-install_subtargets sub-winmain-install_subtargets
run build.log make install_mkspecs sub-qmake-qmake-aux-pro-install_subtargets
cd "$root"
say "built and installed in $(( $(date +%s) - configured )) s"

test -f "$staging/bin/Qt5Core.dll" || { say "no Qt5Core.dll in $staging/bin"; exit 1; }
test -f "$staging/lib/cmake/Qt5Core/Qt5CoreConfig.cmake" || { say "no CMake package in $staging"; exit 1; }
echo "Qt $version Core for $triplet, built with $triplet-g++ $compiler in $(( $(date +%s) - start )) s" \
  > "$staging/.complete"
rm -rf "$prefix"
mv "$staging" "$prefix"
rm -rf "$work"
say "$(cat "$prefix/.complete")"
echo "$prefix"
