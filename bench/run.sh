#!/usr/bin/env bash
# Builds the bench preset (the release build with the benchmarks), runs every
# benchmark beside its OpenSSL peer (repetitions, medians), then times
# velkfile against `openssl enc -nopad` on a generated 256 MiB file, both
# directions, ECB and CBC, and prints one ratio table. Repetitions of
# different benchmarks are interleaved at random, so a slow spell of the
# machine does not fall on one side only. Temporary files live in the build
# directory and are removed.
#
#   bench/run.sh                 # everything
#   REPS=5 MIB=256 FILE_REPS=3 MIN_TIME=0.5 bench/run.sh
#       benchmark repetitions, file size, timed runs per file operation and
#       seconds per benchmark repetition; BENCH_FILTER picks benchmarks by
#       regular expression
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench
reps=${REPS:-5}
mib=${MIB:-256}
file_reps=${FILE_REPS:-3}
min_time=${MIN_TIME:-0.5}
filter=${BENCH_FILTER:-.}

cd "$root"
cmake --preset bench >/dev/null
cmake --build --preset bench -j2 >/dev/null

work=$(mktemp -d "$build/bench-run.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "machine:  $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores"
cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
echo "compiler: $("$cxx" --version | head -n 1), flags: $(sed -n 's/^CMAKE_CXX_FLAGS_RELEASE:[A-Z]*=//p' "$build/CMakeCache.txt") (no -march)"
echo "openssl:  $(openssl version)"
echo

"$build/bench/velk_bench" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
    --benchmark_min_time="$min_time" --benchmark_filter="$filter" \
    --benchmark_enable_random_interleaving=true \
    --benchmark_out="$work/bench.json" --benchmark_out_format=json >"$work/bench.txt" 2>&1

# velkfile takes its key and vector as raw bytes; openssl enc as hex.
key="velk bench key 24 bytes!"
vector="bench iv"
key_hex=$(printf '%s' "$key" | od -An -tx1 | tr -d ' \n')
iv_hex=$(printf '%s' "$vector" | od -An -tx1 | tr -d ' \n')
bytes=$((mib * 1024 * 1024))
head -c "$bytes" /dev/urandom >"$work/plain"

# Runs a command file_reps times under /usr/bin/time -v; prints the median
# wall time in seconds and the largest peak RSS in KiB.
timed() {
    local times=() rss=0
    for _ in $(seq "$file_reps"); do
        /usr/bin/time -v "$@" 2>"$work/time.txt" >/dev/null
        local wall r
        wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt" |
            awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
        r=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
        times+=("$wall")
        if ((r > rss)); then rss=$r; fi
    done
    printf '%s\n' "${times[@]}" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
    echo "$rss"
}

mbs() { awk -v b="$bytes" -v s="$1" 'BEGIN { printf "%.2f", b / s / 1e6 }'; }

: >"$work/file.txt"
for mode in ecb cbc; do
    iv_arg=()
    [ "$mode" = cbc ] && iv_arg=(-iv "$iv_hex")
    # Encryption.
    mapfile -t v < <(timed "$build/tools/file/velkfile" -m "$mode" -k "$key" -v "$vector" \
        "$work/plain" "$work/velk.$mode")
    mapfile -t o < <(timed openssl enc -des-ede3-"$mode" -nopad -K "$key_hex" "${iv_arg[@]}" \
        -in "$work/plain" -out "$work/openssl.$mode")
    # Same cipher, same bytes: velkfile's body is openssl's output.
    cmp -n "$bytes" "$work/velk.$mode" "$work/openssl.$mode"
    target=3.0
    [ "$mode" = cbc ] && target=1.3
    echo "velkfile $mode encrypt, ${mib} MiB $(mbs "${v[0]}") $(mbs "${o[0]}") ${v[1]} $target" >>"$work/file.txt"
    # Decryption.
    mapfile -t v < <(timed "$build/tools/file/velkfile" -d -m "$mode" -k "$key" -v "$vector" \
        "$work/velk.$mode" "$work/back")
    cmp "$work/plain" "$work/back"
    mapfile -t o < <(timed openssl enc -d -des-ede3-"$mode" -nopad -K "$key_hex" "${iv_arg[@]}" \
        -in "$work/openssl.$mode" -out "$work/back")
    cmp "$work/plain" "$work/back"
    echo "velkfile $mode decrypt, ${mib} MiB $(mbs "${v[0]}") $(mbs "${o[0]}") ${v[1]} 3.0" >>"$work/file.txt"
    rm -f "$work/back" "$work/velk.$mode" "$work/openssl.$mode"
done

python3 "$root/bench/report.py" "$work/bench.json" "$work/file.txt"
