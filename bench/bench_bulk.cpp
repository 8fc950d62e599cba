// SPDX-License-Identifier: MIT
// Three-key EDE over a whole 16 KiB buffer, the unit velkfile works in: the
// library's internal many-block path beside OpenSSL's EVP des-ede3 (ECB) and
// des-ede3-cbc over the same buffer.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench_common.hpp"
#include "ede3_bulk.hpp"
#include "sbox_circuits.hpp"
#include "velkcore.h"

namespace {

using namespace velk::bench;

constexpr std::size_t buffer_bytes = 16384;

// The bulk key of the benchmark key, built once as velkfile builds it per file.
const velk::Ede3BulkKey &bulk_key() {
    static const Ede3Keys s = ede3_keys();
    static const velk::Ede3BulkKey key(s.k1, s.k2, s.k3);
    return key;
}

template <class Run> void over_buffer(benchmark::State &state, Run run) {
    auto buf = pseudo_random(buffer_bytes, 9);
    for (auto _ : state) {
        run(buf.data());
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer_bytes));
}

void velk_bulk_ede3_ecb_encrypt(benchmark::State &state) {
    over_buffer(state, [&](unsigned char *b) {
        velk::ede3_encrypt_blocks(bulk_key(), b, b, buffer_bytes / 8);
    });
}

void velk_bulk_ede3_ecb_decrypt(benchmark::State &state) {
    over_buffer(state, [&](unsigned char *b) {
        velk::ede3_decrypt_blocks(bulk_key(), b, b, buffer_bytes / 8);
    });
}

void velk_bulk_ede3_cbc_decrypt(benchmark::State &state) {
    auto chain = pseudo_random(8, 10);
    over_buffer(state, [&](unsigned char *b) {
        velk::ede3_cbc_decrypt_blocks(bulk_key(), b, b, buffer_bytes / 8, chain.data());
    });
}

void velk_bulk_ede3_cbc_encrypt(benchmark::State &state) {
    auto chain = pseudo_random(8, 10);
    over_buffer(state, [&](unsigned char *b) {
        velk::ede3_cbc_encrypt_blocks(bulk_key(), b, b, buffer_bytes / 8, chain.data());
    });
}

// One width alone over the buffer (argument: 0 one block at a time, 1 SSE2,
// 2 AVX2, 3 AVX-512F), and over short calls of range(1) blocks: the figures
// the choice of the last batch's width is made from.
void velk_bulk_ede3_ecb_encrypt_width(benchmark::State &state) {
    const auto w = static_cast<velk::bulk_width::Width>(state.range(0));
    if (!velk::bulk_width::available(w)) {
        state.SkipWithError("the processor lacks this width");
        return;
    }
    const auto blocks = static_cast<std::size_t>(state.range(1));
    auto buf = pseudo_random(8 * blocks, 9);
    for (auto _ : state) {
        velk::bulk_width::run(w, bulk_key(), buf.data(), buf.data(), blocks, false, nullptr);
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 8 * blocks));
}

// The chosen path on short calls, which should cost in proportion to blocks.
void velk_bulk_ede3_ecb_encrypt_short(benchmark::State &state) {
    const auto blocks = static_cast<std::size_t>(state.range(0));
    auto buf = pseudo_random(8 * blocks, 9);
    for (auto _ : state) {
        velk::ede3_encrypt_blocks(bulk_key(), buf.data(), buf.data(), blocks);
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 8 * blocks));
}

// The S-box circuits the widths run, averaged over the eight S-boxes:
// two-input gates (the 16- and 32-byte widths) and three-input operations
// (the 64-byte width), as counters for the report, which turns them into
// the cycles per block they predict.
void velk_bulk_circuit_gates(benchmark::State &state) {
    double gates2 = 0, gates3 = 0;
    for (unsigned s = 0; s < 8; ++s) {
        gates2 += velk::bulk::circuits2[s].count;
        gates3 += velk::bulk::circuits3[s].count;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(gates2);
    state.counters["gates2"] = gates2 / 8;
    state.counters["gates3"] = gates3 / 8;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// How many of the circuits' operations this core issues per second, per
// width (argument as above): twelve independent chains of PXOR, VPXOR on
// 32 bytes or VPTERNLOGQ on 64 bytes, so that the issue rate alone bounds
// them. Divided by the clock, the operations per cycle.
constexpr std::int64_t logic_ops = 12 * 1024;

void logic_sse2() {
    for (int i = 0; i < 1024; ++i)
        __asm__ volatile("pxor %%xmm12, %%xmm0\n\tpxor %%xmm12, %%xmm1\n\t"
                         "pxor %%xmm12, %%xmm2\n\tpxor %%xmm12, %%xmm3\n\t"
                         "pxor %%xmm12, %%xmm4\n\tpxor %%xmm12, %%xmm5\n\t"
                         "pxor %%xmm12, %%xmm6\n\tpxor %%xmm12, %%xmm7\n\t"
                         "pxor %%xmm12, %%xmm8\n\tpxor %%xmm12, %%xmm9\n\t"
                         "pxor %%xmm12, %%xmm10\n\tpxor %%xmm12, %%xmm11" ::
                             : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7",
                               "xmm8", "xmm9", "xmm10", "xmm11");
}

__attribute__((target("avx2"))) void logic_avx2() {
    for (int i = 0; i < 1024; ++i)
        __asm__ volatile("vpxor %%ymm12, %%ymm0, %%ymm0\n\tvpxor %%ymm12, %%ymm1, %%ymm1\n\t"
                         "vpxor %%ymm12, %%ymm2, %%ymm2\n\tvpxor %%ymm12, %%ymm3, %%ymm3\n\t"
                         "vpxor %%ymm12, %%ymm4, %%ymm4\n\tvpxor %%ymm12, %%ymm5, %%ymm5\n\t"
                         "vpxor %%ymm12, %%ymm6, %%ymm6\n\tvpxor %%ymm12, %%ymm7, %%ymm7\n\t"
                         "vpxor %%ymm12, %%ymm8, %%ymm8\n\tvpxor %%ymm12, %%ymm9, %%ymm9\n\t"
                         "vpxor %%ymm12, %%ymm10, %%ymm10\n\tvpxor %%ymm12, %%ymm11, %%ymm11" ::
                             : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7",
                               "xmm8", "xmm9", "xmm10", "xmm11");
}

__attribute__((target("avx512f"))) void logic_avx512() {
    for (int i = 0; i < 1024; ++i)
        __asm__ volatile("vpternlogq $0x96, %%zmm12, %%zmm13, %%zmm0\n\t"
                         "vpternlogq $0x96, %%zmm12, %%zmm13, %%zmm1\n\t"
                         "vpternlogq $0x96, %%zmm12, %%zmm13, %%zmm2\n\t"
                         "vpternlogq $0x96, %%zmm12, %%zmm13, %%zmm3\n\t"
                         "vpternlogq $0x96, %%zmm12, %%zmm13, %%zmm4\n\t"
                         "vpternlogq $0x96, %%zmm12, %%zmm13, %%zmm5\n\t"
                         "vpternlogq $0x96, %%zmm12, %%zmm13, %%zmm6\n\t"
                         "vpternlogq $0x96, %%zmm12, %%zmm13, %%zmm7\n\t"
                         "vpternlogq $0x96, %%zmm12, %%zmm13, %%zmm8\n\t"
                         "vpternlogq $0x96, %%zmm12, %%zmm13, %%zmm9\n\t"
                         "vpternlogq $0x96, %%zmm12, %%zmm13, %%zmm10\n\t"
                         "vpternlogq $0x96, %%zmm12, %%zmm13, %%zmm11" ::
                             : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7",
                               "xmm8", "xmm9", "xmm10", "xmm11");
}

void velk_vector_logic_width(benchmark::State &state) {
    const auto w = static_cast<velk::bulk_width::Width>(state.range(0));
    if (!velk::bulk_width::available(w)) {
        state.SkipWithError("the processor lacks this width");
        return;
    }
    void (*const run)() = w == velk::bulk_width::Width::avx512 ? logic_avx512
                          : w == velk::bulk_width::Width::avx2 ? logic_avx2
                                                               : logic_sse2;
    for (auto _ : state)
        run();
    state.SetItemsProcessed(state.iterations() * logic_ops);
}
#endif

#ifdef VELK_BENCH_LIBCRYPTO
// EVP over the whole buffer, padding off, the context set up once.
void evp(benchmark::State &state, const EVP_CIPHER *cipher, int encrypt) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        &EVP_CIPHER_CTX_free);
    const auto iv = pseudo_random(8, 10);
    EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key24(), iv.data(), encrypt);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    over_buffer(state, [&](unsigned char *b) {
        int n = 0;
        EVP_CipherUpdate(ctx.get(), b, &n, b, static_cast<int>(buffer_bytes));
    });
}

void openssl_evp_des_ede3_ecb_encrypt(benchmark::State &s) {
    evp(s, EVP_des_ede3_ecb(), 1);
}
void openssl_evp_des_ede3_ecb_decrypt(benchmark::State &s) {
    evp(s, EVP_des_ede3_ecb(), 0);
}
void openssl_evp_des_ede3_cbc_decrypt(benchmark::State &s) {
    evp(s, EVP_des_ede3_cbc(), 0);
}
void openssl_evp_des_ede3_cbc_encrypt(benchmark::State &s) {
    evp(s, EVP_des_ede3_cbc(), 1);
}
#endif

} // namespace

BENCHMARK(velk_bulk_ede3_ecb_encrypt);
#ifdef VELK_BENCH_LIBCRYPTO
BENCHMARK(openssl_evp_des_ede3_ecb_encrypt);
#endif
BENCHMARK(velk_bulk_ede3_ecb_decrypt);
#ifdef VELK_BENCH_LIBCRYPTO
BENCHMARK(openssl_evp_des_ede3_ecb_decrypt);
#endif
BENCHMARK(velk_bulk_ede3_cbc_decrypt);
#ifdef VELK_BENCH_LIBCRYPTO
BENCHMARK(openssl_evp_des_ede3_cbc_decrypt);
#endif
BENCHMARK(velk_bulk_ede3_cbc_encrypt);
#ifdef VELK_BENCH_LIBCRYPTO
BENCHMARK(openssl_evp_des_ede3_cbc_encrypt);
#endif
BENCHMARK(velk_bulk_ede3_ecb_encrypt_width)
    ->ArgsProduct({{1, 2, 3}, {buffer_bytes / 8}})
    ->ArgsProduct({{0, 1, 2, 3}, {1, 16, 32, 64}});
BENCHMARK(velk_bulk_circuit_gates);
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
BENCHMARK(velk_vector_logic_width)->Arg(1)->Arg(2)->Arg(3);
#endif
BENCHMARK(velk_bulk_ede3_ecb_encrypt_short)->Arg(1)->Arg(8)->Arg(40)->Arg(200)->Arg(2047);
