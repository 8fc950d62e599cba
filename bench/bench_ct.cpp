// SPDX-License-Identifier: MIT
// The constant-time rounds by engine, in three-key triple DES one block at a
// time, beside BearSSL's constant-time des_ct (three-key CBC, 8 bytes per
// call) where BearSSL was found (VELK_BENCH_BEARSSL). The library's own
// functions take these rounds in a VELK_CONSTANT_TIME build; here each
// engine is named, so one run of any build measures both.
#include <benchmark/benchmark.h>

#include "bench_common.hpp"
#include "block.hpp"
#include "block_ct.hpp"
#include "velkcore.h"

#ifdef VELK_BENCH_BEARSSL
#include <bearssl.h>
#endif

namespace {

using namespace velk::bench;
using Rounds = void (*)(std::uint32_t &, std::uint32_t &, const std::uint32_t *);


// E3(E2(E1(x))) with the permutations once, as the library's triple path.
template <Rounds rounds> void eee(std::uint32_t &hi, std::uint32_t &lo) {
    std::uint32_t l = hi, r = lo;
    velk::initial_permutation(l, r);
    rounds(l, r, ede3_keys().k1);
    rounds(r, l, ede3_keys().k2);
    rounds(l, r, ede3_keys().k3);
    velk::final_permutation(l, r);
    hi = r;
    lo = l;
}

template <Rounds rounds> void cbc3_chained(benchmark::State &state, bool needs_avx512) {
    if (needs_avx512 && !velk::ct::avx512_available()) {
        state.SkipWithError("no AVX-512 BW/BITALG here");
        return;
    }
    auto in = pseudo_random(chunk_bytes, 5);
    std::vector<unsigned char> out(chunk_bytes);
    const auto iv = pseudo_random(8, 6);
    for (auto _ : state) {
        std::uint32_t hi = velk::load_be32(iv.data()), lo = velk::load_be32(iv.data() + 4);
        for (std::size_t i = 0; i < chunk_bytes; i += 8) {
            hi ^= velk::load_be32(&in[i]);
            lo ^= velk::load_be32(&in[i + 4]);
            eee<rounds>(hi, lo);
            velk::store_be32(&out[i], hi);
            velk::store_be32(&out[i + 4], lo);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    report(state, chunk_bytes);
}

void velk_ct_portable_cbc3EEEencode(benchmark::State &s) {
    cbc3_chained<velk::ct::encrypt_rounds_portable>(s, false);
}
#ifdef VELK_HAVE_AVX512_ENGINE
void velk_ct_avx512_cbc3EEEencode(benchmark::State &s) {
    cbc3_chained<velk::ct::encrypt_rounds_avx512>(s, true);
}
#endif

template <Rounds rounds> void ecb3_independent(benchmark::State &state, bool needs_avx512) {
    if (needs_avx512 && !velk::ct::avx512_available()) {
        state.SkipWithError("no AVX-512 BW/BITALG here");
        return;
    }
    independent(state, [](const unsigned char *i, unsigned char *o) {
        std::uint32_t hi = velk::load_be32(i), lo = velk::load_be32(i + 4);
        eee<rounds>(hi, lo);
        velk::store_be32(o, hi);
        velk::store_be32(o + 4, lo);
    });
}

void velk_ct_portable_ecb3EEEencode(benchmark::State &s) {
    ecb3_independent<velk::ct::encrypt_rounds_portable>(s, false);
}
#ifdef VELK_HAVE_AVX512_ENGINE
void velk_ct_avx512_ecb3EEEencode(benchmark::State &s) {
    ecb3_independent<velk::ct::encrypt_rounds_avx512>(s, true);
}
#endif

#ifdef VELK_BENCH_BEARSSL
void bearssl_des_ct_cbcenc_3key_per_block(benchmark::State &state) {
    br_des_ct_cbcenc_keys ctx;
    br_des_ct_cbcenc_init(&ctx, key24(), 24);
    auto buf = pseudo_random(chunk_bytes, 5);
    const auto iv = pseudo_random(8, 6);
    for (auto _ : state) {
        unsigned char chain[8];
        std::memcpy(chain, iv.data(), 8);
        for (std::size_t i = 0; i < chunk_bytes; i += 8)
            br_des_ct_cbcenc_run(&ctx, chain, &buf[i], 8);
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    report(state, chunk_bytes);
}
#endif

} // namespace

BENCHMARK(velk_ct_portable_cbc3EEEencode);
#ifdef VELK_HAVE_AVX512_ENGINE
BENCHMARK(velk_ct_avx512_cbc3EEEencode);
#endif
#ifdef VELK_BENCH_BEARSSL
BENCHMARK(bearssl_des_ct_cbcenc_3key_per_block);
#endif
BENCHMARK(velk_ct_portable_ecb3EEEencode);
#ifdef VELK_HAVE_AVX512_ENGINE
BENCHMARK(velk_ct_avx512_ecb3EEEencode);
#endif
