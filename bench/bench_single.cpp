// SPDX-License-Identifier: MIT
// Single DES, one 8-byte block per call: independent blocks (the processor may
// overlap consecutive calls) and chained blocks (each block the previous
// output, so only the latency of one block counts).
#include "bench_common.hpp"
#include "velkcore.h"

namespace {

using namespace velk::bench;

const des_subkeys &velk_schedule() {
    static const struct Schedule {
        des_subkeys ks;
        Schedule() { des_init(key24(), 8, ks); }
    } s;
    return s.ks;
}

void velk_ecb_independent(benchmark::State &s) {
    independent(s, [](const unsigned char *i, unsigned char *o) {
        des_ecbencode(i, o, velk_schedule());
    });
}
void velk_ecb_decode_independent(benchmark::State &s) {
    independent(s, [](const unsigned char *i, unsigned char *o) {
        des_ecbdecode(i, o, velk_schedule());
    });
}
void velk_ecb_chained(benchmark::State &s) {
    chained(s, [](const unsigned char *i, unsigned char *o) {
        des_ecbencode(i, o, velk_schedule());
    });
}

#ifdef VELK_BENCH_LIBCRYPTO
DES_key_schedule &openssl_ks() {
    // Only read, though DES_ecb_encrypt's signature does not say so.
    static DES_key_schedule ks = openssl_schedule(key24());
    return ks;
}

// The same steps through DES_ecb_encrypt, in the given direction.
template <int direction> void openssl_step(const unsigned char *i, unsigned char *o) {
    DES_ecb_encrypt(reinterpret_cast<const_DES_cblock *>(const_cast<unsigned char *>(i)),
                    reinterpret_cast<DES_cblock *>(o), &openssl_ks(), direction);
}

void openssl_ecb_independent(benchmark::State &s) { independent(s, openssl_step<DES_ENCRYPT>); }
void openssl_ecb_decode_independent(benchmark::State &s) {
    independent(s, openssl_step<DES_DECRYPT>);
}
void openssl_ecb_chained(benchmark::State &s) { chained(s, openssl_step<DES_ENCRYPT>); }
#endif

} // namespace

BENCHMARK(velk_ecb_independent);
BENCHMARK(velk_ecb_decode_independent);
BENCHMARK(velk_ecb_chained);
#ifdef VELK_BENCH_LIBCRYPTO
BENCHMARK(openssl_ecb_independent);
BENCHMARK(openssl_ecb_decode_independent);
BENCHMARK(openssl_ecb_chained);
#endif
