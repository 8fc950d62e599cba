// SPDX-License-Identifier: MIT
// Three-key EDE triple DES on single blocks: thin forms over the triple
// stages of the many-block library, which runs the initial and final
// permutations once per block. Every intermediate value lives in the call's
// frame, so the functions are re-entrant and keep nothing between calls.
#include "three_key_ede.hpp"

#include "ede3_bulk.hpp"

void xor8(const unsigned char a[8], const unsigned char b[8], unsigned char out[8]) {
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<unsigned char>(a[i] ^ b[i]);
}

int des_3EDEinit_3keys(const unsigned char key[24], int /*keylen*/, des_subkeys ks1,
                       des_subkeys ks2, des_subkeys ks3) {
    const int c1 = des_init(key, 8, ks1);
    const int c2 = des_init(key + 8, 8, ks2);
    const int c3 = des_init(key + 16, 8, ks3);
    return c1 | c2 | c3;
}

int des_ecb3EDEencode_3keys(const unsigned char in[8], unsigned char out[8], const des_subkeys ks1,
                            const des_subkeys ks2, const des_subkeys ks3) {
    velk::ede3_encrypt_block(in, out, ks1, ks2, ks3);
    return 0;
}

int des_ecb3EDEdecode_3keys(const unsigned char in[8], unsigned char out[8], const des_subkeys ks1,
                            const des_subkeys ks2, const des_subkeys ks3) {
    velk::ede3_decrypt_block(in, out, ks1, ks2, ks3);
    return 0;
}

int des_cbc3EDEencode_3keys(const unsigned char in[8], unsigned char out[8],
                            const unsigned char ivec[8], const des_subkeys ks1,
                            const des_subkeys ks2, const des_subkeys ks3) {
    unsigned char a[8];
    xor8(in, ivec, a);
    velk::ede3_encrypt_block(a, out, ks1, ks2, ks3);
    return 0;
}

// The chaining value is read only in the final XOR, after the input block has
// been consumed, so `out` may alias `in` or `ivec`.
void des_cbc3EDEdecode_3keys(const unsigned char in[8], unsigned char out[8],
                             const unsigned char ivec[8], const des_subkeys ks1,
                             const des_subkeys ks2, const des_subkeys ks3) {
    unsigned char a[8];
    velk::ede3_decrypt_block(in, a, ks1, ks2, ks3);
    xor8(a, ivec, out);
}
