#!/usr/bin/env bash
# Builds and runs every test:
#   1. the whole suite in the normal build (build/), install and package checks included;
#   2. the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, and the
#      threaded parts (stress test, virtual PLC, host runtime, gateway) under
#      ThreadSanitizer;
#   3. a short regression run of every fuzz target over its corpus;
#   4. the whole suite against Qt 5.15 (build-qt5/);
#   5. the 32-bit Linux module against Qt 5.15 i386 (build-i686/): its suite,
#      the host's 32-bit record layout, and a 32-bit host of its own;
#   6. the 32-bit Windows DLL (build-win32/): its export table, the
#      integrators' zip, and its hosts under wine (Qt 5 Core for mingw is
#      built once into the cache outside the clone).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh --tests
scripts/ensure-sparkplug-tools.sh

stage() { echo; echo "==== $* ($(date +%H:%M:%S))"; }

stage "normal build: whole suite"
scripts/build.sh build -DTAVRIN_BUILD_TESTS=ON   # demo.sh builds the same tree without them
ctest --test-dir build --no-tests=error --output-on-failure -j "$(nproc)"

stage "sanitizers"
scripts/test-sanitizers.sh

stage "fuzz regression"
scripts/test-fuzz.sh

stage "Qt 5.15 build: whole suite"
scripts/test-qt5.sh

stage "32-bit module (Qt 5 i386): module suite and the host's record layout"
scripts/test-32bit.sh

stage "Windows DLL (mingw, Qt 5 Core cross-built): exports, zip, ABI tests under wine"
scripts/test-windows.sh
