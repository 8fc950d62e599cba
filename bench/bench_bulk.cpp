// SPDX-License-Identifier: MIT
// Three-key EDE over a whole 16 KiB buffer, the unit velkfile works in: the
// library's internal many-block path beside OpenSSL's EVP des-ede3 (ECB) and
// des-ede3-cbc over the same buffer.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench_common.hpp"
#include "ede3_bulk.hpp"
#include "velkcore.h"

namespace {

using namespace velk::bench;

constexpr std::size_t buffer_bytes = 16384;

struct Schedules {
    des_subkeys k1, k2, k3;
    Schedules() {
        des_init(key24(), 8, k1);
        des_init(key24() + 8, 8, k2);
        des_init(key24() + 16, 8, k3);
    }
};

// The bulk key of the benchmark key, built once as velkfile builds it per file.
const velk::Ede3BulkKey &bulk_key() {
    static const Schedules s;
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
        velk::bulk_width::ede3_ecb(w, bulk_key(), buf.data(), buf.data(), blocks, false);
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
BENCHMARK(velk_bulk_ede3_ecb_encrypt_short)->Arg(1)->Arg(8)->Arg(40)->Arg(200)->Arg(2047);
