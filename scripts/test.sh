#!/usr/bin/env bash
# Builds and runs every test: the whole suite in the normal build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$(nproc)"
