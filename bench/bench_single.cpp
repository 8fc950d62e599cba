// Single DES, one 8-byte block per call: independent blocks (the processor may
// overlap consecutive calls) and chained blocks (each block the previous
// output, so only the latency of one block counts).
#include <benchmark/benchmark.h>

#include "bench_common.hpp"
#include "velkcore.h"

namespace {

using namespace velk::bench;

void velk_ecb_independent(benchmark::State &state) {
    des_subkeys ks;
    des_init(key24(), 8, ks);
    auto in = pseudo_random(chunk_bytes, 1);
    std::vector<unsigned char> out(chunk_bytes);
    for (auto _ : state) {
        for (std::size_t i = 0; i < chunk_bytes; i += 8)
            des_ecbencode(&in[i], &out[i], ks);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chunk_bytes));
}

#ifdef VELK_BENCH_LIBCRYPTO
void openssl_ecb_independent(benchmark::State &state) {
    DES_key_schedule ks = openssl_schedule(key24());
    auto in = pseudo_random(chunk_bytes, 1);
    std::vector<unsigned char> out(chunk_bytes);
    for (auto _ : state) {
        for (std::size_t i = 0; i < chunk_bytes; i += 8)
            DES_ecb_encrypt(reinterpret_cast<const_DES_cblock *>(&in[i]),
                            reinterpret_cast<DES_cblock *>(&out[i]), &ks, DES_ENCRYPT);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chunk_bytes));
}
#endif

void velk_ecb_decode_independent(benchmark::State &state) {
    des_subkeys ks;
    des_init(key24(), 8, ks);
    auto in = pseudo_random(chunk_bytes, 1);
    std::vector<unsigned char> out(chunk_bytes);
    for (auto _ : state) {
        for (std::size_t i = 0; i < chunk_bytes; i += 8)
            des_ecbdecode(&in[i], &out[i], ks);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chunk_bytes));
}

#ifdef VELK_BENCH_LIBCRYPTO
void openssl_ecb_decode_independent(benchmark::State &state) {
    DES_key_schedule ks = openssl_schedule(key24());
    auto in = pseudo_random(chunk_bytes, 1);
    std::vector<unsigned char> out(chunk_bytes);
    for (auto _ : state) {
        for (std::size_t i = 0; i < chunk_bytes; i += 8)
            DES_ecb_encrypt(reinterpret_cast<const_DES_cblock *>(&in[i]),
                            reinterpret_cast<DES_cblock *>(&out[i]), &ks, DES_DECRYPT);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chunk_bytes));
}
#endif

void velk_ecb_chained(benchmark::State &state) {
    des_subkeys ks;
    des_init(key24(), 8, ks);
    auto block = pseudo_random(8, 2);
    for (auto _ : state) {
        for (std::size_t i = 0; i < chunk_blocks; ++i)
            des_ecbencode(block.data(), block.data(), ks);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chunk_bytes));
}

#ifdef VELK_BENCH_LIBCRYPTO
void openssl_ecb_chained(benchmark::State &state) {
    DES_key_schedule ks = openssl_schedule(key24());
    auto block = pseudo_random(8, 2);
    auto *b = reinterpret_cast<DES_cblock *>(block.data());
    for (auto _ : state) {
        for (std::size_t i = 0; i < chunk_blocks; ++i)
            DES_ecb_encrypt(b, b, &ks, DES_ENCRYPT);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chunk_bytes));
}
#endif

} // namespace

BENCHMARK(velk_ecb_independent);
#ifdef VELK_BENCH_LIBCRYPTO
BENCHMARK(openssl_ecb_independent);
#endif
BENCHMARK(velk_ecb_decode_independent);
#ifdef VELK_BENCH_LIBCRYPTO
BENCHMARK(openssl_ecb_decode_independent);
#endif
BENCHMARK(velk_ecb_chained);
#ifdef VELK_BENCH_LIBCRYPTO
BENCHMARK(openssl_ecb_chained);
#endif
