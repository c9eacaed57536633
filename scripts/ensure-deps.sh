#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing;
# with --tests also the independent clients the tests run (mbpoll, and
# chromium for the gateway's web page).
set -euo pipefail

packages=(
  cmake g++ clang make pkg-config dpkg-dev file binutils
  qt6-base-dev qt6-serialport-dev qt6-serialbus-dev qt6-httpserver-dev qt6-websockets-dev
  qtbase5-dev libqt5serialport5-dev libqt5serialbus5-dev
  libgtest-dev libbenchmark-dev libclang-rt-14-dev
  libyaml-cpp-dev libmosquitto-dev mosquitto mosquitto-clients
  libsqlite3-dev libprotobuf-dev protobuf-compiler
)
if [ "${1:-}" = --tests ]; then
  packages+=(mbpoll chromium nodejs)
fi

exec "$(dirname "$0")/ensure-packages.sh" --with-recommends "${packages[@]}"
