// SPDX-License-Identifier: MIT
// Triple DES, one 8-byte block per call, every triple function of the library
// beside OpenSSL's DES_ecb3_encrypt / DES_ede3_cbc_encrypt; and 8-bit CFB and
// OFB beside EVP des-ede3-cfb8, one keystream block per data byte.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench_common.hpp"
#include "velkcore.h"

namespace {

using namespace velk::bench;

#ifdef VELK_BENCH_LIBCRYPTO
struct OpensslKeys {
    DES_key_schedule k1 = openssl_schedule(key24()), k2 = openssl_schedule(key24() + 8),
                     k3 = openssl_schedule(key24() + 16);
};

OpensslKeys &ok() {
    static OpensslKeys k;
    return k;
}
#endif

void velk_ecb3EDEencode(benchmark::State &s) {
    independent(s, [](const unsigned char *i, unsigned char *o) {
        des_ecb3EDEencode(i, o, ede3_keys().k1, ede3_keys().k2);
    });
}
void velk_ecb3EDEdecode(benchmark::State &s) {
    independent(s, [](const unsigned char *i, unsigned char *o) {
        des_ecb3EDEdecode(i, o, ede3_keys().k1, ede3_keys().k2);
    });
}
void velk_ecb3EEEencode(benchmark::State &s) {
    independent(s, [](const unsigned char *i, unsigned char *o) {
        des_ecb3EEEencode(i, o, ede3_keys().k1, ede3_keys().k2, ede3_keys().k3);
    });
}
void velk_ecb3EEEdecode(benchmark::State &s) {
    independent(s, [](const unsigned char *i, unsigned char *o) {
        des_ecb3EEEdecode(i, o, ede3_keys().k1, ede3_keys().k2, ede3_keys().k3);
    });
}
#ifdef VELK_BENCH_LIBCRYPTO
void openssl_DES_ecb3_encrypt(benchmark::State &s) {
    independent(s, [](const unsigned char *i, unsigned char *o) {
        DES_ecb3_encrypt(reinterpret_cast<const_DES_cblock *>(const_cast<unsigned char *>(i)),
                         reinterpret_cast<DES_cblock *>(o), &ok().k1, &ok().k2, &ok().k3,
                         DES_ENCRYPT);
    });
}
void openssl_DES_ecb3_decrypt(benchmark::State &s) {
    independent(s, [](const unsigned char *i, unsigned char *o) {
        DES_ecb3_encrypt(reinterpret_cast<const_DES_cblock *>(const_cast<unsigned char *>(i)),
                         reinterpret_cast<DES_cblock *>(o), &ok().k1, &ok().k2, &ok().k3,
                         DES_DECRYPT);
    });
}
#endif

// CBC encryption chains: each call's chaining value is the block before.
template <class Step> void cbc_chained(benchmark::State &state, Step step) {
    auto in = pseudo_random(chunk_bytes, 5);
    std::vector<unsigned char> out(chunk_bytes);
    const auto iv = pseudo_random(8, 6);
    for (auto _ : state) {
        const unsigned char *chain = iv.data();
        for (std::size_t i = 0; i < chunk_bytes; i += 8) {
            step(&in[i], &out[i], chain);
            chain = &out[i];
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    report(state, chunk_bytes);
}

void velk_cbc3EDEencode(benchmark::State &s) {
    cbc_chained(s, [](const unsigned char *i, unsigned char *o, const unsigned char *chain) {
        des_cbc3EDEencode(i, o, chain, ede3_keys().k1, ede3_keys().k2);
    });
}
void velk_cbc3EEEencode(benchmark::State &s) {
    cbc_chained(s, [](const unsigned char *i, unsigned char *o, const unsigned char *chain) {
        des_cbc3EEEencode(i, o, chain, ede3_keys().k1, ede3_keys().k2, ede3_keys().k3);
    });
}
#ifdef VELK_BENCH_LIBCRYPTO
// DES_ede3_cbc_encrypt with 8 bytes per call carries the chain itself.
template <int direction> void openssl_ede3_cbc_per_block(benchmark::State &state) {
    auto in = pseudo_random(chunk_bytes, 5);
    std::vector<unsigned char> out(chunk_bytes);
    const auto iv = pseudo_random(8, 6);
    for (auto _ : state) {
        DES_cblock chain;
        std::memcpy(chain, iv.data(), 8);
        for (std::size_t i = 0; i < chunk_bytes; i += 8)
            DES_ede3_cbc_encrypt(&in[i], &out[i], 8, &ok().k1, &ok().k2, &ok().k3, &chain,
                                 direction);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    report(state, chunk_bytes);
}
void openssl_DES_ede3_cbc_encrypt_per_block(benchmark::State &s) {
    openssl_ede3_cbc_per_block<DES_ENCRYPT>(s);
}
void openssl_DES_ede3_cbc_decrypt_per_block(benchmark::State &s) {
    openssl_ede3_cbc_per_block<DES_DECRYPT>(s);
}
#endif

void velk_cbc3EDEdecode(benchmark::State &s) {
    independent(s, [](const unsigned char *i, unsigned char *o) {
        des_cbc3EDEdecode(i, o, i, ede3_keys().k1, ede3_keys().k2);
    });
}
void velk_cbc3EEEdecode(benchmark::State &s) {
    independent(s, [](const unsigned char *i, unsigned char *o) {
        des_cbc3EEEdecode(i, o, i, ede3_keys().k1, ede3_keys().k2, ede3_keys().k3);
    });
}

// 8-bit feedback over 1 KiB per iteration, one triple block per byte.
constexpr std::size_t stream_bytes = 1024;

template <class Run> void stream(benchmark::State &state, Run run) {
    auto in = pseudo_random(stream_bytes, 7);
    std::vector<unsigned char> out(stream_bytes);
    auto reg = pseudo_random(8, 8);
    for (auto _ : state) {
        run(in.data(), out.data(), reg.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    report(state, stream_bytes);
}

void velk_cfb3EDEencode(benchmark::State &s) {
    stream(s, [](const unsigned char *i, unsigned char *o, unsigned char *r) {
        des_cfb3EDEencode(i, o, stream_bytes, r, ede3_keys().k1, ede3_keys().k2);
    });
}
void velk_cfb3EEEencode(benchmark::State &s) {
    stream(s, [](const unsigned char *i, unsigned char *o, unsigned char *r) {
        des_cfb3EEEencode(i, o, stream_bytes, r, ede3_keys().k1, ede3_keys().k2, ede3_keys().k3);
    });
}
void velk_ofb3EDEencode(benchmark::State &s) {
    stream(s, [](const unsigned char *i, unsigned char *o, unsigned char *r) {
        des_ofb3EDEencode(i, o, stream_bytes, r, ede3_keys().k1, ede3_keys().k2);
    });
}
void velk_ofb3EEEencode(benchmark::State &s) {
    stream(s, [](const unsigned char *i, unsigned char *o, unsigned char *r) {
        des_ofb3EEEencode(i, o, stream_bytes, r, ede3_keys().k1, ede3_keys().k2, ede3_keys().k3);
    });
}

#ifdef VELK_BENCH_LIBCRYPTO
void openssl_evp_des_ede3_cfb8(benchmark::State &state) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        &EVP_CIPHER_CTX_free);
    const auto iv = pseudo_random(8, 8);
    EVP_EncryptInit_ex(ctx.get(), EVP_des_ede3_cfb8(), nullptr, key24(), iv.data());
    stream(state, [&](const unsigned char *i, unsigned char *o, unsigned char *) {
        int n = 0;
        EVP_EncryptUpdate(ctx.get(), o, &n, i, static_cast<int>(stream_bytes));
    });
}
#endif

} // namespace

BENCHMARK(velk_ecb3EDEencode);
BENCHMARK(velk_ecb3EDEdecode);
BENCHMARK(velk_ecb3EEEencode);
BENCHMARK(velk_ecb3EEEdecode);
#ifdef VELK_BENCH_LIBCRYPTO
BENCHMARK(openssl_DES_ecb3_encrypt);
BENCHMARK(openssl_DES_ecb3_decrypt);
#endif
BENCHMARK(velk_cbc3EDEencode);
BENCHMARK(velk_cbc3EEEencode);
#ifdef VELK_BENCH_LIBCRYPTO
BENCHMARK(openssl_DES_ede3_cbc_encrypt_per_block);
#endif
BENCHMARK(velk_cbc3EDEdecode);
#ifdef VELK_BENCH_LIBCRYPTO
BENCHMARK(openssl_DES_ede3_cbc_decrypt_per_block);
#endif
BENCHMARK(velk_cbc3EEEdecode);
BENCHMARK(velk_cfb3EDEencode);
BENCHMARK(velk_cfb3EEEencode);
BENCHMARK(velk_ofb3EDEencode);
BENCHMARK(velk_ofb3EEEencode);
#ifdef VELK_BENCH_LIBCRYPTO
BENCHMARK(openssl_evp_des_ede3_cfb8);
#endif
