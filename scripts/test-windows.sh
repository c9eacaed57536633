#!/usr/bin/env bash
# The module as a 32-bit Windows DLL: tavrin.dll built with the mingw-w64
# cross compiler (i686, posix threads) against Qt 5 Core cross-built from
# Debian's own Qt 5 source (scripts/build-qt5-mingw.sh, cached outside the
# clone), in build-win32/ (or DIR). Then
#   - the export table (objdump -p) holds exactly the 14 entry points and the
#     Tavrin constructor;
#   - cpack makes the integrators' zip, which holds the DLL, its import
#     library and .def, Qt5Core.dll and the mingw runtime DLLs it needs
#     (every lib*.dll and Qt*.dll any of them imports), and the headers;
#   - under wine, from the unpacked zip: the 32-bit host of its own
#     (tests/layout_host, its records declared from the documented layout)
#     loads tavrin.dll by name and checks records, a read and a write
#     request and a reply decoded into the image; and a host built against
#     the zip's CMake package and import library (dllimport) calls the DLL.
# The wine prefix lives in the cache folder too (WINEDEBUG=-all).
# Usage: scripts/test-windows.sh [DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath -m "${1:-build-win32}")
jobs=${TAVRIN_JOBS:-$(nproc)}
cache=${TAVRIN_CACHE:-/var/cache/tavrin}
triplet=i686-w64-mingw32
toolchain=$root/cmake/toolchain-$triplet.cmake
fail() { echo "test-windows: $*" >&2; exit 1; }
step() { echo "== $* ($(date +%H:%M:%S))"; }

scripts/ensure-windows-deps.sh i686
step "Qt 5 Core for $triplet"
qt=$(scripts/build-qt5-mingw.sh i686 | tail -n1)
cat "$qt/.complete"

step "tavrin.dll"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DTAVRIN_MINGW_QT="$qt" \
  -DCMAKE_BUILD_TYPE=Release -DTAVRIN_QT_VERSION=5 >/dev/null
cmake --build "$build" -j "$jobs"
dll=$build/driver/tavrin.dll
[ -f "$dll" ] || fail "no $dll"
file "$dll" | grep -q 'PE32 executable (DLL).*Intel 80386' || fail "not a 32-bit DLL: $(file "$dll")"

step "export table"
exports() { "$triplet-objdump" -p "$1" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] \(.*\)$/\1/p' | sort; }
imports() { "$triplet-objdump" -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
exports "$dll" | sed 's/^/   /'
expected=$(printf '%s\n' SetComInfo FlashLocalRegister RegistCallBackFuncIntf AddListReadVar \
  AddListWriteVar AddListOnceReadVar ReCreatReadVarList ComCommunication DataCom GetRegisterData \
  SetRegisterData AddrStringToInt CheckAddrCorrect AddrMutilCopy _ZN6TavrinC1Ev | sort)
[ "$(exports "$dll")" = "$expected" ] || {
  diff <(echo "$expected") <(exports "$dll") >&2 || true
  fail "the export table is not the 14 entry points and the constructor (- expected, + found)"
}
strings "$dll" | grep -x 'Tavrin module version [0-9.]*' >/dev/null || fail "no version string in $dll"

step "integrators' zip"
(cd "$build" && cpack -G ZIP >/dev/null)
zip=$(ls "$build"/tavrin-*-win32-mingw-qt5.zip)
unpacked=$build/unpacked
rm -rf "$unpacked" && mkdir -p "$unpacked"
unzip -q "$zip" -d "$unpacked"
top=$(ls -d "$unpacked"/tavrin-*)
for f in bin/tavrin.dll bin/Qt5Core.dll bin/libstdc++-6.dll bin/libgcc_s_dw2-1.dll bin/libwinpthread-1.dll \
         lib/libtavrin.dll.a lib/tavrin.def include/tavrin/tavrin.h include/tavrin/tavrin_export.h \
         include/tavrin/tavrin_version.h lib/cmake/Tavrin/TavrinConfig.cmake; do
  [ -f "$top/$f" ] || fail "$(basename "$zip") lacks $f"
done
for f in "$top"/bin/*.dll; do
  for needed in $(imports "$f" | grep -iE '^(lib.*|qt.*)\.dll$' || true); do
    [ -f "$top/bin/$needed" ] || fail "$(basename "$f") needs $needed, which is not in the zip"
  done
done
[ "$(exports "$top/bin/tavrin.dll")" = "$expected" ] || fail "the zip's tavrin.dll exports other names"
echo "   $(basename "$zip"): $(cd "$top" && find . -type f | sort | tr '\n' ' ')"

step "hosts built for Windows"
cmake -S tests/layout_host -B "$build/layout_host" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DTAVRIN_MINGW_QT="$qt" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/layout_host" -j "$jobs"
cmake -S tests/install/consumer -B "$build/consumer" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DTAVRIN_MINGW_QT="$qt" -DCMAKE_PREFIX_PATH="$top" -DCMAKE_BUILD_TYPE=Release \
  -DTAVRIN_WANTED_VERSION=1.0 >/dev/null
cmake --build "$build/consumer" -j "$jobs"

step "under wine"
export WINEPREFIX=$cache/wine-win32 WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "   creating the wine prefix $WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] || fail "wine made no prefix in $WINEPREFIX"
fi
# The hosts run from the zip's bin folder, beside the DLLs as shipped.
cp "$build/layout_host/layout_host.exe" "$build/consumer/tavrin_consumer.exe" "$top/bin/"
out=$(cd "$top/bin" && wine layout_host.exe tavrin 2>&1 | tr -d '\r') || { echo "$out"; fail "layout_host failed under wine"; }
echo "$out"
echo "$out" | tail -n1 | grep -qE '^[0-9]+ passed, 0 failed$' || fail "layout_host did not pass"
out=$(cd "$top/bin" && wine tavrin_consumer.exe 2>&1 | tr -d '\r') || { echo "$out"; fail "the consumer failed under wine"; }
echo "   $out"
echo "$out" | grep -q 'X17 is register index 15' || fail "the consumer did not call the DLL"
rm "$top/bin/layout_host.exe" "$top/bin/tavrin_consumer.exe"
echo "test-windows: all checks passed"
