#!/usr/bin/env bash
# The module in the host's own 32-bit layout on Linux: builds it with
# Debian's i686 cross compiler against Qt 5.15's i386 packages (multiarch)
# in build-i686/ (or DIR), with the module's test suite and without the
# tool, the gateway and the runtime (TAVRIN_BUILD_HOST=OFF). The public
# header's static_asserts hold VarItem at 60 bytes, HostVarDef at 32 and every
# field at its offset in that build; then
#   - the module's whole suite runs (ctest);
#   - a host of its own (tests/layout_host), built for 32-bit Qt 5 with
#     records declared from the documented layout and not from the module's
#     header, loads the module by name and checks the records across the
#     boundary byte by byte: a read and a write request, a reply decoded
#     into the image, the variable list, the configuration tools.
# Usage: scripts/test-32bit.sh [DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath -m "${1:-build-i686}")
jobs=${TAVRIN_JOBS:-$(nproc)}
toolchain=$root/cmake/toolchain-i686-linux-gnu.cmake

scripts/ensure-packages.sh cmake make file g++-i686-linux-gnu qtbase5-dev:i386 libgtest-dev:i386

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
  -DTAVRIN_QT_VERSION=5 -DTAVRIN_BUILD_HOST=OFF -DTAVRIN_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j "$jobs"

module=$build/driver/libtavrin.so
file -L "$module" | grep "ELF 32-bit LSB shared object, Intel 80386" >/dev/null ||
  { echo "test-32bit: $module is not a 32-bit x86 module: $(file -L "$module")" >&2; exit 1; }
ldd "$module" | grep 'i386-linux-gnu/.*libQt5Core' >/dev/null ||
  { echo "test-32bit: $module is not linked against the i386 Qt 5 Core" >&2; exit 1; }
echo "test-32bit: $(file -L "$module" | cut -d: -f2- | cut -d, -f1-2)"

ctest --test-dir "$build" --no-tests=error --output-on-failure -j "$jobs"

echo "== a 32-bit host of its own loads the module by name"
cmake -S tests/layout_host -B "$build/layout_host" -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
cmake --build "$build/layout_host" -j "$jobs"
out=$(LD_LIBRARY_PATH=$build/driver "$build/layout_host/layout_host" tavrin) || { echo "$out"; exit 1; }
echo "$out"
echo "$out" | tail -n1 | grep -qE '^[0-9]+ passed, 0 failed$'
