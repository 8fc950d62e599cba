// SPDX-License-Identifier: MIT
// Shared set-up for the benchmarks: fixed pseudo-random keys and data, so that
// every run measures the same work, and, where libcrypto was found
// (VELK_BENCH_LIBCRYPTO), its deprecated DES interface for the peers.
#pragma once

#ifdef VELK_BENCH_LIBCRYPTO
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>
#include <openssl/evp.h>
#endif

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "velkcore.hpp"

namespace velk::bench {

// A small xorshift generator: reproducible data without <random>'s weight.
inline std::vector<unsigned char> pseudo_random(std::size_t n, std::uint64_t seed) {
    std::vector<unsigned char> out(n);
    std::uint64_t x = seed | 1u;
    for (auto &c : out) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<unsigned char>(x >> 32);
    }
    return out;
}

// The 24 key bytes every triple benchmark uses (three different keys).
inline const unsigned char *key24() {
    static const std::vector<unsigned char> k = pseudo_random(24, 0x6b657973u);
    return k.data();
}

// The three schedules of key24(), from the library's three-key EDE set-up,
// built once: K1, K2 and K3 in the C form.
struct Ede3Keys {
    const std::uint32_t *k1, *k2, *k3;
};
inline Ede3Keys ede3_keys() {
    static const velk::Ede3Schedule s(std::span<const unsigned char, 24>(key24(), 24));
    return {s.subkeys1(), s.subkeys2(), s.subkeys3()};
}

#ifdef VELK_BENCH_LIBCRYPTO
inline DES_key_schedule openssl_schedule(const unsigned char *key) {
    DES_cblock k;
    std::memcpy(k, key, 8);
    DES_key_schedule ks;
    DES_set_key_unchecked(&k, &ks);
    return ks;
}
#endif

// Bytes per benchmark iteration: 512 blocks, well inside the first-level cache.
inline constexpr std::size_t chunk_blocks = 512;
inline constexpr std::size_t chunk_bytes = chunk_blocks * 8;

inline void report(benchmark::State &state, std::size_t bytes_per_iteration) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes_per_iteration));
}

// Independent blocks: block i of the input to block i of the output, so the
// processor may overlap consecutive calls.
template <class Step> void independent(benchmark::State &state, Step step) {
    auto in = pseudo_random(chunk_bytes, 4);
    std::vector<unsigned char> out(chunk_bytes);
    for (auto _ : state) {
        for (std::size_t i = 0; i < chunk_bytes; i += 8)
            step(&in[i], &out[i]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    report(state, chunk_bytes);
}

// Chained blocks: each block is the previous output, so only the latency of
// one block counts.
template <class Step> void chained(benchmark::State &state, Step step) {
    auto block = pseudo_random(8, 2);
    for (auto _ : state) {
        for (std::size_t i = 0; i < chunk_blocks; ++i)
            step(block.data(), block.data());
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    report(state, chunk_bytes);
}

} // namespace velk::bench
