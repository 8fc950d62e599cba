/* A C99 program built against the installed tree through pkg-config. It
 * prints the FIPS 81 sample ciphertexts that the test compares. */
#include <stdio.h>

#include <velkcore.h>

static void print_hex(const char *label, const unsigned char *p, size_t n) {
    size_t i;
    printf("%s ", label);
    for (i = 0; i < n; ++i) printf("%02x", p[i]);
    printf("\n");
}

int main(void) {
    static const unsigned char key[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    static const unsigned char iv[8] = {0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef};
    static const unsigned char text[25] = "Now is the time for all ";
    const unsigned char *chain = iv;
    unsigned char out[24];
    des_subkeys ks;
    size_t i;

    if (des_init(key, 8, ks) != DES_KEY_NORMAL) return 1;
    for (i = 0; i < 24; i += 8) des_ecbencode(text + i, out + i, ks);
    print_hex("ecb", out, 24);
    for (i = 0; i < 24; i += 8) {
        des_cbcencode(text + i, out + i, chain, ks);
        chain = out + i;
    }
    print_hex("cbc", out, 24);
    return 0;
}
