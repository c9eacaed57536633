#!/usr/bin/env bash
# Installs the Debian packages the Windows build and its tests need, when
# they are missing: the mingw-w64 cross compiler with posix threads, wine
# with its 32-bit half (i386 through multiarch), zip for the integrators'
# archive and dpkg-dev for unpacking Qt's source package.
# Usage: scripts/ensure-windows-deps.sh [i686|x86_64]
set -euo pipefail
cd "$(dirname "$0")/.."

arch=${1:-i686}
packages=(g++-mingw-w64-"${arch//_/-}"-posix wine zip unzip cmake dpkg-dev make perl binutils qtbase5-dev)
if [ "$arch" = i686 ]; then
  packages+=(wine32:i386)
else
  packages+=(wine64)
fi
exec scripts/ensure-packages.sh "${packages[@]}"
