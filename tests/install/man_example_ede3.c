/* SPDX-License-Identifier: MIT */
/* Drives the three-key EDE functions of velkcore(3)'s example, which
 * man_example.cmake cuts out of the page: the NIST SP 800-67 sample in ECB,
 * the same message in CBC against OpenSSL's des-ede3-cbc, and both decoders
 * back, in place. Prints what differs and exits 1, or exits 0. */
#include <stdio.h>
#include <string.h>

#include <velkcore.h>

#include "ede3_example.h"

static int differs(const char *what, const unsigned char *got, const unsigned char *want) {
    int i;
    if (memcmp(got, want, 24) == 0) return 0;
    printf("%s:", what);
    for (i = 0; i < 24; ++i) printf(" %02x", got[i]);
    printf("\n");
    return 1;
}

int main(void) {
    static const unsigned char key[24] = {
        0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x23, 0x45, 0x67, 0x89,
        0xab, 0xcd, 0xef, 0x01, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x23};
    static const unsigned char iv[8] = {0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef};
    static const unsigned char text[25] = "The qufck brown fox jump";
    static const unsigned char ecb[24] = {
        0xa8, 0x26, 0xfd, 0x8c, 0xe5, 0x3b, 0x85, 0x5f, 0xcc, 0xe2, 0x1c, 0x81,
        0x12, 0x25, 0x6f, 0xe6, 0x68, 0xd5, 0xc0, 0x5d, 0xd9, 0xb6, 0xb9, 0x00};
    static const unsigned char cbc[24] = {
        0x38, 0x41, 0x3d, 0x4b, 0xa2, 0x32, 0x5c, 0xf1, 0x14, 0x1f, 0x70, 0x74,
        0x71, 0xac, 0x2c, 0xed, 0x57, 0xdb, 0x53, 0x0f, 0x01, 0x23, 0xb5, 0xac};
    des_subkeys ks1, ks2, ks3;
    unsigned char buf[24], chain[8], next[8];
    int i, bad = 0;

    if (ede3_init(key, ks1, ks2, ks3) != DES_KEY_NORMAL) return 1;
    memcpy(buf, text, 24);
    for (i = 0; i < 24; i += 8) ede3_ecbencode(buf + i, buf + i, ks1, ks2, ks3);
    bad |= differs("ECB", buf, ecb);
    for (i = 0; i < 24; i += 8) ede3_ecbdecode(buf + i, buf + i, ks1, ks2, ks3);
    bad |= differs("ECB back", buf, text);

    memcpy(buf, text, 24);
    memcpy(chain, iv, 8);
    for (i = 0; i < 24; i += 8) {
        ede3_cbcencode(buf + i, buf + i, chain, ks1, ks2, ks3);
        memcpy(chain, buf + i, 8);
    }
    bad |= differs("CBC", buf, cbc);
    memcpy(chain, iv, 8);
    for (i = 0; i < 24; i += 8) {
        memcpy(next, buf + i, 8);
        ede3_cbcdecode(buf + i, buf + i, chain, ks1, ks2, ks3);
        memcpy(chain, next, 8);
    }
    bad |= differs("CBC back", buf, text);
    return bad;
}
