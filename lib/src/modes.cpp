// SPDX-License-Identifier: MIT
// Single-DES CBC, 8-bit CFB and 8-bit OFB.
#include "modes.hpp"

using velk::Feedback;

extern "C" {

int des_cbcencode(const unsigned char in[8], unsigned char out[8], const unsigned char ivec[8],
                  const des_subkeys ks) {
    velk::cbc_encode(in, out, ivec, velk::SingleEncrypt{ks});
    return 0;
}

int des_cbcdecode(const unsigned char in[8], unsigned char out[8], const unsigned char ivec[8],
                  const des_subkeys ks) {
    velk::cbc_decode(in, out, ivec, velk::SingleDecrypt{ks});
    return 0;
}

int des_cfbencode(const unsigned char *in, unsigned char *out, uint32_t length,
                  unsigned char reg[8], const des_subkeys ks) {
    velk::feedback8<Feedback::produced>(in, out, length, reg, velk::SingleEncrypt{ks});
    return 0;
}

int des_cfbdecode(const unsigned char *in, unsigned char *out, uint32_t length,
                  unsigned char reg[8], const des_subkeys ks) {
    velk::feedback8<Feedback::consumed>(in, out, length, reg, velk::SingleEncrypt{ks});
    return 0;
}

int des_ofbencode(const unsigned char *in, unsigned char *out, uint32_t length,
                  unsigned char reg[8], const des_subkeys ks) {
    velk::feedback8<Feedback::keystream>(in, out, length, reg, velk::SingleEncrypt{ks});
    return 0;
}

int des_ofbdecode(const unsigned char *in, unsigned char *out, uint32_t length,
                  unsigned char reg[8], const des_subkeys ks) {
    velk::feedback8<Feedback::keystream>(in, out, length, reg, velk::SingleEncrypt{ks});
    return 0;
}

} // extern "C"
