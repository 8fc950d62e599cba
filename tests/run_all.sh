#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test: the debug suite with warnings as errors, the
# whole suite again built by g++ -O3 with warnings as errors, in the
# constant-time build, under AddressSanitizer and UndefinedBehaviorSanitizer
# and under ThreadSanitizer, and the fuzzers for a bounded time. The valgrind
# check for secret-dependent branches and addresses is one of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x fuzz/run.sh ] || { echo "run_all.sh: fuzz/run.sh is missing or not executable; the fuzzers cannot run" >&2; exit 1; }

for preset in dev gcc-release ct asan-ubsan tsan; do
  echo "=== workflow: $preset"
  cmake --workflow --preset "$preset"
done

echo "=== workflow: fuzz"
cmake --workflow --preset fuzz
fuzz/run.sh build/fuzz
echo "=== all test runs passed"
