#!/usr/bin/env bash
# Builds the whole tree against Qt 5.15 in build-qt5/ and runs every test
# there: the module, the tool and the tests must keep working for hosts that
# still run on Qt 5. Extra arguments go to cmake (e.g. -DTAVRIN_BUILD_HOST=OFF).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh --tests
scripts/ensure-sparkplug-tools.sh
scripts/build.sh build-qt5 -DTAVRIN_QT_VERSION=5 -DTAVRIN_BUILD_TESTS=ON "$@"
# Into a variable first: grep -q stops reading early, and under pipefail the
# writer's broken pipe would read as a failed check.
libraries=$(ldd build-qt5/driver/libtavrin.so)
if ! grep -q 'libQt5Core' <<<"$libraries"; then
  echo "test-qt5: build-qt5/driver/libtavrin.so is not linked against Qt 5" >&2
  exit 1
fi
ctest --test-dir build-qt5 --no-tests=error --output-on-failure -j "$(nproc)"
