// SPDX-License-Identifier: MIT
// The three-key EDE key set-up: three single-DES set-ups.
#include "three_key_ede.hpp"

int des_3EDEinit_3keys(const unsigned char key[24], int /*keylen*/, des_subkeys ks1,
                       des_subkeys ks2, des_subkeys ks3) {
    const int c1 = des_init(key, 8, ks1);
    const int c2 = des_init(key + 8, 8, ks2);
    const int c3 = des_init(key + 16, 8, ks3);
    return c1 | c2 | c3;
}
