// SPDX-License-Identifier: MIT
// Key set-up with the weak-key check: des_init against DES_set_key_checked.
// One key per call, cycling through 64 different keys. Bytes processed are
// the 8 key bytes, so the ratio of the rates is the ratio of the speeds.
#include <benchmark/benchmark.h>

#include "bench_common.hpp"
#include "velkcore.h"

namespace {

using namespace velk::bench;

constexpr std::size_t key_count = 64;

// Odd parity throughout, so DES_set_key_checked accepts every key.
std::vector<unsigned char> odd_parity_keys() {
    auto keys = pseudo_random(key_count * 8, 3);
    for (auto &b : keys) {
        b &= 0xFE;
        b |= static_cast<unsigned char>((__builtin_popcount(b) & 1) ^ 1);
    }
    return keys;
}

void velk_des_init(benchmark::State &state) {
    auto keys = odd_parity_keys();
    des_subkeys ks;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(des_init(&keys[i * 8], 8, ks));
        benchmark::ClobberMemory();
        i = (i + 1) % key_count;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 8));
}

#ifdef VELK_BENCH_LIBCRYPTO
void openssl_DES_set_key_checked(benchmark::State &state) {
    auto keys = odd_parity_keys();
    DES_key_schedule ks;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            DES_set_key_checked(reinterpret_cast<const_DES_cblock *>(&keys[i * 8]), &ks));
        benchmark::ClobberMemory();
        i = (i + 1) % key_count;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 8));
}
#endif

} // namespace

BENCHMARK(velk_des_init);
#ifdef VELK_BENCH_LIBCRYPTO
BENCHMARK(openssl_DES_set_key_checked);
#endif

namespace {

// The core clock, for turning times into cycles: a chain of dependent
// one-cycle additions retires one per cycle, so additions per second is the
// clock rate the benchmarks ran at.
void clock_dependent_adds(benchmark::State &state) {
    constexpr std::int64_t adds = 1 << 16;
    for (auto _ : state) {
        std::uint64_t x = 0;
        for (std::int64_t i = 0; i < adds; i += 4) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
            __asm__ volatile("add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0" : "+r"(x));
#else
            x += 4;
            benchmark::DoNotOptimize(x);
#endif
        }
        benchmark::DoNotOptimize(x);
    }
    state.SetItemsProcessed(state.iterations() * adds);
}

} // namespace

BENCHMARK(clock_dependent_adds);
