#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing;
# with --tests also the independent clients the tests run (mbpoll, and
# chromium for the gateway's web page).
set -euo pipefail

packages=(
  cmake g++ clang make pkg-config dpkg-dev file
  qt6-base-dev qt6-serialport-dev qt6-serialbus-dev qt6-httpserver-dev qt6-websockets-dev
  qtbase5-dev libqt5serialport5-dev libqt5serialbus5-dev
  libgtest-dev libbenchmark-dev libclang-rt-14-dev
  libyaml-cpp-dev libmosquitto-dev mosquitto mosquitto-clients
  libsqlite3-dev libprotobuf-dev protobuf-compiler
)
if [ "${1:-}" = --tests ]; then
  packages+=(mbpoll chromium nodejs)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them as root: apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
