#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the benchmarks twice, with clang (`bench` preset) and with g++ and
# the plain Release flags (`bench-gcc`), runs every benchmark of both beside
# its OpenSSL peer (repetitions interleaved at random, medians), then times
# velkfile against `openssl enc -nopad` on a generated file: ECB both ways
# and CBC decryption on one core (`taskset -c 0`) and on every core the
# process may use, in the width the processor chooses and capped to the
# narrower ones, CBC encryption, and the largest peak RSS of any velkfile
# run (threads included). The velkfile targets are those of the processor
# (with AVX-512F or AVX2 only); the many-block path's cycles per block in
# each width stand beside what its circuits' gate count predicts. Timed runs of velkfile and openssl alternate, so a
# slow spell of the machine does not fall on one side only. Prints one
# report (report.py). Temporary files live in the build directory and are
# removed.
#
#   bench/run.sh                 # everything, about 10 minutes on 2 cores
#   REPS=5 MIB=128 FILE_REPS=3 MIN_TIME=0.5 bench/run.sh
#       benchmark repetitions, file size, timed runs per file operation and
#       seconds per benchmark repetition; BENCH_FILTER picks benchmarks by
#       regular expression, COMPILERS="clang gcc" which builds run them,
#       CAPS="avx2 sse2" the narrower widths velkfile is also timed in
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
reps=${REPS:-5}
mib=${MIB:-128}
file_reps=${FILE_REPS:-3}
min_time=${MIN_TIME:-0.5}
filter=${BENCH_FILTER:-.}
compilers=${COMPILERS:-clang gcc}

preset_of() { if [ "$1" = gcc ]; then echo bench-gcc; else echo bench; fi; }

cd "$root"
for c in $compilers; do
    cmake --preset "$(preset_of "$c")" >/dev/null
    cmake --build --preset "$(preset_of "$c")" -j2 >/dev/null
done

# velkfile of the first build is the one timed against openssl enc.
first=${compilers%% *}
build=$root/build/$(preset_of "$first")
work=$(mktemp -d "$build/bench-run.XXXXXX")
trap 'rm -rf "$work"' EXIT

cores=$(taskset -c -p $$ | sed 's/.*: //')
echo "machine:  $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores usable (affinity $cores)," \
    "AVX2: $(grep -qw avx2 /proc/cpuinfo && echo yes || echo no)," \
    "AVX-512F: $(grep -qw avx512f /proc/cpuinfo && echo yes || echo no); load: $(cut -d' ' -f1-3 /proc/loadavg)"
for c in $compilers; do
    cache=$root/build/$(preset_of "$c")/CMakeCache.txt
    cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$cache")
    echo "$c: $("$cxx" --version | head -n 1), flags: $(sed -n 's/^CMAKE_CXX_FLAGS_RELEASE:[A-Z]*=//p' "$cache") (no -march)"
done
echo "openssl:  $(openssl version)"
echo "velkfile: built by $first; $mib MiB file, median of $file_reps interleaved runs"
echo

args=()
for c in $compilers; do
    "$root/build/$(preset_of "$c")/bench/velk_bench" --benchmark_repetitions="$reps" \
        --benchmark_report_aggregates_only=true --benchmark_min_time="$min_time" \
        --benchmark_filter="$filter" --benchmark_enable_random_interleaving=true \
        --benchmark_out="$work/bench-$c.json" --benchmark_out_format=json >"$work/bench-$c.txt" 2>&1
    args+=(--bench "$c=$work/bench-$c.json")
done
# libvelkpay's 1 MiB calls again with the many-block engine capped to AVX2,
# where the processor has AVX-512F (elsewhere the run above was AVX2 already).
if grep -qw avx512f /proc/cpuinfo && grep -qw avx2 /proc/cpuinfo; then
    VELK_BULK_WIDTH=avx2 "$root/build/$(preset_of "$first")/bench/velk_bench" \
        --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
        --benchmark_min_time="$min_time" --benchmark_filter='_1mib$' \
        --benchmark_enable_random_interleaving=true \
        --benchmark_out="$work/bench-avx2.json" --benchmark_out_format=json >"$work/bench-avx2.txt" 2>&1
    args+=(--bench "$first, VELK_BULK_WIDTH=avx2=$work/bench-avx2.json")
fi

# velkfile takes its key and vector as raw bytes; openssl enc as hex.
velkfile=$build/tools/file/velkfile
key="velk bench key 24 bytes!"
vector="bench iv"
key_hex=$(printf '%s' "$key" | od -An -tx1 | tr -d ' \n')
iv_hex=$(printf '%s' "$vector" | od -An -tx1 | tr -d ' \n')
bytes=$((mib * 1024 * 1024))
head -c "$bytes" /dev/urandom >"$work/plain"

# One run under /usr/bin/time -v: appends "wall_seconds rss_kib" to the file
# named first. Maximum resident set size counts every thread of the process.
# The wall time is the shell's microsecond clock around the run: time's own
# is in hundredths of a second, too coarse for a run of a tenth of a second.
timed() {
    local into=$1
    shift
    local start=$EPOCHREALTIME
    /usr/bin/time -v "$@" 2>"$work/time.txt" >/dev/null
    local end=$EPOCHREALTIME wall rss
    wall=$(awk -v a="${start/,/.}" -v b="${end/,/.}" 'BEGIN { printf "%.6f", b - a }')
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
    echo "$wall $rss" >>"$into"
}

# Median wall time of a file of "wall rss" lines, as MB/s of the file size.
median_mbs() {
    sort -g "$1" | awk -v b="$bytes" '{ a[NR] = $1 } END { printf "%.2f", b / a[int((NR + 1) / 2)] / 1e6 }'
}

# The velkfile targets of this processor: those of one with AVX-512F, which
# the many-block path then uses, or those of one with AVX2 only.
if grep -qw avx512f /proc/cpuinfo; then
    one_target=25 all_target=40
else
    one_target=18 all_target=30
fi
# The narrower widths also timed with VELK_BULK_WIDTH, beside the one the
# processor chooses: AVX2 (targets of an AVX2-only processor) and the
# portable SSE2 width (no target), each where the processor has a wider one.
caps=()
for cap in ${CAPS-avx2 sse2}; do
    case $cap in
    avx2) grep -qw avx512f /proc/cpuinfo && caps+=(avx2) ;;
    sse2) grep -qw avx2 /proc/cpuinfo && caps+=(sse2) ;;
    esac
done
cap_target() { if [ "$1" = avx2 ]; then echo "$2"; else echo -; fi; }

: >"$work/file.txt"
: >"$work/rss.txt"
# Each operation: openssl enc (one thread whatever it is allowed), velkfile
# pinned to core 0, velkfile free, and the same for each capped width, in
# turn, file_reps times; the first time round, each velkfile output is
# checked against openssl's before the next run replaces it. Decryption
# reads each program's own ciphertext, made first and checked equal.
for op in "ecb encrypt" "ecb decrypt" "cbc decrypt" "cbc encrypt"; do
    set -- $op
    mode=$1 dir=$2
    iv_arg=()
    [ "$mode" = cbc ] && iv_arg=(-iv "$iv_hex")
    vflag=() oflag=() input=$work/plain input_velk=$work/plain
    if [ "$dir" = decrypt ]; then
        vflag=(-d) oflag=(-d) input=$work/cipher.$mode input_velk=$work/velkcipher.$mode
        openssl enc -des-ede3-"$mode" -nopad -K "$key_hex" "${iv_arg[@]}" -in "$work/plain" \
            -out "$input"
        "$velkfile" -m "$mode" -k "$key" -v "$vector" "$work/plain" "$input_velk"
        cmp -n "$bytes" "$input_velk" "$input"
    fi
    rm -f "$work"/t.*
    velk_run() { # tag, VELK_BULK_WIDTH or "", taskset or ""
        local pin=()
        [ -n "$3" ] && pin=(taskset -c 0)
        timed "$work/t.$1" env ${2:+VELK_BULK_WIDTH=$2} "${pin[@]}" "$velkfile" "${vflag[@]}" \
            -m "$mode" -k "$key" -v "$vector" "$input_velk" "$work/velk.out"
        if [ "$rep" = 1 ]; then
            # Same cipher, same bytes.
            if [ "$dir" = decrypt ]; then
                cmp "$work/plain" "$work/velk.out"
            else
                cmp -n "$bytes" "$work/velk.out" "$work/ossl.out"
            fi
        fi
    }
    for rep in $(seq "$file_reps"); do
        timed "$work/t.ossl" openssl enc "${oflag[@]}" -des-ede3-"$mode" -nopad -K "$key_hex" \
            "${iv_arg[@]}" -in "$input" -out "$work/ossl.out"
        [ "$dir" = decrypt ] && cmp "$work/plain" "$work/ossl.out"
        if [ "$op" = "cbc encrypt" ]; then
            velk_run all "" ""
            continue
        fi
        velk_run one "" pin
        velk_run all "" ""
        for cap in "${caps[@]}"; do
            velk_run "$cap.one" "$cap" pin
            velk_run "$cap.all" "$cap" ""
        done
    done
    for f in "$work"/t.*; do
        [ "$f" = "$work/t.ossl" ] || cat "$f"
    done >>"$work/rss.txt"
    ossl=$(median_mbs "$work/t.ossl")
    if [ "$op" = "cbc encrypt" ]; then
        echo "velkfile $op|all|$(median_mbs "$work/t.all")|$ossl|1.35" >>"$work/file.txt"
    else
        echo "velkfile $op|one|$(median_mbs "$work/t.one")|$ossl|$one_target" >>"$work/file.txt"
        echo "velkfile $op|all|$(median_mbs "$work/t.all")|$ossl|$all_target" >>"$work/file.txt"
        for cap in "${caps[@]}"; do
            echo "velkfile $op, VELK_BULK_WIDTH=$cap|one|$(median_mbs "$work/t.$cap.one")|$ossl|$(cap_target "$cap" 18)" >>"$work/file.txt"
            echo "velkfile $op, VELK_BULK_WIDTH=$cap|all|$(median_mbs "$work/t.$cap.all")|$ossl|$(cap_target "$cap" 30)" >>"$work/file.txt"
        done
    fi
    rm -f "$work/velk.out" "$work/ossl.out" "$work/cipher.$mode" "$work/velkcipher.$mode"
done
rss=$(awk 'BEGIN { m = 0 } { if ($2 > m) m = $2 } END { print m }' "$work/rss.txt")

python3 "$root/bench/report.py" "${args[@]}" --file "$work/file.txt" --rss "$rss" \
    --cores "$(nproc)"
