#!/usr/bin/env bash
# Long fuzzing: runs the libFuzzer targets for SECONDS each (default 900),
# PARALLEL at a time (default 1), keeping what they learn in a growing
# corpus under build-fuzz/corpus-long/<target>. Crashes land in
# build-fuzz/artifacts/; turn each into a regression test and, once fixed,
# copy the input into fuzz/corpus/<target>/.
#   scripts/fuzz-long.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${1:-900}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_replies fuzz_address_tools fuzz_host_calls fuzz_request_parser)
parallel=${PARALLEL:-1}

cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVRIN_BUILD_FUZZERS=ON -DTAVRIN_BUILD_TESTS=OFF -DTAVRIN_BUILD_HOST=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"
mkdir -p "$dir/artifacts"

run_one() {
  local target=$1
  local corpus="$dir/corpus-long/$target"
  mkdir -p "$corpus"
  echo "== $target: ${seconds}s, log in $dir/$target.log"
  "$dir/fuzz/$target" "$corpus" "fuzz/corpus/$target" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -artifact_prefix="$dir/artifacts/$target-" -print_final_stats=1 \
    >"$dir/$target.log" 2>&1
}

failed=0
pids=()
for target in "${targets[@]}"; do
  run_one "$target" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$parallel" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do
  wait "$pid" || failed=1
done

for target in "${targets[@]}"; do
  echo "-- $target: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$dir/$target.log" | tail -1)"
done
ls "$dir/artifacts" 2>/dev/null | sed 's/^/artifact: /'
exit "$failed"
