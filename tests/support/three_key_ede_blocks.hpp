// SPDX-License-Identifier: MIT
// Three-key EDE triple DES one block at a time, for the tests only: the
// programs run whole buffers through the many-block library, and these are
// the per-block forms the tests hold it to.
//
//   velk::test::ede3_encrypt_block/decrypt_block: one block through the
//   library's triple stages (the initial and final permutations once);
//   des_ecb3EDEencode_3keys and its siblings: ECB and CBC on one block in
//   the argument order of the library's mode functions, schedules always
//   passed K1, K2, K3 (the decrypting forms apply them in reverse).
#pragma once

#include <cstdint>

#include "block.hpp"
#include "triple_stages.hpp"
#include "velkcore.h"

namespace velk::test {

// E_K3(D_K2(E_K1(in))) and its inverse D_K1(E_K2(D_K3(in))). `out` may be `in`.
inline void ede3_encrypt_block(const unsigned char in[8], unsigned char out[8],
                               const std::uint32_t *k1, const std::uint32_t *k2,
                               const std::uint32_t *k3) {
    std::uint32_t hi = load_be32(in), lo = load_be32(in + 4);
    triple<Stage::encrypt, Stage::decrypt, Stage::encrypt>(hi, lo, k1, k2, k3);
    store_be32(out, hi);
    store_be32(out + 4, lo);
}

inline void ede3_decrypt_block(const unsigned char in[8], unsigned char out[8],
                               const std::uint32_t *k1, const std::uint32_t *k2,
                               const std::uint32_t *k3) {
    std::uint32_t hi = load_be32(in), lo = load_be32(in + 4);
    triple<Stage::decrypt, Stage::encrypt, Stage::decrypt>(hi, lo, k3, k2, k1);
    store_be32(out, hi);
    store_be32(out + 4, lo);
}

} // namespace velk::test

// out[i] = a[i] ^ b[i], byte by byte, so `out` may be `a` or `b`.
inline void xor8(const unsigned char a[8], const unsigned char b[8], unsigned char out[8]) {
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<unsigned char>(a[i] ^ b[i]);
}

// ECB on one block. The whole input is read before the output is written,
// so `in` may be `out`. Return 0.
inline int des_ecb3EDEencode_3keys(const unsigned char in[8], unsigned char out[8],
                                   const des_subkeys ks1, const des_subkeys ks2,
                                   const des_subkeys ks3) {
    velk::test::ede3_encrypt_block(in, out, ks1, ks2, ks3);
    return 0;
}

inline int des_ecb3EDEdecode_3keys(const unsigned char in[8], unsigned char out[8],
                                   const des_subkeys ks1, const des_subkeys ks2,
                                   const des_subkeys ks3) {
    velk::test::ede3_decrypt_block(in, out, ks1, ks2, ks3);
    return 0;
}

// CBC on one block: encode writes EDE3(in ^ ivec), decode ivec ^ EDE3^-1(in).
// `ivec` is only read, after the input block has been consumed, so `out`
// may be `in` or `ivec`; the caller carries the chain.
inline int des_cbc3EDEencode_3keys(const unsigned char in[8], unsigned char out[8],
                                   const unsigned char ivec[8], const des_subkeys ks1,
                                   const des_subkeys ks2, const des_subkeys ks3) {
    unsigned char a[8];
    xor8(in, ivec, a);
    velk::test::ede3_encrypt_block(a, out, ks1, ks2, ks3);
    return 0;
}

inline void des_cbc3EDEdecode_3keys(const unsigned char in[8], unsigned char out[8],
                                    const unsigned char ivec[8], const des_subkeys ks1,
                                    const des_subkeys ks2, const des_subkeys ks3) {
    unsigned char a[8];
    velk::test::ede3_decrypt_block(in, a, ks1, ks2, ks3);
    xor8(a, ivec, out);
}
