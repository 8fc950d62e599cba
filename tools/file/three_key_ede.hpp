// SPDX-License-Identifier: MIT
// Three-key triple DES in the encrypt-decrypt-encrypt form, one 8-byte block
// per call, for velkfile. The library offers two-key EDE and three-key EEE
// but not this combination, so the program carries these few functions
// itself: the key set-up from the library's single-DES set-up, the blocks
// from the triple stages the many-block library shares with it.
//
// The 24-byte key is K1 (bytes 0-7), K2 (bytes 8-15) and K3 (bytes 16-23).
// Encryption is E_K3(D_K2(E_K1(x))); with K1 = K2 = K3 it is single DES, and
// with K1 = K3 it is two-key EDE. Schedules are always passed in the order
// 1, 2, 3; the decrypting functions apply them in reverse themselves.
#pragma once

#include "velkcore.h"

// out[i] = a[i] ^ b[i], byte by byte, so `out` may be `a` or `b`.
void xor8(const unsigned char a[8], const unsigned char b[8], unsigned char out[8]);

// Builds the schedules of K1, K2 and K3 from the 24 bytes at `key` and returns
// the OR of their key classes (0 normal, 1 weak, 2 semi-weak, so 3 can occur).
// `keylen` is accepted for symmetry with the library's set-ups and never read.
int des_3EDEinit_3keys(const unsigned char key[24], int keylen, des_subkeys ks1, des_subkeys ks2,
                       des_subkeys ks3);

// ECB on one block: E3(D2(E1(in))) and its inverse D1(E2(D3(in))). The whole
// input is read before the output is written, so `in` may be `out`.
// Return 0.
int des_ecb3EDEencode_3keys(const unsigned char in[8], unsigned char out[8], const des_subkeys ks1,
                            const des_subkeys ks2, const des_subkeys ks3);
int des_ecb3EDEdecode_3keys(const unsigned char in[8], unsigned char out[8], const des_subkeys ks1,
                            const des_subkeys ks2, const des_subkeys ks3);

// CBC on one block. Encode writes EDE3(in ^ ivec), decode writes
// ivec ^ EDE3^-1(in). `ivec` is only read: the caller carries the chain (after
// encoding, the output block; after decoding, the input block, which it must
// copy first when decoding in place). `out` may be `in` or `ivec`.
// Encode returns 0; decode returns nothing.
int des_cbc3EDEencode_3keys(const unsigned char in[8], unsigned char out[8],
                            const unsigned char ivec[8], const des_subkeys ks1,
                            const des_subkeys ks2, const des_subkeys ks3);
void des_cbc3EDEdecode_3keys(const unsigned char in[8], unsigned char out[8],
                             const unsigned char ivec[8], const des_subkeys ks1,
                             const des_subkeys ks2, const des_subkeys ks3);
