// SPDX-License-Identifier: MIT
// libvelkpay's triple DES over 1 MiB per call, as a library user calls it
// (key bytes in, the key set-up inside every call), beside OpenSSL's EVP
// des-ede3 and des-ede3-cbc over the same buffer with the context set up
// once. The width of the many-block engine is the processor's, or the one
// VELK_BULK_WIDTH caps it to for the whole run.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench_common.hpp"
#include "velkpay.h"

namespace {

using namespace velk::bench;

constexpr std::size_t mebibyte = 1 << 20;

template <class Run> void over_mebibyte(benchmark::State &state, Run run) {
    auto buf = pseudo_random(mebibyte, 11);
    for (auto _ : state) {
        if (run(buf.data()) != 0) {
            state.SkipWithError("velkpay refused the call");
            return;
        }
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * mebibyte));
}

void velkpay_tdes_ecb_encrypt_1mib(benchmark::State &state) {
    over_mebibyte(state, [](unsigned char *b) {
        return velkpay_tdes_ecb_encrypt(b, b, mebibyte, key24(), 24);
    });
}

void velkpay_tdes_cbc_decrypt_1mib(benchmark::State &state) {
    auto iv = pseudo_random(8, 12);
    over_mebibyte(state, [&](unsigned char *b) {
        return velkpay_tdes_cbc_decrypt(b, b, mebibyte, iv.data(), key24(), 24);
    });
}

#ifdef VELK_BENCH_LIBCRYPTO
void evp_mebibyte(benchmark::State &state, const EVP_CIPHER *cipher, int encrypt) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        &EVP_CIPHER_CTX_free);
    const auto iv = pseudo_random(8, 12);
    EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key24(), iv.data(), encrypt);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    over_mebibyte(state, [&](unsigned char *b) {
        int n = 0;
        return EVP_CipherUpdate(ctx.get(), b, &n, b, static_cast<int>(mebibyte)) == 1 ? 0 : -1;
    });
}

void openssl_evp_des_ede3_ecb_encrypt_1mib(benchmark::State &s) {
    evp_mebibyte(s, EVP_des_ede3_ecb(), 1);
}
void openssl_evp_des_ede3_cbc_decrypt_1mib(benchmark::State &s) {
    evp_mebibyte(s, EVP_des_ede3_cbc(), 0);
}
#endif

} // namespace

BENCHMARK(velkpay_tdes_ecb_encrypt_1mib);
#ifdef VELK_BENCH_LIBCRYPTO
BENCHMARK(openssl_evp_des_ede3_ecb_encrypt_1mib);
#endif
BENCHMARK(velkpay_tdes_cbc_decrypt_1mib);
#ifdef VELK_BENCH_LIBCRYPTO
BENCHMARK(openssl_evp_des_ede3_cbc_decrypt_1mib);
#endif
