/* SPDX-License-Identifier: MIT */
/* The public header used from plain C99, linked against the shared library:
 * prints nothing and exits 0 when a known answer comes out right. */
#include <stdio.h>
#include <string.h>

#include "velkcore.h"

int main(void) {
    static const unsigned char key[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    static const unsigned char in[8] = {'N', 'o', 'w', ' ', 'i', 's', ' ', 't'};
    static const unsigned char want[8] = {0x3f, 0xa4, 0x0e, 0x8a, 0x98, 0x4d, 0x48, 0x15};
    des_subkeys ks;
    unsigned char out[8], back[8];
    if (des_init(key, 8, ks) != DES_KEY_NORMAL) return 1;
    des_ecbencode(in, out, ks);
    des_ecbdecode(out, back, ks);
    if (memcmp(out, want, 8) != 0 || memcmp(back, in, 8) != 0) {
        fputs("wrong ciphertext through the shared library\n", stderr);
        return 1;
    }
    return 0;
}
