/* SPDX-License-Identifier: MIT */
/* A C99 program built against the installed tree through pkg-config. It
 * prints the FIPS 81 sample ciphertexts, the SP 800-67 three-key EDE sample
 * built from the single-DES functions as velkcore(3) shows it, and the
 * header's version, which the test compares. */
#include <stdio.h>

#include <velkcore.h>

static void print_hex(const char *label, const unsigned char *p, size_t n) {
    size_t i;
    printf("%s ", label);
    for (i = 0; i < n; ++i) printf("%02x", p[i]);
    printf("\n");
}

/* E3(D2(E1(in))); the first call reads all of `in` before it writes `out`. */
static void ede3_encrypt(const unsigned char in[8], unsigned char out[8], const des_subkeys ks1,
                         const des_subkeys ks2, const des_subkeys ks3) {
    des_ecbencode(in, out, ks1);
    des_ecbdecode(out, out, ks2);
    des_ecbencode(out, out, ks3);
}

/* CBC: E3(D2(E1(in XOR chain))), single-DES CBC doing the first stage. */
static void ede3_cbc_encrypt(const unsigned char in[8], unsigned char out[8],
                             const unsigned char chain[8], const des_subkeys ks1,
                             const des_subkeys ks2, const des_subkeys ks3) {
    des_cbcencode(in, out, chain, ks1);
    des_ecbdecode(out, out, ks2);
    des_ecbencode(out, out, ks3);
}

int main(void) {
    static const unsigned char key[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    static const unsigned char iv[8] = {0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef};
    static const unsigned char text[25] = "Now is the time for all ";
    static const unsigned char key24[24] = {
        0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x23, 0x45, 0x67, 0x89,
        0xab, 0xcd, 0xef, 0x01, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x23};
    static const unsigned char text3[25] = "The qufck brown fox jump";
    const unsigned char *chain = iv;
    unsigned char out[24];
    des_subkeys ks, ks1, ks2, ks3;
    size_t i;

    if (des_init(key, 8, ks) != DES_KEY_NORMAL) return 1;
    for (i = 0; i < 24; i += 8) des_ecbencode(text + i, out + i, ks);
    print_hex("ecb", out, 24);
    for (i = 0; i < 24; i += 8) {
        des_cbcencode(text + i, out + i, chain, ks);
        chain = out + i;
    }
    print_hex("cbc", out, 24);

    if ((des_init(key24, 8, ks1) | des_init(key24 + 8, 8, ks2) | des_init(key24 + 16, 8, ks3)) !=
        DES_KEY_NORMAL)
        return 1;
    for (i = 0; i < 24; i += 8) ede3_encrypt(text3 + i, out + i, ks1, ks2, ks3);
    print_hex("ede3-ecb", out, 24);
    chain = iv;
    for (i = 0; i < 24; i += 8) {
        ede3_cbc_encrypt(text3 + i, out + i, chain, ks1, ks2, ks3);
        chain = out + i;
    }
    print_hex("ede3-cbc", out, 24);
    printf("version %s %d.%d.%d\n", VELKCORE_VERSION_STRING, VELKCORE_VERSION_MAJOR,
           VELKCORE_VERSION_MINOR, VELKCORE_VERSION_PATCH);
    return 0;
}
