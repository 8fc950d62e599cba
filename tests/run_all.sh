#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test: the debug suite with warnings as errors, the
# whole suite again built by g++ -O3 with Debian's build flags and warnings
# as errors, in the constant-time build, under AddressSanitizer and
# UndefinedBehaviorSanitizer and under ThreadSanitizer, the README's release
# build with its own tests,
# and the fuzzers for a bounded time. Then the other targets, cross-built by
# Debian's compilers, optimised, with warnings as errors and without
# benchmarks: aarch64 and big-endian s390x with their tests under qemu-user,
# 32-bit x86 run natively (with a file over 2 GiB through velkfile, and its
# constant-time build only for the valgrind check; under qemu-i386 where the
# kernel cannot run 32-bit programs, the valgrind check skipped), and the
# Windows DLL, whose exports are checked. Last, the Debian packages are
# built, linted and tried in a throw-away root. The valgrind check for
# secret-dependent branches and addresses is one of the tests. The time of
# each suite is listed at the end, and last the tests ctest ran in all the
# suites together: passed, failed and skipped.
#
#   tests/run_all.sh           everything, as CI and the README run it
#   tests/run_all.sh --quick   the day-to-day loop: the debug suite and the
#                              sanitizer suites only
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
case "${1:-}" in
  "") ;;
  --quick) quick=1 ;;
  *) echo "usage: tests/run_all.sh [--quick]" >&2; exit 2 ;;
esac
# ctest runs as many tests at once as there are processors (the tests that
# must run alone say so, and the install tests wait for their fixture), unless
# CTEST_PARALLEL_LEVEL says otherwise.
export CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-$(nproc)}"
[ -x fuzz/run.sh ] || { echo "run_all.sh: fuzz/run.sh is missing or not executable; the fuzzers cannot run" >&2; exit 1; }

log=$(mktemp)
trap 'rm -f "$log"' EXIT
timings=()
passed=0 failed=0 skipped=0
# suite NAME COMMAND...: runs one suite, notes how long it took and adds up
# the closing counts of every ctest run in it (ctest_totals.awk).
suite() {
  local name=$1 start=$SECONDS counts p f s
  shift
  echo "=== $name"
  "$@" 2>&1 | tee "$log"
  timings+=("$(printf '%5d s  %s' $((SECONDS - start)) "$name")")
  counts=$(awk -f tests/ctest_totals.awk "$log")
  read -r p f s <<<"$counts"
  passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
}
workflow() { cmake --workflow --preset "$1"; }
# The optimised g++ suite, built with the flags a Debian package build gives
# as well (dpkg-buildflags with every hardening feature: _FORTIFY_SOURCE,
# which turns on -Wunused-result, the stack protector,
# -Werror=format-security, ...), CPPFLAGS added to the compile flags as dh's
# cmake build does; the Release build type's -O3 comes after Debian's -O2 and
# wins. CMake reads CFLAGS, CXXFLAGS and LDFLAGS at a fresh configure.
gcc_release() {
  local get="env DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get"
  CFLAGS="$($get CFLAGS) $($get CPPFLAGS)" CXXFLAGS="$($get CXXFLAGS) $($get CPPFLAGS)" \
    LDFLAGS="$($get LDFLAGS)" cmake --workflow --preset gcc-release --fresh
}
release() { cmake --workflow --preset release && ctest --preset release; }
fuzz() { cmake --workflow --preset fuzz && fuzz/run.sh build/fuzz; }
mingw() {
  cmake --workflow --preset mingw
  cmake -DLIB=build/mingw/lib/libvelkcore.dll -DOBJDUMP=x86_64-w64-mingw32-objdump \
        -DEXPECTED_FILE=lib/exports.txt -DCOUNT=27 -P tests/core/check_exports.cmake
}

# totals: the closing lines, after the suites have run.
totals() {
  echo "=== time of each suite"
  printf '%s\n' "${timings[@]}"
  echo "=== all test runs passed"
  echo "ctest: $passed passed, $failed failed, $skipped skipped"
}

if [ "$quick" = 1 ]; then
  for preset in dev asan-ubsan tsan; do
    suite "workflow: $preset" workflow "$preset"
  done
  totals
  exit 0
fi

suite "workflow: dev" workflow dev
suite "workflow: gcc-release (g++ -O3 with Debian's build flags, warnings as errors)" gcc_release
for preset in ct asan-ubsan tsan; do
  suite "workflow: $preset" workflow "$preset"
done
suite "release build and its tests" release
suite "fuzz" fuzz
for preset in aarch64 s390x i686-ct i686; do
  suite "cross workflow: $preset" workflow "$preset"
done
suite "mingw-w64: libvelkcore.dll and its exports" mingw
# The Debian packages: built, checked with lintian, tried in a throw-away root.
suite "Debian packages" tests/debian_packages.sh

totals
