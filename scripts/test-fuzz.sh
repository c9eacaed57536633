#!/usr/bin/env bash
# Fuzz regression: builds the libFuzzer targets with clang++ (build-fuzz)
# and runs each over its committed seed corpus plus a short exploration,
# FUZZ_SECONDS each (default 20). A crash, a sanitizer report or a broken
# invariant fails the run; the input is saved under build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-20}
targets=(fuzz_replies fuzz_address_tools fuzz_host_calls fuzz_request_parser fuzz_reply_pairing)

cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVRIN_BUILD_FUZZERS=ON -DTAVRIN_BUILD_TESTS=OFF -DTAVRIN_BUILD_HOST=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}" >"$dir/build.log" 2>&1 ||
  { tail -n 60 "$dir/build.log" >&2; exit 1; }

mkdir -p "$dir/artifacts"
for target in "${targets[@]}"; do
  echo "== $target: ${seconds}s"
  # New inputs go to a scratch directory; the committed corpus stays as it is.
  scratch=$(mktemp -d)
  log="$dir/$target.log"
  status=0
  "$dir/fuzz/$target" "$scratch" "fuzz/corpus/$target" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -artifact_prefix="$dir/artifacts/$target-" -print_final_stats=1 >"$log" 2>&1 || status=$?
  rm -rf "$scratch"
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|peak_rss_mb)' "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "$target failed (exit $status); the input is in $dir/artifacts/" >&2
    exit "$status"
  fi
done
