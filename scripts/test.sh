#!/usr/bin/env bash
# Builds and runs every test:
#   1. the whole suite in the normal build (build/), install and package checks included;
#   2. the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, and the
#      threaded parts (stress test, virtual PLC, host runtime, gateway) under
#      ThreadSanitizer;
#   3. a short regression run of every fuzz target over its corpus;
#   4. the whole suite against Qt 5.15 (build-qt5/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh --tests

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
