#!/usr/bin/env bash
# The main job: builds the module and the tavrin tool, then runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
scripts/build.sh build -DTAVRIN_BUILD_TESTS=OFF
if [ -x build/tool/tavrin ]; then
  exec build/tool/tavrin demo "$@"
fi
echo "Built the Tavrin module: $(readlink -f build/driver/libtavrin.so)"
