#!/usr/bin/env bash
# Builds and runs every test: the debug suite with warnings as errors, the
# whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer and
# under ThreadSanitizer, and the fuzzers for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."

for preset in dev gcc-release asan-ubsan tsan; do
  echo "=== workflow: $preset"
  cmake --workflow --preset "$preset"
done

if [ -x fuzz/run.sh ]; then
  echo "=== workflow: fuzz"
  cmake --workflow --preset fuzz
  fuzz/run.sh build/fuzz
fi
echo "=== all test runs passed"
