#!/usr/bin/env bash
# Sanitizer runs: the whole test suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan), then under ThreadSanitizer
# (build-tsan) the concurrency stress test, the virtual PLC's servers, the
# host runtime with the tool, and the gateway with its faces. Any report
# fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-sparkplug-tools.sh   # the gateway's Sparkplug B tests decode with it

asan_dir=${ASAN_BUILD_DIR:-build-asan}
tsan_dir=${TSAN_BUILD_DIR:-build-tsan}
jobs=$(nproc)

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# Qt 6 annotates its mutexes for ThreadSanitizer in its headers; what Qt
# Core hands over inside the library is listed in tests/tsan.supp. The tool
# runs as a child of the tests: a fork of a threaded process is allowed.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=$PWD/tests/tsan.supp"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: whole suite ($asan_dir)"
cmake -S . -B "$asan_dir" -DCMAKE_BUILD_TYPE=Debug -DTAVRIN_SANITIZE_ADDRESS=ON -DTAVRIN_BUILD_TESTS=ON \
  -DTAVRIN_BUILD_HOST=ON >/dev/null
cmake --build "$asan_dir" -j "$jobs"
# The install tests build outside consumers against the installed module;
# they check packaging, and an uninstrumented consumer cannot load an
# instrumented module, so they run in the normal build only.
ctest --test-dir "$asan_dir" --no-tests=error --output-on-failure -j "$jobs" -LE install

echo "== ThreadSanitizer: concurrency stress, servers, host runtime, tool and gateway ($tsan_dir)"
cmake -S . -B "$tsan_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_SANITIZE_THREAD=ON -DTAVRIN_BUILD_TESTS=ON \
  -DTAVRIN_BUILD_HOST=ON >/dev/null
cmake --build "$tsan_dir" -j "$jobs" --target tavrin_stress_tests tavrin_sim_tests tavrin_runtime_tests \
  tavrin_tool_tests tavrin_gateway_tests tavrin_tool
# One process per test, as ctest runs them: objects of one test reuse the
# addresses of the last one's, whose locks and threads ended in Qt's sight
# only.
for program in tavrin_stress_tests tavrin_sim_tests tavrin_runtime_tests tavrin_tool_tests tavrin_gateway_tests; do
  for test in $("$tsan_dir/tests/$program" --gtest_list_tests | awk '/^[^ ]/ {suite=$1} /^  / {print suite $1}'); do
    "$tsan_dir/tests/$program" --gtest_filter="$test" --gtest_brief=1 >/dev/null || {
      echo "ThreadSanitizer: $program $test failed"
      "$tsan_dir/tests/$program" --gtest_filter="$test"
      exit 1
    }
  done
done
echo "ThreadSanitizer: every test clean"
