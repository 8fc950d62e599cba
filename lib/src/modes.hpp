// SPDX-License-Identifier: MIT
// The shapes of the modes, written once over a block cipher on two 32-bit
// words and shared by single DES and both triple families. Every
// intermediate block lives in the call: the library keeps no state between
// calls and may run on any number of threads at once. Internal to the library.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "block.hpp"

namespace velk {

// A cipher here is a callable that transforms the 64-bit block hi || lo in
// place, hi holding bytes 0-3 and lo bytes 4-7 as load_be32 reads them.

// Single-DES encryption and decryption of the loaded block, as in
// des_ecbencode: final_permutation leaves the output's bytes 0-3 in r and
// bytes 4-7 in l, so the two words change places on the way out.
struct SingleEncrypt {
    const std::uint32_t *ks;
    [[gnu::always_inline]] void operator()(std::uint32_t &hi, std::uint32_t &lo) const {
        std::uint64_t l, r;
        permute_in(hi, lo, l, r);
        wide_rounds<true>(l, r, ks);
        permute_out(l, r, hi, lo);
    }
    // The rounds alone, between IP and IP^-1, for the feedback modes.
    [[gnu::always_inline]] void rounds(std::uint32_t &l, std::uint32_t &r) const { encrypt_rounds(l, r, ks); }
};

struct SingleDecrypt {
    const std::uint32_t *ks;
    [[gnu::always_inline]] void operator()(std::uint32_t &hi, std::uint32_t &lo) const {
        std::uint64_t l, r;
        permute_in(hi, lo, l, r);
        wide_rounds<false>(l, r, ks);
        permute_out(l, r, hi, lo);
    }
};

// CBC on one block. All of input and chaining value is read before the
// output is written, so the output may be either of them.
template <class Cipher>
[[gnu::always_inline]] inline void cbc_encode(const unsigned char in[8], unsigned char out[8], const unsigned char iv[8],
                       Cipher cipher) {
    std::uint32_t hi = load_be32(in) ^ load_be32(iv);
    std::uint32_t lo = load_be32(in + 4) ^ load_be32(iv + 4);
    cipher(hi, lo);
    store_be32(out, hi);
    store_be32(out + 4, lo);
}

template <class Cipher>
[[gnu::always_inline]] inline void cbc_decode(const unsigned char in[8], unsigned char out[8], const unsigned char iv[8],
                       Cipher cipher) {
    std::uint32_t hi = load_be32(in), lo = load_be32(in + 4);
    const std::uint32_t iv_hi = load_be32(iv), iv_lo = load_be32(iv + 4);
    cipher(hi, lo);
    store_be32(out, hi ^ iv_hi);
    store_be32(out + 4, lo ^ iv_lo);
}

// Which byte enters the register after each step of the 8-bit feedback.
enum class Feedback { produced, consumed, keystream };

// The 8-bit feedback modes keep their register in the form the rounds work
// on (after IP, halves rotated left by one) and never run the full
// permutations inside the loop. Both are linear bit permutations, so:
// - Shifting the register one byte left moves every bit of IP(register) one
//   place towards the low end of its byte, dropping the old low bits; in the
//   rotated halves that is rotr(h, 1) AND 0xFEFEFEFE. The entering byte adds
//   IP of a register holding only that byte as its last, from a table.
// - The keystream byte is only the first byte of IP^-1's output: the XOR of
//   what each byte of the two halves contributes to it, from a table.
// Both tables come from the permutation networks themselves at compile time.
struct HalvesPair {
    std::uint32_t l, r;
};

constexpr HalvesPair ip_of_last_byte(unsigned v) {
    std::uint32_t l = 0, r = v;
    initial_permutation(l, r);
    return {l, r};
}

inline constexpr auto ip_last_byte = [] {
    std::array<HalvesPair, 256> t{};
    for (unsigned v = 0; v < 256; ++v)
        t[v] = ip_of_last_byte(v);
    return t;
}();

// First output byte of IP^-1 when byte k of l || r (k = 0 the top of l) is v
// and every other byte is 0.
constexpr std::uint8_t first_byte_from(unsigned k, unsigned v) {
    std::uint32_t l = k < 4 ? v << (24 - 8 * k) : 0, r = k < 4 ? 0 : v << (56 - 8 * k);
    final_permutation(l, r);
    return static_cast<std::uint8_t>(r >> 24);
}

inline constexpr auto fp_first_byte = [] {
    std::array<std::array<std::uint8_t, 256>, 8> t{};
    for (unsigned k = 0; k < 8; ++k)
        for (unsigned v = 0; v < 256; ++v)
            t[k][v] = first_byte_from(k, v);
    return t;
}();

inline std::uint32_t first_output_byte(std::uint32_t l, std::uint32_t r) {
#ifdef VELK_CONSTANT_TIME
    final_permutation(l, r); // the whole network, no look-up
    return r >> 24;
#endif
    const auto &t = fp_first_byte;
    return static_cast<std::uint32_t>((t[0][l >> 24] ^ t[1][(l >> 16) & 255]) ^
                                      (t[2][(l >> 8) & 255] ^ t[3][l & 255])) ^
           static_cast<std::uint32_t>((t[4][r >> 24] ^ t[5][(r >> 16) & 255]) ^
                                      (t[6][(r >> 8) & 255] ^ t[7][r & 255]));
}

// IP(register << 8 | v) from IP(register), in the rotated halves.
inline void shift_in(std::uint32_t &l, std::uint32_t &r, std::uint32_t v) {
#ifdef VELK_CONSTANT_TIME
    const HalvesPair e = ip_of_last_byte(v); // the network, no look-up
#else
    const HalvesPair e = ip_last_byte[v];
#endif
    l = (rotr(l, 1) & 0xFEFEFEFEu) ^ e.l;
    r = (rotr(r, 1) & 0xFEFEFEFEu) ^ e.r;
}

namespace feedback_checks {
// The shift rule holds for every single-bit register, so by linearity for
// every register.
constexpr bool shift_rule_holds() {
    for (unsigned bit = 0; bit < 64; ++bit) {
        const std::uint64_t reg = std::uint64_t{1} << bit;
        std::uint32_t l = static_cast<std::uint32_t>(reg >> 32),
                      r = static_cast<std::uint32_t>(reg);
        initial_permutation(l, r);
        const std::uint64_t shifted = reg << 8;
        std::uint32_t sl = static_cast<std::uint32_t>(shifted >> 32),
                      sr = static_cast<std::uint32_t>(shifted);
        initial_permutation(sl, sr);
        if (sl != (rotr(l, 1) & 0xFEFEFEFEu) || sr != (rotr(r, 1) & 0xFEFEFEFEu))
            return false;
    }
    return true;
}
static_assert(shift_rule_holds());

// The first-byte table equals the whole IP^-1 for every single-bit input.
constexpr bool first_byte_rule_holds() {
    for (unsigned bit = 0; bit < 64; ++bit) {
        std::uint32_t l = bit < 32 ? 1u << (31 - bit) : 0, r = bit < 32 ? 0 : 1u << (63 - bit);
        const unsigned k = bit / 8, v = 0x80u >> (bit % 8);
        std::uint32_t fl = l, fr = r;
        final_permutation(fl, fr);
        if ((fr >> 24) != fp_first_byte[k][v])
            return false;
    }
    return true;
}
static_assert(first_byte_rule_holds());
} // namespace feedback_checks

// 8-bit CFB and OFB: each data byte is XORed with the first byte of the
// encrypted register, which then shifts one byte left and takes in the
// feedback byte. The register is held as two words (and in the rounds' form)
// for the whole run and written back once; with no data it is neither read
// nor written.
template <Feedback feedback, class Cipher>
inline void feedback8(const unsigned char *in, unsigned char *out, std::uint32_t length,
                      unsigned char reg[8], Cipher encrypt) {
    if (length == 0)
        return;
    std::uint32_t hi = load_be32(reg), lo = load_be32(reg + 4);
    std::uint32_t l = hi, r = lo;
    initial_permutation(l, r);
    for (std::uint32_t i = 0; i < length; ++i) {
        std::uint32_t t_l = l, t_r = r;
        encrypt.rounds(t_l, t_r);
        const std::uint32_t key_byte = first_output_byte(t_l, t_r);
        const std::uint32_t x = in[i];
        const std::uint32_t y = x ^ key_byte;
        out[i] = static_cast<unsigned char>(y);
        const std::uint32_t enter = feedback == Feedback::produced   ? y
                                    : feedback == Feedback::consumed ? x
                                                                     : key_byte;
        hi = hi << 8 | lo >> 24;
        lo = lo << 8 | enter;
        shift_in(l, r, enter);
    }
    store_be32(reg, hi);
    store_be32(reg + 4, lo);
}

} // namespace velk
