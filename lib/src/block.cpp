// Single-DES encryption and decryption of one 8-byte block.
#include "block.hpp"

namespace velk {

// All eight input bytes are loaded before the first output byte is stored,
// so input and output may overlap in any way.
void des_blockencode(const unsigned char in[8], unsigned char out[8], const des_subkeys ks) {
    std::uint32_t l = load_be32(in), r = load_be32(in + 4);
    initial_permutation(l, r);
    encrypt_rounds(l, r, ks);
    final_permutation(l, r);
    store_be32(out, r);
    store_be32(out + 4, l);
}

void des_blockdecode(const unsigned char in[8], unsigned char out[8], const des_subkeys ks) {
    std::uint32_t l = load_be32(in), r = load_be32(in + 4);
    initial_permutation(l, r);
    decrypt_rounds(l, r, ks);
    final_permutation(l, r);
    store_be32(out, r);
    store_be32(out + 4, l);
}

} // namespace velk

extern "C" {

int des_ecbencode(const unsigned char in[8], unsigned char out[8], const des_subkeys ks) {
    velk::des_blockencode(in, out, ks);
    return 0;
}

int des_ecbdecode(const unsigned char in[8], unsigned char out[8], const des_subkeys ks) {
    velk::des_blockdecode(in, out, ks);
    return 0;
}

} // extern "C"
