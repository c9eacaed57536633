#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs the whole set: the module's
# micro-benchmarks with their targets, the read planner, then the line
# measurement (host runtime against the virtual PLC over a paced
# pseudo-terminal). Takes about four minutes and prints the tables that
# docs/performance.md records.
#
#   scripts/bench.sh [BUILD_DIR]        default build directory: build-bench
#
# Exit status: 0 when every target is met, 2 when one is not, 1 when the
# build or a program failed.
set -uo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-bench}

scripts/ensure-deps.sh || exit 1
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DTAVRIN_BUILD_BENCHMARKS=ON -DTAVRIN_BUILD_TESTS=OFF \
  >/dev/null || exit 1
cmake --build "$dir" -j "$(nproc)" --target tavrin_bench tavrin_line_efficiency tavrin_planner_bench tavrin_gateway_scale >/dev/null || exit 1

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo "Tavrin benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), ${cpu}, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo

status=0
run() {
  "$@"
  local rc=$?
  if [ $rc -eq 2 ] && [ $status -eq 0 ]; then status=2; fi
  if [ $rc -ne 0 ] && [ $rc -ne 2 ]; then status=1; fi
}

echo "== The module's code (CPU time per operation; allocs/op counted by a replaced malloc)"
run "$dir/bench/tavrin_bench" --benchmark_min_time=0.5
echo
echo "== The read planner (CPU time per plan over five runs; its plans' scans against the module's rule)"
run "$dir/bench/tavrin_planner_bench" --benchmark_repetitions=5
echo
echo "== The line"
run "$dir/bench/tavrin_line_efficiency"
echo
echo "== The gateway: 8 lines x 300 tags to MQTT"
run "$dir/bench/tavrin_gateway_scale"
echo
echo "== Poll classes: one 9600-baud line, 20 of its 300 tags every 200 ms"
run "$dir/bench/tavrin_gateway_scale" --lines 1 --baud 9600 --fast 20 --stride 2 --fast-every 200 --changes 160 --rate 4
echo
echo "== The line at 115200 baud with the host's and the PLC's threads on any core (for comparison, not judged)"
"$dir/bench/tavrin_line_efficiency" --bauds 115200 --count-sizes 16 --answer-delays "" --spread | sed -n '/Measured/,/^$/p'
exit $status
