#!/usr/bin/env bash
# Debian's Qt 5 base source package, of the same version as the installed
# qtbase5-dev, fetched with apt-get source from the deb-src lines of the
# machine's own Debian mirror (added when missing).
#
#   scripts/qt5-source.sh version        prints the source version
#   scripts/qt5-source.sh unpack DIR     downloads it into DIR/<version>/ once,
#                                        unpacks it (Debian patches applied)
#                                        into a fresh folder there and prints it
set -euo pipefail

package=qtbase-opensource-src
version=$(dpkg-query -W -f='${source:Version}\n' qtbase5-dev 2>/dev/null | head -n1 || true)
if [ -z "$version" ]; then
  version=$(apt-cache show qtbase5-dev | sed -n 's/^Version: //p' | head -n1)
fi
[ -n "$version" ] || { echo "qt5-source: no qtbase5-dev version known to dpkg or apt" >&2; exit 1; }

case "${1:-}" in
  version) echo "$version"; exit 0 ;;
  unpack) [ $# -eq 2 ] || { echo "usage: $0 unpack DIR" >&2; exit 2; } ;;
  *) echo "usage: $0 version | unpack DIR" >&2; exit 2 ;;
esac

# deb-src entries for the Debian archives the machine already uses, beside
# its own entries (deb822 .sources files and one-line sources.list alike).
have_source() { apt-cache showsrc --only-source "$package" 2>/dev/null | grep -x "Version: $version" >/dev/null; }
if ! have_source; then
  added=
  if [ ! -f /etc/apt/sources.list.d/tavrin-deb-src.sources ]; then
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] && [ "$f" != /etc/apt/sources.list.d/tavrin-deb-src.sources ] || continue
      # One stanza per paragraph: the enabled Debian ones, as deb-src.
      awk 'BEGIN { RS = ""; ORS = "\n\n" }
           /(^|\n)Types:[^\n]*deb/ && /(^|\n)URIs:[^\n]*debian/ && !/(^|\n)Enabled: *no/ {
             sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f"
    done > /etc/apt/tavrin-deb-src.sources.new
    mv /etc/apt/tavrin-deb-src.sources.new /etc/apt/sources.list.d/tavrin-deb-src.sources
    added=1
  fi
  if [ -f /etc/apt/sources.list ] && [ ! -f /etc/apt/sources.list.d/tavrin-deb-src.list ]; then
    sed -n 's/^deb \(.*debian.*\)$/deb-src \1/p' /etc/apt/sources.list > /etc/apt/sources.list.d/tavrin-deb-src.list
    added=1
  fi
  [ -n "$added" ] && echo "qt5-source: added deb-src entries in /etc/apt/sources.list.d/tavrin-deb-src.*" >&2
  apt-get update -qq >&2
  have_source || { echo "qt5-source: the apt sources offer no $package $version" >&2; exit 1; }
fi

dir=$2/$version
mkdir -p "$dir"
if [ ! -f "$dir/.downloaded" ]; then
  (cd "$dir" && apt-get source --download-only -qq "$package=$version" >&2)
  touch "$dir/.downloaded"
fi
dsc=$(ls "$dir"/"$package"_*.dsc | head -n1)
tree=$(mktemp -d "$dir/tree.XXXXXX")
dpkg-source --no-check -x "$dsc" "$tree/qtbase" >&2
echo "$tree/qtbase"
