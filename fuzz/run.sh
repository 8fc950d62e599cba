#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every fuzz target for a bounded time, about 60 s in all, each on a
# copy of its committed seed corpus inside the build directory (the committed
# corpus is never modified). Exits non-zero when a target finds a crash; the
# crashing input is left in <build dir>/fuzz-artifacts/.
#   fuzz/run.sh build/fuzz          (after: cmake --workflow --preset fuzz)
set -euo pipefail
build=$(cd "${1:?usage: $0 <fuzz build dir>}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
total_seconds=${VELK_FUZZ_SECONDS:-60}

targets=(velkfile_reader tr31_unwrap)
per_target=$(( total_seconds / ${#targets[@]} ))
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"

for target in "${targets[@]}"; do
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
