// SPDX-License-Identifier: MIT
// Single-DES encryption and decryption of one 8-byte block.
#include "block.hpp"

extern "C" {

// The block operations are small enough that the extra call would show, so
// the exported functions carry their own copy of the transform.
int des_ecbencode(const unsigned char in[8], unsigned char out[8], const des_subkeys ks) {
    velk::encode_block(in, out, ks);
    return 0;
}

int des_ecbdecode(const unsigned char in[8], unsigned char out[8], const des_subkeys ks) {
    velk::decode_block(in, out, ks);
    return 0;
}

} // extern "C"
