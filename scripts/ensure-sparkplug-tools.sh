#!/usr/bin/env bash
# Installs the Sparkplug B test tools (npm's sparkplug-payload, as locked in
# tests/gateway/sparkplug/package-lock.json) outside the clone, where the
# gateway's Sparkplug tests look for them: DIR, or by default
# ~/.cache/tavrin/sparkplug-tools. Again only when the lock file changed.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)/tests/gateway/sparkplug"
dir=${1:-${HOME}/.cache/tavrin/sparkplug-tools}
mkdir -p "$dir"
if [ -d "$dir/node_modules/sparkplug-payload" ] && cmp -s "$src/package-lock.json" "$dir/package-lock.json"; then
  exit 0
fi
cp "$src/package.json" "$src/package-lock.json" "$dir/"
(cd "$dir" && npm ci --no-audit --no-fund --ignore-scripts >/dev/null)
echo "Sparkplug B test tools installed in $dir"
