// SPDX-License-Identifier: MIT
// velkkey: the DES variable-key known-answer check. It encrypts the all-zero
// plaintext under the 64 keys that have exactly one bit set, parity bits
// included, prints each key with its ciphertext, and checks that decryption
// under the same key gives the zero block back. Arguments are ignored; the
// exit status is 0 when all 64 vectors pass and 1 at the first that does not.
//
// No parity is added to the keys. The eight that set only a parity bit
// (I = 8, 16, ..., 64) therefore act as the all-zero key, and the other 56
// match the published variable-key table, whose row n is vector
// I = n + (n - 1) / 7 here.
#include "sweep.hpp"

// The schedule of the current vector's key.
des_subkeys ks;

int main() {
    return velk::kat::run_sweep(velk::kat::Varying::key, ks, des_ecbencode, des_ecbdecode, stdout);
}
