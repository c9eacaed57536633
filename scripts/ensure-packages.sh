#!/usr/bin/env bash
# Installs the given Debian packages when they are missing (checked with
# dpkg-query; apt-get update runs only then). A package named with :i386
# adds the i386 architecture to dpkg first (multiarch). With
# --with-recommends first, the packages' recommendations come too.
set -euo pipefail

recommends=--no-install-recommends
if [ "${1:-}" = --with-recommends ]; then
  recommends=--install-recommends
  shift
fi

missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them as root: apt-get install ${missing[*]}" >&2
  exit 1
fi
for p in "${missing[@]}"; do
  case "$p" in
    *:i386)
      if ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "Adding the i386 architecture (multiarch)"
        dpkg --add-architecture i386
      fi ;;
  esac
done
echo "Installing: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$recommends" "${missing[@]}" >/dev/null
