/* SPDX-License-Identifier: MIT */
/* velkpay.h used from plain C99, linked against the shared library: prints
 * nothing and exits 0 when known answers come out right and a refusal names
 * its cause. */
#include <stdio.h>
#include <string.h>

#include "velkpay.h"

int main(void) {
    /* The two-key check value of 0123456789ABCDEF FEDCBA9876543210. */
    static const unsigned char key[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                          0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
    static const unsigned char want_kcv[3] = {0x08, 0xd7, 0xb4};
    unsigned char kcv[3], block[16] = {0}, back[16], iv[8] = {0};
    if (velkpay_kcv(key, sizeof key, kcv, sizeof kcv) != VELKPAY_OK ||
        memcmp(kcv, want_kcv, 3) != 0) {
        fputs("wrong key check value through the shared library\n", stderr);
        return 1;
    }
    /* The first ECB block starts with the check value; CBC decryption of
     * it from a zero vector gives the zero block back. */
    if (velkpay_tdes_ecb_encrypt(block, back, sizeof block, key, sizeof key) != VELKPAY_OK ||
        memcmp(back, want_kcv, 3) != 0 ||
        velkpay_tdes_cbc_decrypt(back, back, sizeof back, iv, key, sizeof key) != VELKPAY_OK ||
        memcmp(back, block, 8) != 0) {
        fputs("triple DES failed through the shared library\n", stderr);
        return 1;
    }
    if (velkpay_tdes_ecb_encrypt(block, back, 7, key, sizeof key) != VELKPAY_E_DATA_LENGTH ||
        strcmp(velkpay_strerror(VELKPAY_E_KEY_LENGTH),
               "key has a length this function does not take") != 0) {
        fputs("a refusal is not reported as documented\n", stderr);
        return 1;
    }
    return 0;
}
