// The shapes of the modes, written once over a block cipher on two 32-bit
// words and shared by single DES and both triple families. Every
// intermediate block lives in the call: the library keeps no state between
// calls and may run on any number of threads at once. Internal to the library.
#pragma once

#include <cstdint>
#include <utility>

#include "block.hpp"

namespace velk {

// A cipher here is a callable that transforms the 64-bit block hi || lo in
// place, hi holding bytes 0-3 and lo bytes 4-7 as load_be32 reads them.

// Single-DES encryption and decryption of the loaded block, as in
// des_blockencode: final_permutation leaves the output's bytes 0-3 in r and
// bytes 4-7 in l, so the two words change places on the way out.
struct SingleEncrypt {
    const std::uint32_t *ks;
    void operator()(std::uint32_t &hi, std::uint32_t &lo) const {
        initial_permutation(hi, lo);
        encrypt_rounds(hi, lo, ks);
        final_permutation(hi, lo);
        std::swap(hi, lo);
    }
};

struct SingleDecrypt {
    const std::uint32_t *ks;
    void operator()(std::uint32_t &hi, std::uint32_t &lo) const {
        initial_permutation(hi, lo);
        decrypt_rounds(hi, lo, ks);
        final_permutation(hi, lo);
        std::swap(hi, lo);
    }
};

// CBC on one block. All of input and chaining value is read before the
// output is written, so the output may be either of them.
template <class Cipher>
inline void cbc_encode(const unsigned char in[8], unsigned char out[8], const unsigned char iv[8],
                       Cipher cipher) {
    std::uint32_t hi = load_be32(in) ^ load_be32(iv);
    std::uint32_t lo = load_be32(in + 4) ^ load_be32(iv + 4);
    cipher(hi, lo);
    store_be32(out, hi);
    store_be32(out + 4, lo);
}

template <class Cipher>
inline void cbc_decode(const unsigned char in[8], unsigned char out[8], const unsigned char iv[8],
                       Cipher cipher) {
    std::uint32_t hi = load_be32(in), lo = load_be32(in + 4);
    const std::uint32_t iv_hi = load_be32(iv), iv_lo = load_be32(iv + 4);
    cipher(hi, lo);
    store_be32(out, hi ^ iv_hi);
    store_be32(out + 4, lo ^ iv_lo);
}

// Which byte enters the register after each step of the 8-bit feedback.
enum class Feedback { produced, consumed, keystream };

// 8-bit CFB and OFB: each data byte is XORed with the first byte of the
// encrypted register, which then shifts one byte left and takes in the
// feedback byte. The register is held as two words for the whole run and
// written back once; with no data it is neither read nor written.
template <Feedback feedback, class Cipher>
inline void feedback8(const unsigned char *in, unsigned char *out, std::uint32_t length,
                      unsigned char reg[8], Cipher encrypt) {
    if (length == 0)
        return;
    std::uint32_t hi = load_be32(reg), lo = load_be32(reg + 4);
    for (std::uint32_t i = 0; i < length; ++i) {
        std::uint32_t t_hi = hi, t_lo = lo;
        encrypt(t_hi, t_lo);
        const std::uint32_t key_byte = t_hi >> 24;
        const std::uint32_t x = in[i];
        const std::uint32_t y = x ^ key_byte;
        out[i] = static_cast<unsigned char>(y);
        const std::uint32_t enter = feedback == Feedback::produced   ? y
                                    : feedback == Feedback::consumed ? x
                                                                     : key_byte;
        hi = hi << 8 | lo >> 24;
        lo = lo << 8 | enter;
    }
    store_be32(reg, hi);
    store_be32(reg + 4, lo);
}

} // namespace velk
