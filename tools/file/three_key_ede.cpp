// Three-key EDE triple DES on single blocks, from the library's single-DES
// calls. The two intermediate blocks live in each call's frame, so the block
// functions are re-entrant and keep nothing between calls.
#include "three_key_ede.hpp"

void xor8(const unsigned char a[8], const unsigned char b[8], unsigned char out[8]) {
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<unsigned char>(a[i] ^ b[i]);
}

int des_3EDEinit_3keys(const unsigned char key[24], int /*keylen*/, des_subkeys ks1,
                       des_subkeys ks2, des_subkeys ks3) {
    const int c1 = des_init(key, 8, ks1);
    const int c2 = des_init(key + 8, 8, ks2);
    const int c3 = des_init(key + 16, 8, ks3);
    return c1 | c2 | c3;
}

int des_ecb3EDEencode_3keys(const unsigned char in[8], unsigned char out[8], const des_subkeys ks1,
                            const des_subkeys ks2, const des_subkeys ks3) {
    unsigned char a[8], b[8];
    des_ecbencode(in, a, ks1);
    des_ecbdecode(a, b, ks2);
    des_ecbencode(b, out, ks3);
    return 0;
}

int des_ecb3EDEdecode_3keys(const unsigned char in[8], unsigned char out[8], const des_subkeys ks1,
                            const des_subkeys ks2, const des_subkeys ks3) {
    unsigned char a[8], b[8];
    des_ecbdecode(in, a, ks3);
    des_ecbencode(a, b, ks2);
    des_ecbdecode(b, out, ks1);
    return 0;
}

int des_cbc3EDEencode_3keys(const unsigned char in[8], unsigned char out[8],
                            const unsigned char ivec[8], const des_subkeys ks1,
                            const des_subkeys ks2, const des_subkeys ks3) {
    unsigned char a[8], b[8];
    xor8(in, ivec, a);
    des_ecbencode(a, b, ks1);
    des_ecbdecode(b, a, ks2);
    des_ecbencode(a, out, ks3);
    return 0;
}

// The chaining value is read only in the final XOR, after the input block has
// been consumed, so `out` may alias `in` or `ivec`.
void des_cbc3EDEdecode_3keys(const unsigned char in[8], unsigned char out[8],
                             const unsigned char ivec[8], const des_subkeys ks1,
                             const des_subkeys ks2, const des_subkeys ks3) {
    unsigned char a[8], b[8];
    des_ecbdecode(in, a, ks3);
    des_ecbencode(a, b, ks2);
    des_ecbdecode(b, a, ks1);
    xor8(a, ivec, out);
}
