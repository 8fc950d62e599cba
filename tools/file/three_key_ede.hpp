// SPDX-License-Identifier: MIT
// The key set-up of three-key triple DES in the encrypt-decrypt-encrypt
// form, for velkfile. The C library offers two-key EDE and three-key EEE but
// not this combination; its C++ layer's Ede3Schedule builds it from the
// single-DES set-up, and this hands its schedules over in the C form. The
// blocks run through the many-block library (ede3_bulk.hpp).
//
// The 24-byte key is K1 (bytes 0-7), K2 (bytes 8-15) and K3 (bytes 16-23).
// Encryption is E_K3(D_K2(E_K1(x))); with K1 = K2 = K3 it is single DES, and
// with K1 = K3 it is two-key EDE.
#pragma once

#include "velkcore.h"

// Builds the schedules of K1, K2 and K3 from the 24 bytes at `key` and returns
// the OR of their key classes (0 normal, 1 weak, 2 semi-weak, so 3 can occur).
// `keylen` is accepted for symmetry with the library's set-ups and never read.
int des_3EDEinit_3keys(const unsigned char key[24], int keylen, des_subkeys ks1, des_subkeys ks2,
                       des_subkeys ks3);
