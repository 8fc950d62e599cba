#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every fuzz target for a bounded time, about 110 s in all, each on a
# copy of its committed seed corpus inside the build directory (the committed
# corpus is never modified). Exits non-zero when a target finds a crash; the
# crashing input is left in <build dir>/fuzz-artifacts/.
#   fuzz/run.sh build/fuzz          (after: cmake --workflow --preset fuzz)
set -euo pipefail
build=$(cd "${1:?usage: $0 <fuzz build dir>}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

# Each target with its share of the time in seconds; VELK_FUZZ_SECONDS
# scales the shares to another total.
targets=(velkfile_reader:30 tr31_unwrap:30 pay_pin_block:15 pay_cli:25 key_text:10)
share_total=0
for entry in "${targets[@]}"; do
  share_total=$(( share_total + ${entry#*:} ))
done
total_seconds=${VELK_FUZZ_SECONDS:-$share_total}
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"

for entry in "${targets[@]}"; do
  target=${entry%%:*}
  per_target=$(( ${entry#*:} * total_seconds / share_total ))
  [ "$per_target" -ge 1 ] || per_target=1
  binary="$build/fuzz/$target"
  [ -x "$binary" ] || { echo "fuzz: $binary not built" >&2; exit 1; }
  work="$build/fuzz-corpus/$target"
  rm -rf "$work"
  mkdir -p "$work"
  cp "$here/corpus/$target/"* "$work/"
  echo "=== fuzz: $target for ${per_target}s"
  "$binary" -max_total_time="$per_target" -max_len=4096 -timeout=20 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 "$work"
done
echo "=== fuzz: no crash"
