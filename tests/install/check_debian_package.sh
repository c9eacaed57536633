#!/usr/bin/env bash
# Runs cpack in a built tree and checks the Debian package it makes: the
# module with its SONAME link, the public headers, the CMake and pkg-config
# files and the tavrin tool are in it, and its control fields are right.
# cpack first builds the tree's preinstall target (everything), so run it on
# a tree that is built already.
# Usage: tests/install/check_debian_package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)

fail() { echo "check-debian-package: $*" >&2; exit 1; }
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v $tool >/dev/null || fail "$tool is not installed"
done

version=$(sed -n 's/^#define TAVRIN_VERSION_STRING "\(.*\)"/\1/p' "$build/driver/generated/tavrin_version.h")
[ -n "$version" ] || fail "no version in $build/driver/generated/tavrin_version.h"
major=${version%%.*}

work=$(mktemp -d "${TMPDIR:-/tmp}/tavrin-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
if ! (cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1); then
  cat "$work/cpack.log" >&2
  fail "cpack failed"
fi
deb=$(ls "$work"/*.deb)
name=$(basename "$deb")

contents=$(dpkg-deb -c "$deb")
expect_in_deb() { grep -q -- "$1\$" <<<"$contents" || fail "$name lacks $1"; }
expect_in_deb "/libtavrin.so.$version"
expect_in_deb "/libtavrin.so.$major -> libtavrin.so.$version"
expect_in_deb "/include/tavrin/tavrin.h"
expect_in_deb "/include/tavrin/tavrin_export.h"
expect_in_deb "/include/tavrin/tavrin_port_bytes.h"
expect_in_deb "/include/tavrin/tavrin_version.h"
expect_in_deb "/cmake/Tavrin/TavrinConfig.cmake"
expect_in_deb "/cmake/Tavrin/TavrinConfigVersion.cmake"
expect_in_deb "/pkgconfig/tavrin.pc"
# The tool is in the package when the tree has an install rule for it.
if grep -q 'TYPE EXECUTABLE FILES' "$build/cmake_install.cmake"; then
  expect_in_deb "/bin/tavrin"
fi

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tavrin ] || fail "package name $(field Package)"
[ "$(field Version)" = "$version" ] || fail "package version $(field Version), not $version"
[ "$(field Maintainer)" = "Tavrin developers" ] || fail "maintainer $(field Maintainer)"
grep -q 'libqt[56]core' <<<"$(field Depends)" || fail "$name does not depend on Qt Core: $(field Depends)"
echo "   $name: Depends: $(field Depends)"
